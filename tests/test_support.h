// Helpers shared by the tests. Plain C++: no Qt here.
#pragma once

#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Statg/Statg.h"

// The state after `draws` draws from `state`.
inline std::int32_t Advanced(std::int32_t state, int draws) {
  for (int k = 0; k < draws; ++k) NextUniform(state);
  return state;
}

// The state whose next draw leaves `target` (target < 2^31): target times the
// inverse of 16807 modulo 2^31.
inline std::int32_t StateBefore(std::int32_t target) {
  std::uint32_t inverse = 1;  // Newton's iteration for the inverse modulo 2^32
  for (int k = 0; k < 5; ++k) inverse *= 2u - UniformMultiplier * inverse;
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(target) * inverse) & StateMask);
}

// Appends a species with hand-placed molecules to `volume`: all active, no
// spare slots, step width `sigma` [m].
inline TSpecies& HandPlaced(TVolume& volume, std::vector<TMolCoord> molecules, double sigma = 0.0) {
  volume.Species.emplace_back();
  TSpecies& s = volume.Species.back();
  s.Volume = &volume;
  s.Sigma = sigma;
  s.Molecules = std::move(molecules);
  s.SlotCount = s.ShellCount = static_cast<std::int32_t>(s.Molecules.size());
  s.ActiveCount = s.OutsideCount = s.SlotCount;
  return s;
}

// One step report, compared bit for bit.
struct TReport {
  std::int32_t insideCount;
  std::int32_t innerCountTotal;
  double insideConcentration;
  double totalConcentration;
  double time;
  bool operator==(const TReport& o) const { return std::memcmp(this, &o, sizeof *this) == 0; }
};

// Keeps every report of the engine it is set on.
struct TRecorder {
  std::vector<TReport> Reports;
  TStepCallback Callback() {
    return [this](std::int32_t n, std::int32_t total, double c, double ctotal, double t) {
      Reports.push_back({n, total, c, ctotal, t});
    };
  }
};

// ---------------------------------------------------------------------------
// Files

// The whole content of `name`, or "" when it cannot be read.
inline std::string ReadFile(const char* name) {
  std::ifstream file(name, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
}

inline void WriteFile(const char* name, const std::string& bytes) {
  std::ofstream(name, std::ios::binary) << bytes;
}

// A session file of one small species (7200 molecules) with the inner rib
// `b1` (line 5) and the time step `dt` (line 6), as Save session writes it.
inline std::string SessionWith(const char* b1, const char* dt) {
  return std::string("format = 1\n\n[simulation]\nSIM_B0 = '1E-5'\nSIM_B1 = '") + b1 +
         "'\nSIM_DT = '" + dt +
         "'\nSIM_Q = '0.001'\nSIM_T = '293.15'\n\n[[species]]\nSP_A = '1.5E-9'\n"
         "SP_C = '7.2E18'\nSP_D = '1.43E-10'\n";
}

// A fresh empty directory that is the working directory for the life of the
// object; the previous one is restored and the directory removed after.
class TWorkDir {
 public:
  TWorkDir() {
    char pattern[] = "/tmp/kelvane-test.XXXXXX";
    if (!mkdtemp(pattern) || !getcwd(Previous, sizeof Previous) || chdir(pattern) != 0)
      std::abort();
    Path = pattern;
  }
  ~TWorkDir() {
    if (chdir(Previous) != 0) std::abort();
    std::filesystem::permissions(Path, std::filesystem::perms::owner_all);
    std::error_code ignored;
    std::filesystem::remove_all(Path, ignored);
  }
  TWorkDir(const TWorkDir&) = delete;
  TWorkDir& operator=(const TWorkDir&) = delete;

 private:
  std::string Path;
  char Previous[4096];
};

// Drops root's right to write anything for the life of the object, so that
// file permissions count in a test as they do for a user.
class TUnprivileged {
 public:
  TUnprivileged() : Dropped(geteuid() == 0 && seteuid(65534) == 0) {}
  ~TUnprivileged() {
    if (Dropped && seteuid(0) != 0) std::abort();
  }
  TUnprivileged(const TUnprivileged&) = delete;
  TUnprivileged& operator=(const TUnprivileged&) = delete;
  bool Effective() const { return geteuid() != 0; }

 private:
  bool Dropped;
};
