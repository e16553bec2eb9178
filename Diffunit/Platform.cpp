#include "Diffunit/Platform.h"

#include <algorithm>
#include <cstdio>
#include <limits>
#include <thread>

// Linux (glibc, any processor) has the affinity mask, sysconf's page counts
// and /proc/meminfo; Emscripten's libc imitates some of them with made-up
// values, so WebAssembly takes the fallbacks.
#if defined(__linux__) && !defined(__EMSCRIPTEN__)
#define KELVANE_LINUX_PLATFORM 1
#include <sched.h>
#include <unistd.h>
#endif

namespace {
constexpr std::size_t NoLimit = std::numeric_limits<std::size_t>::max();
constexpr std::size_t MostCacheBytes = std::size_t{32} << 20;
}  // namespace

unsigned UsableProcessors() {
#ifdef KELVANE_LINUX_PLATFORM
  cpu_set_t set;
  if (sched_getaffinity(0, sizeof set, &set) == 0 && CPU_COUNT(&set) > 0)
    return static_cast<unsigned>(CPU_COUNT(&set));
#endif
  if (!ThreadsAvailable()) return 1;
  return std::max(std::thread::hardware_concurrency(), 1u);
}

bool ThreadsAvailable() {
#if defined(__EMSCRIPTEN__) && !defined(__EMSCRIPTEN_PTHREADS__)
  return false;
#else
  return true;
#endif
}

std::size_t PhysicalMemoryBytes() {
#ifdef KELVANE_LINUX_PLATFORM
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGE_SIZE);
  if (pages > 0 && pageSize > 0)
    return static_cast<std::size_t>(pages) * static_cast<std::size_t>(pageSize);
#endif
  return NoLimit;
}

std::size_t AvailableMemoryBytes() {
#ifdef KELVANE_LINUX_PLATFORM
  std::FILE* meminfo = std::fopen("/proc/meminfo", "r");
  if (!meminfo) return NoLimit;
  char line[256];
  unsigned long long kib = 0;
  bool found = false;
  while (!found && std::fgets(line, sizeof line, meminfo))
    found = std::sscanf(line, "MemAvailable: %llu kB", &kib) == 1;
  std::fclose(meminfo);
  if (found) return static_cast<std::size_t>(kib) * 1024;
#endif
  return NoLimit;
}

std::size_t LastLevelCacheBytes() {
#if defined(KELVANE_LINUX_PLATFORM) && defined(_SC_LEVEL3_CACHE_SIZE) && \
    defined(_SC_LEVEL2_CACHE_SIZE)
  for (int name : {_SC_LEVEL3_CACHE_SIZE, _SC_LEVEL2_CACHE_SIZE}) {
    const long bytes = sysconf(name);
    if (bytes > 0) return std::min(static_cast<std::size_t>(bytes), MostCacheBytes);
  }
#endif
  return MostCacheBytes;
}
