#include "Session/Seeds.h"

namespace {

std::uint64_t SplitMix64(std::uint64_t v) {
  v += 0x9E3779B97F4A7C15ull;
  v = (v ^ (v >> 30)) * 0xBF58476D1CE4E5B9ull;
  v = (v ^ (v >> 27)) * 0x94D049BB133111EBull;
  return v ^ (v >> 31);
}

}  // namespace

TStreamStates ReplicateSeeds(std::uint64_t replicate) {
  std::int32_t seeds[4];
  for (int i = 0; i < 4; ++i) {
    std::uint32_t seed =
        static_cast<std::uint32_t>(SplitMix64(4 * replicate + static_cast<std::uint64_t>(i)) &
                                   0x7FFFFFFFull) |
        1u;
    for (int j = 0; j < i; ++j)
      if (static_cast<std::int32_t>(seed) == seeds[j]) {
        seed = (seed + 2u) & 0x7FFFFFFFu;
        j = -1;  // check against every earlier stream again
      }
    seeds[i] = static_cast<std::int32_t>(seed);
  }
  TStreamStates states;
  states.Placement = seeds[0];
  states.X = seeds[1];
  states.Y = seeds[2];
  states.Z = seeds[3];
  return states;
}
