// The expected filling curve, summed so that it is exact to 1e-12 at every
// spread and the same bits on every machine.
//
// Two ways to P, each cheap where the other is not:
//
// * Large spread (u > 1/2): the cosine series of the header. Its terms fall as
//   exp(-m^2 pi^2 u^2 / 2) <= exp(-1.23 m^2), so at most seven are needed.
//
// * Small spread (u <= 1/2): images. The walls at +-b0 reflect, so the starting
//   density, extended evenly across them, is periodic with period 2 b0: a
//   constant c = 1 / (2 (b0 - b1)) with holes of width 2 b1 around every 2 k b0.
//   On the whole line the density is then c minus each hole smoothed by a
//   Gaussian of deviation s = u b0, and its integral over |x| < b1 is, in
//   units of b0 with Psi(w) = w Phi(w/u) + u phi(w/u) (the integral of the
//   smoothed step; phi and Phi the standard normal density and distribution),
//
//     P = (Psi(0) - Psi(-2q) - sum_{k>=1} T_k) / (1 - q),
//     T_k = Psi(-(2k - 2q)) - 2 Psi(-2k) + Psi(-(2k + 2q)),
//
//   the holes at -2k and +2k giving the same T_k since Psi(w) - Psi(-w) = w.
//   With Q = 1 - Phi, Psi(-v) = u (phi(z) - z Q(z)) for z = v / u > 0.
//   T_k vanishes in double precision once (2k - 2q) / u > 38. For a thin
//   shell (q > 1/2) the same sum is taken over the shell's blocks instead of
//   the holes (see ShareByImages), so that nothing is divided by a small
//   1 - q.
//
// The functions below use only +, -, *, / and sqrt, whose results IEEE 754
// fixes to the bit: exp, expm1, sin and the normal tail are short series and a
// continued fraction, each accurate to a few units in the last place.
#include "Session/Filling.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"

