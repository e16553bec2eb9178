// Random numbers for the diffusion engine.
//
// A multiplicative congruential generator on caller-held 32-bit states and a
// central-limit normal deviate built from twelve of its uniforms. Each engine
// (TVolume) holds four streams of its own, TStreamStates, which start from
// fixed seeds (or seeds the engine is given) and move only by its draws, so
// the same actions give the same numbers, however many engines a process runs.
//
// Who draws from which stream, in the order of the draws:
// - Placement: populating a species, 3 uniforms per placed molecule (x, y,
//   z); and every re-injection at the wall, 2 (the side, then the face).
// - X: the step's x displacement, 12 uniforms per moved molecule.
// - Y: the y displacement, 12 per molecule that did not leave on x; and 1
//   per re-injection (the first free coordinate on the wall).
// - Z: the z displacement, 12 per molecule that left on neither x nor y; and
//   1 per re-injection (the second free coordinate).
// A molecule leaving the outer cube is re-injected at once, before the next
// molecule draws, and so is each spare slot activated at the end of a step
// (the top-up): 4 draws each, Y and Z first, then the side and face.
#pragma once

#include <cstdint>

// Seeds of the four streams (all odd, so the generator never reaches 0).
constexpr std::int32_t PlacementSeed = 5555555;
constexpr std::int32_t StepSeedX = 5324575;
constexpr std::int32_t StepSeedY = 5548235;
constexpr std::int32_t StepSeedZ = 5564875;

// Multiplier of the generator; the state is kept modulo 2^31.
constexpr std::uint32_t UniformMultiplier = 16807u;
constexpr std::uint32_t StateMask = 0x7FFFFFFFu;
// The double nearest 1/(2^31 - 1) (bits 0x3E00000000200000): maps a state to [0, 1].
constexpr double UniformScale = 4.656612875245797e-10;

// The four generator states of one engine. A default-made one holds the seeds.
struct TStreamStates {
  std::int32_t Placement = PlacementSeed;
  std::int32_t X = StepSeedX;
  std::int32_t Y = StepSeedY;
  std::int32_t Z = StepSeedZ;

  bool operator==(const TStreamStates& o) const {
    return Placement == o.Placement && X == o.X && Y == o.Y && Z == o.Z;
  }
  bool operator!=(const TStreamStates& o) const { return !(*this == o); }
};

// Advances `state` to (state * 16807) mod 2^31 and returns it scaled to [0, 1].
// Costs one integer multiply, one mask and one double multiply.
inline double NextUniform(std::int32_t& state) {
  const std::uint32_t next = (static_cast<std::uint32_t>(state) * UniformMultiplier) & StateMask;
  state = static_cast<std::int32_t>(next);
  return static_cast<double>(state) * UniformScale;
}

// 16807^draws mod 2^32: the multiplier that moves a state `draws` draws on
// (see Jumped). Square and multiply: at most 2 x 64 multiplications.
constexpr std::uint32_t JumpMultiplier(std::uint64_t draws) {
  std::uint32_t result = 1, power = UniformMultiplier;
  for (; draws != 0; draws >>= 1, power *= power)
    if (draws & 1) result *= power;
  return result;
}

// The state that `multiplier` = JumpMultiplier(k) draws lead to from `state`:
// state * 16807^k mod 2^31, as k >= 1 calls of NextUniform leave it. Only the
// low 31 bits of the product matter, so the multiplier is needed only mod
// 2^32. (For k = 0 it clears bit 31 of a state that has it, which no draw
// would have done: callers jump only where draws are taken.)
constexpr std::int32_t Jumped(std::int32_t state, std::uint32_t multiplier) {
  return static_cast<std::int32_t>((static_cast<std::uint32_t>(state) * multiplier) & StateMask);
}

// Approximately normal deviate: twelve uniforms summed one at a time (each
// partial sum rounded to double), minus their mean 6, scaled and shifted.
// Always within mean +- 6 * deviation. Advances `state` by exactly twelve draws.
inline double NextNormal(double mean, double deviation, std::int32_t& state) {
  double sum = 0.0;
  for (int k = 0; k < 12; ++k) sum += NextUniform(state);
  return (sum - 6.0) * deviation + mean;
}
