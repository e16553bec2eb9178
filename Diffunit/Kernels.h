// Kernels of TSpecies::Advance. The reference kernel defines every bit of the
// result; any faster kernel must reproduce it exactly.
#pragma once

#include <algorithm>
#include <cmath>

#include "Diffunit/Diffunit.h"

// One step of `species`, molecule by molecule, in slot order.
void AdvanceReference(TSpecies& species);

// The top-up at the end of a step: activates spare slots at the outer wall
// (4 draws each). Shared by every kernel.
void TopUpAtWall(TSpecies& species);