namespace {

constexpr double Pi = 3.141592653589793;
constexpr double InvSqrt2Pi = 0.3989422804014327;  // phi(0) = 1 / sqrt(2 pi)

// ln 2 in two parts (fdlibm's): the high part has 21 trailing zero bits, so
// k * Ln2Hi is exact for |k| < 2^21.
constexpr double Ln2Hi = 6.93147180369123816490e-01;
constexpr double Ln2Lo = 1.90821492927058770002e-10;
constexpr double InvLn2 = 1.44269504088896338700e+00;

// 1 / n! for n = 0 .. 21, rounded once at compile time.
struct TInverseFactorials {
  double Value[22];
  constexpr TInverseFactorials() : Value() {
    double factorial = 1.0;
    for (int n = 0; n < 22; ++n) {
      if (n > 0) factorial *= n;  // exact up to 22!
      Value[n] = 1.0 / factorial;
    }
  }
};
constexpr TInverseFactorials InverseFactorial;

// exp(r) - 1 for |r| <= ln(2) / 2: Taylor to r^13 (the rest is below
// 0.35^14 / 14! < 5e-18).
double Expm1Reduced(double r) {
  double sum = InverseFactorial.Value[13];
  for (int n = 12; n >= 1; --n) sum = sum * r + InverseFactorial.Value[n];
  return sum * r;
}

// exp(x) for x <= 0: x = k ln 2 + r, exp(x) = 2^k exp(r).
double Exp(double x) {
  if (x < -745.2) return 0.0;
  const double k = std::floor(x * InvLn2 + 0.5);
  const double r = (x - k * Ln2Hi) - k * Ln2Lo;
  return std::ldexp(1.0 + Expm1Reduced(r), static_cast<int>(k));
}

// 1 - exp(-y) for y >= 0, without the cancellation of 1 - Exp(-y) near 0.
double OneMinusExp(double y) { return y <= 0.34 ? -Expm1Reduced(-y) : 1.0 - Exp(-y); }

// sin(pi f) for f in [0, 1]: folded to [0, 1/4] for sin or cos, Taylor to
// the 21st power (the rest is below (pi/4)^22 / 22! < 1e-23).
double SinPi(double f) {
  const double g = f > 0.5 ? 1.0 - f : f;
  const bool useCos = g > 0.25;
  const double y = Pi * (useCos ? 0.5 - g : g);
  const double y2 = y * y;
  double sum = 0.0;
  for (int n = useCos ? 20 : 21; n >= 0; n -= 2)
    sum = sum * y2 + ((n / 2) % 2 ? -InverseFactorial.Value[n] : InverseFactorial.Value[n]);
  return useCos ? sum : sum * y;
}

// phi(z) = exp(-z^2 / 2) / sqrt(2 pi).
double Density(double z) { return InvSqrt2Pi * Exp(-0.5 * z * z); }

// The upper normal tail Q(z) = 1 - Phi(z) and phi(z) - z Q(z), for z >= 0.
struct TTail {
  double Q;
  double Rest;  // phi(z) - z Q(z) = integral of Q from z on
};

TTail Tail(double z) {
  const double density = Density(z);
  if (z <= 3.0) {
    // Phi(z) - 1/2 = phi(z) (z + z^3/3 + z^5/(3 5) + ...), all terms positive;
    // at z = 3 about 60 terms, and Q keeps 14 digits of 0.5 - 0.4987.
    double term = z;
    double sum = z;
    const double z2 = z * z;
    for (int n = 1; term > 1e-17 * sum; ++n) {
      term *= z2 / (2 * n + 1);
      sum += term;
    }
    const double q = 0.5 - density * sum;
    return {q, density - z * q};
  }
  // The continued fraction of the Mills ratio Q / phi = 1/(z + 1/(z + 2/(z + ...))),
  // evaluated from the deep end: 20 + 400 / z^2 levels reach double precision
  // for z >= 3. With t1 = z + 2/(z + ...) and t = z + 1/t1, Q = phi / t and
  // phi - z Q = phi (t - z) / t = phi / (t1 t), free of cancellation.
  const int depth = 20 + static_cast<int>(400.0 / (z * z));
  double t1 = z;
  for (int n = depth; n >= 2; --n) t1 = z + n / t1;
  const double t = z + 1.0 / t1;
  return {density / t, density / (t1 * t)};
}

// Beyond this many deviations the normal tail is below the smallest double.
constexpr double FarTail = 38.0;

// Psi(0) - Psi(-v) = u phi(0) (1 - exp(-z^2/2)) + v Q(z), z = v / u: two
// positive parts, so no cancellation however small v is against u.
double PsiRise(double v, double u) {
  const double z = v / u;
  return u * InvSqrt2Pi * OneMinusExp(0.5 * z * z) + v * Tail(z).Q;
}

// Psi(-a) - Psi(-(a + width)) for a, width > 0, which is u times the
// integral of Q over [a/u, (a + width)/u]. The width is passed as such: for a
// small shell or inner cube, a + width rounded would lose most of it, and the
// difference of the two Psi would lose the rest in rounding. So a narrow
// integral is taken directly, by 4-point Gauss-Legendre, whose error
// (h z)^8 / 3e6 is below 1e-20 for h z < 0.02 (h the width over u, z the far
// end; Q changes on a scale of 1/z).
double PsiDrop(double a, double width, double u) {
  const double za = a / u;
  if (za > FarTail) return 0.0;
  const double h = width / u;
  const double zb = (a + width) / u;
  if (h * std::max(1.0, zb) >= 0.02) return u * (Tail(za).Rest - Tail(zb).Rest);
  constexpr double Node[2] = {0.3399810435848563, 0.8611363115940526};
  constexpr double Weight[2] = {0.6521451548625461, 0.3478548451374538};
  const double half = 0.5 * h;
  const double middle = za + half;
  double sum = 0.0;
  for (int i = 0; i < 2; ++i)
    sum += Weight[i] * (Tail(middle - half * Node[i]).Q + Tail(middle + half * Node[i]).Q);
  return u * half * sum;
}

double ShareByImages(double q, double u) {
  if (q <= 0.5) {
    // Holes of half-width q at the even points 2k, in a density 1 / (1 - q):
    // T_k = (Psi(-(2k - 2q)) - Psi(-2k)) - (Psi(-2k) - Psi(-(2k + 2q))).
    double images = 0.0;
    for (int k = 1; (2.0 * k - 2.0 * q) / u <= FarTail; ++k)
      images += PsiDrop(2.0 * k - 2.0 * q, 2.0 * q, u) - PsiDrop(2.0 * k, 2.0 * q, u);
    return (PsiRise(2.0 * q, u) - images) / (1.0 - q);
  }
  // A thin shell: dividing by 1 - q would magnify every rounding. Count the
  // shell's own blocks instead, of half-width w = 1 - q at the odd points
  // 2k + 1, each holding 1 / (2 w) per unit length; the blocks at +-(2k + 1)
  // put
  //   (Psi(-2k) - Psi(-2k - 2w)) - (Psi(-2k - 2q) - Psi(-2k - 2))
  // into |x| < q, Psi(0) - Psi(-2w) standing first for k = 0.
  const double w = 1.0 - q;
  double inside = PsiRise(2.0 * w, u) - PsiDrop(2.0 * q, 2.0 * w, u);
  for (int k = 1; 2.0 * k / u <= FarTail; ++k)
    inside += PsiDrop(2.0 * k, 2.0 * w, u) - PsiDrop(2.0 * k + 2.0 * q, 2.0 * w, u);
  return inside / w;
}

double ShareBySeries(double q, double u) {
  const double x = 0.5 * Pi * Pi * u * u;  // pi^2 A / b0^2
  double sum = 0.0;
  for (int m = 1;; ++m) {
    const double decay = Exp(-x * m * m);
    // Each term is below 2 decay / (m^2 pi^2 (1 - q)); stop once that is
    // below 1e-17 of q, the order of P from here on.
    if (decay < 1e-17 * q * (1.0 - q) * m * m) break;
    const double f = m * q - std::floor(m * q);
    const double sine = SinPi(f);
    sum += 2.0 * sine * sine / (m * m * Pi * Pi * (1.0 - q)) * decay;
  }
  return q - sum;
}

// The expected count of one species after `steps` more steps (may be
// negative down to -StepsTaken), or none with the reason.
std::optional<double> SpeciesCount(const TVolume& volume, const TSpecies& species, double steps,
                                   int number, std::string* why) {
  const double b0 = species.PlacedOuterRib;
  const double b1 = species.PlacedInnerRib;
  if (b0 != volume.OuterRib || b1 != volume.InnerRib) {
    if (why)
      *why = "species " + std::to_string(number) +
             " was placed in other ribs (Apply Species places it anew)";
    return std::nullopt;
  }
  if (species.SlotCount == 0) return 0.0;
  if (!(b1 > 0.0 && b1 < b0) || !std::isfinite(b0)) {
    if (why) *why = "the ribs leave no shell around the inner cube";
    return std::nullopt;
  }
  const double taken = std::max(0.0, static_cast<double>(species.StepsTaken) + steps);
  const double share = InsideShare(b1 / b0, species.Sigma * std::sqrt(taken) / b0);
  return species.SlotCount * (share * share * share);
}

}  // namespace

