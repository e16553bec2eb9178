// Helpers shared by the engine tests.
#pragma once

#include <cstdint>
#include <utility>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Statg/Statg.h"

// Puts the four program-wide streams back at their seeds.
inline void ResetStreams() { TStreamStates().Restore(); }

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
