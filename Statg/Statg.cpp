#include "Statg/Statg.h"

std::int32_t PlacementState = PlacementSeed;
std::int32_t StepStateX = StepSeedX;
std::int32_t StepStateY = StepSeedY;
std::int32_t StepStateZ = StepSeedZ;