double InsideShare(double q, double u) {
  if (!(u > 0.0)) return 0.0;
  return u > 0.5 ? ShareBySeries(q, u) : ShareByImages(q, u);
}

namespace {

// The expected count `steps` steps from now (a whole or fractional number),
// or none, with the reason in `why` when given.
std::optional<double> CountAfter(const TVolume& volume, double steps, std::string* why = nullptr) {
  double count = 0.0;
  int number = 0;
  for (const TSpecies& species : volume.Species) {
    const std::optional<double> one = SpeciesCount(volume, species, steps, ++number, why);
    if (!one) return std::nullopt;
    count += *one;
  }
  return count;
}

// The steps from now after which the expected count reaches `target`, which
// it is below now and approaches from below (every share only rises).
double StepsToReach(const TVolume& volume, double target) {
  const auto below = [&](double steps) { return *CountAfter(volume, steps) < target; };
  double low = 0.0;
  double high = 1.0;
  while (below(high) && high < 1e300) {
    low = high;
    high *= 2.0;
  }
  while (high - low > 1e-9 * high) {
    const double middle = 0.5 * (low + high);
    (below(middle) ? low : high) = middle;
  }
  return high;
}

}  // namespace

std::optional<double> ExpectedCount(const TVolume& volume) { return CountAfter(volume, 0.0); }

std::optional<TCoarseSteps> CoarseSteps(const TVolume& volume) {
  double sigma = 0.0;
  for (const TSpecies& species : volume.Species)
    if (species.SlotCount > 0) sigma = std::max(sigma, species.Sigma);
  if (!(volume.InnerRib > 0.0) || !(sigma > CoarseStepShare * volume.InnerRib)) return std::nullopt;
  return TCoarseSteps{sigma, volume.InnerRib};
}

std::string CoarseStepsText(const TCoarseSteps& coarse, char separator) {
  // Two digits, written as the tables write numbers ("1.7E-6").
  const auto text = [&](double x) {
    char buffer[32];
    std::snprintf(buffer, sizeof buffer, "%.2g", x);
    return NumberToText(std::strtod(buffer, nullptr), separator);
  };
  return "steps too coarse for the diffusion equation: sigma " + text(coarse.Sigma) +
         " m against the internal rib " + text(coarse.InnerRib) + " m";
}

std::optional<double> ExpectedCountAfter(const TVolume& volume, double steps) {
  return CountAfter(volume, steps);
}

TFillingExpectation Expectation(const TVolume& volume) {
  TFillingExpectation expectation;
  expectation.Coarse = CoarseSteps(volume);
  expectation.Count = CountAfter(volume, 0.0, &expectation.Why);
  if (!expectation.Count) return expectation;
  for (const TSpecies& species : volume.Species) {
    if (species.SlotCount == 0) continue;
    const double q = species.PlacedInnerRib / species.PlacedOuterRib;
    expectation.Limit += species.SlotCount * (q * q * q);
  }
  const double target = FillingShare * expectation.Limit;
  if (*expectation.Count < target && volume.TimeStep != 0.0)
    expectation.FillingTime = volume.Time + StepsToReach(volume, target) * volume.TimeStep;
  return expectation;
}
