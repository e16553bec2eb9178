// What the engine asks of the system it runs on: the processors it may use,
// the memory it may fill and the cache a step should fit. Linux answers all
// of them; elsewhere (another system, WebAssembly) each has a fallback that
// changes only how the work is shared or refused, never a bit of a result.
#pragma once

#include <cstddef>

// The processors this program may run on (its affinity, which taskset and
// containers narrow), else all the machine has; at least 1.
unsigned UsableProcessors();

// Whether std::thread can start threads here. Without (WebAssembly built
// without threads) the engine keeps every step on the calling thread.
bool ThreadsAvailable();

// The machine's physical memory, or the largest size_t where the system
// does not say (no limit of ours then).
std::size_t PhysicalMemoryBytes();

// What the system could still hand out without swapping ("MemAvailable"),
// or the largest size_t where it does not say.
std::size_t AvailableMemoryBytes();

// What the last-level cache holds in practice: the size the system gives, at
// most 32 MiB (where it says more, as virtual machines do for a share of a
// large cache, streaming beyond 32 MiB measured at main memory's speed);
// 32 MiB where it does not say.
std::size_t LastLevelCacheBytes();
