// Kernels of TSpecies::Advance. The reference kernel defines every bit of the
// result; every faster kernel reproduces it exactly: the same positions, the
// same counters and the same four generator states after every step.
//
// The fast kernels need instructions that not every x86-64 CPU has. Each one
// lives in its own source file, the only file compiled with those
// instructions enabled, and runs only where its "Supported" function says yes.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "Diffunit/Diffunit.h"

// One step of one species: the signature every kernel shares.
using TAdvanceKernel = void (*)(TSpecies& species);

// The straightforward loop, molecule by molecule in slot order. Runs anywhere.
void AdvanceReference(TSpecies& species);

// Eight molecules at a time in 512-bit lanes. Needs AVX-512F, DQ and IFMA
// (Ice Lake, Zen 4 and later).
void AdvanceAvx512(TSpecies& species);
bool Avx512Supported();

// Four molecules at a time in 256-bit lanes. Needs AVX2.
void AdvanceAvx2(TSpecies& species);
bool Avx2Supported();

// The fastest kernel this CPU supports: AVX-512, else AVX2, else the reference.
TAdvanceKernel FastestKernel();

// The kernel that TSpecies::Advance runs: FastestKernel() from start-up on.
// Tests and benchmarks may point it at another supported kernel.
extern TAdvanceKernel AdvanceKernel;

// The top-up at the end of a step: activates spare slots at the outer wall
// (4 draws each). Shared by every kernel.
void TopUpAtWall(TSpecies& species);

// The moving part of the fast kernels: moves the `count` leading molecules of
// `molecules` one step (x, y, z displacements, escapes re-injected at the wall
// of `volume`) with step width `sigma` [m], drawing from the program-wide
// streams exactly as the reference loop does, and returns how many ended
// inside the inner cube. Callable only where the matching kernel is supported.
std::int32_t MoveMoleculesAvx512(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                                 double sigma);
std::int32_t MoveMoleculesAvx2(const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                               double sigma);
