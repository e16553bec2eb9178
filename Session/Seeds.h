// Replicates: the four stream seeds of replicate number N, so that runs of
// the same setup with N = 0, 1, 2, ... are independent samples and each one
// is repeatable (kelvane-run --seed N, kelvane.run(..., seeds=N)). Without a
// replicate number the engine keeps its fixed seeds (Statg.h). Plain C++.
//
// Stream i (0 placement, 1 x, 2 y, 3 z) of replicate N takes
//
//   s_i = (splitmix64(4 N + i) mod 2^31) | 1      (4 N + i taken mod 2^64)
//
// with splitmix64(v): v += 0x9E3779B97F4A7C15;
//   v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9;
//   v = (v ^ (v >> 27)) * 0x94D049BB133111EB;  return v ^ (v >> 31).
//
// so every seed is odd and in 1 .. 2^31 - 1, as the generator needs (an odd
// state never reaches 0). Should a seed equal an earlier stream's, it is
// moved on by 2 (mod 2^31) until it differs: the four streams are distinct.
#pragma once

#include <cstdint>

#include "Statg/Statg.h"

TStreamStates ReplicateSeeds(std::uint64_t replicate);
