// How fast the inner cube fills by the diffusion equation: the expected inside
// count of a walk whose molecules spread as free diffusion does, between
// reflecting outer walls, drawn beside the measured count. Plain C++.
//
// The model. Every molecule of a species starts uniformly in the eight corner
// blocks of the shell: on each axis uniformly in b1 <= |x| <= b0. The density
// is a product over the axes, and diffusion keeps it one, so the share of a
// species inside the inner cube is P^3, with P the share of one axis inside
// |x| < b1. With reflecting (zero-flux) walls at +-b0, the cosine series of
// the starting density on [-b0, b0], integrated over |x| < b1, gives
//
//   P = q - sum_{m>=1} 2 sin^2(m pi q) / (m^2 pi^2 (1 - q)) exp(-m^2 pi^2 A / b0^2)
//
// with q = b1 / b0 and A = D tau, the spread per axis so far (D the diffusion
// coefficient, tau the time since the molecules were placed). P starts at 0
// and rises to q, so a species of N molecules tends to N (b1/b0)^3. The
// walk's own spread is exact: every step adds Sigma^2 to the variance per
// axis, so after k steps A = k Sigma^2 / 2, whatever the time step did
// meanwhile. The walk differs from the model at the walls, where escapes are
// put back at a random point of the wall rather than reflected.
//
// Counting: N is the species' slot count, ShellCount + InnerCount, as though
// all slots started in the shell.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

class TVolume;

// P above: the share of one axis inside |x| < q b0 for q = b1 / b0 in (0, 1)
// and spread u = sqrt(2 A) / b0 >= 0 (the walk's deviation per axis in units
// of b0). Relative error below 1e-12, a few hundred operations at most, and
// the same bits on every machine: only +, -, *, / and sqrt, no library
// functions of the platform.
double InsideShare(double q, double u);

// Share of its limit that the filling time marks: 1 - 1/e.
inline constexpr double FillingShare = 0.632;

// The expected filling of the engine's species as they stand: the expected
// count now, the count it tends to (the sum of N (b1/b0)^3), and the simulated
// time at which it reaches FillingShare of that, counted from now on (none
// when it is there already, or the time step is 0). No count, and the reason,
// when any species cannot have one: placed in other ribs than the current
// ones (Apply since, without Apply Species), or in ribs without a shell.
// Where the model stops. The equation holds for the walk while one step is
// small against the inner cube: a step of deviation Sigma per axis that is
// not crosses the cube in a few strides, and escapes put back at the wall
// keep molecules from it. Measured at the defaults with kelvane-run (300
// steps, the mean count of the last 100 against the mean expected count of
// the same steps), the walk departs by -2.4 % at Sigma = 0.17 b1, 0.0 % at
// 0.24 b1, -2.7 % at 0.38 b1 (within the noise of such a mean), then -7.6 %
// at 0.53 b1, -22 % at 1.7 b1, -50 % at 5.3 b1 and -92 % at 17 b1 (README).
// The expected count is trusted while Sigma is at most this share of the
// inner rib.
inline constexpr double CoarseStepShare = 0.4;

// The largest step deviation of a species with molecules, when it is beyond
// CoarseStepShare of the inner rib.
struct TCoarseSteps {
  double Sigma = 0.0;     // m, per axis: sqrt(2 D dt)
  double InnerRib = 0.0;  // m
};
std::optional<TCoarseSteps> CoarseSteps(const TVolume& volume);
// "steps too coarse for the diffusion equation: sigma 1.7E-6 m against the
// internal rib 1E-6 m", two digits, numbers with `separator`; no commas, so
// that it stands as a run CSV header line.
std::string CoarseStepsText(const TCoarseSteps& coarse, char separator);

struct TFillingExpectation {
  std::optional<double> Count;         // molecules
  double Limit = 0.0;                  // molecules
  std::string Why;                     // when there is no count, for the readout
  std::optional<double> FillingTime;   // s
  std::optional<TCoarseSteps> Coarse;  // steps too coarse for the count to hold
};
TFillingExpectation Expectation(const TVolume& volume);

// The expected count alone, at every step: a few microseconds per species.
std::optional<double> ExpectedCount(const TVolume& volume);
// The expected count `steps` steps from now, a whole or fractional number
// (a spread of D t for a time t = steps x the time step): the curve between
// the steps, and the same bits as the run's column at whole steps.
std::optional<double> ExpectedCountAfter(const TVolume& volume, double steps);
