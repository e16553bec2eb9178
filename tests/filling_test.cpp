// The expected filling curve: the one-axis share against the cosine series
// summed in high precision (mpmath, 40 digits, from the same doubles), and
// the counts of the default scenario.
#include "Session/Filling.h"

#include <gtest/gtest.h>

#include <cmath>

#include "Session/Parameters.h"
#include "Session/RunCsv.h"
#include "Session/SessionFile.h"
#include "tests/test_support.h"

namespace {

void ExpectClose(double actual, double expected, double relative = 1e-12) {
  EXPECT_NEAR(actual, expected, relative * std::fabs(expected)) << expected;
}

// The default scenario with its species `steps` steps after placement.
struct TDefaults {
  TVolume Volume;
  explicit TDefaults(std::int64_t steps) {
    SetDefaultParameters(Volume);
    AddDefaultSpecies(Volume);
    Volume.Species[0].StepsTaken = steps;
  }
};

}  // namespace

TEST(Filling, InsideShareMatchesTheSeriesAtEverySpreadAndShell) {
  const struct {
    double q, u, share;
  } known[] = {
      {0.1, 0.01, 0.0044326920044603632078},     // images
      {0.1, 0.3, 0.082607544363696554015},       // images, near the switch
      {0.1, 0.7, 0.098083172251898641535},       // series
      {1e-6, 1e-3, 9.9920311490827341164e-7},    // a tiny inner cube
      {0.999999, 0.01, 0.99992021154418338062},  // a thin shell
      {0.75, 0.2, 0.31755051457784030759},
  };
  for (const auto& k : known) ExpectClose(InsideShare(k.q, k.u), k.share);
  // Both sums agree where one hands over to the other, and no spread is no share.
  for (const double q : {1e-9, 0.1, 0.5, 0.6, 1.0 - 1e-9})
    ExpectClose(InsideShare(q, 0.5), InsideShare(q, std::nextafter(0.5, 1.0)));
  EXPECT_EQ(InsideShare(0.1, 0.0), 0.0);
}

// The known answers to one decimal (92.2, 494.0, 611.3, 720.0 at
// 0.005, 0.05, 0.1 and 1 s), here to twelve digits.
TEST(Filling, DefaultScenarioCountsLimitAndFillingTime) {
  const struct {
    std::int64_t steps;
    double count;
  } known[] = {{1, 0.30330782312774329181},
               {50, 92.230199656953070472},
               {500, 493.99072241125841363},
               {1000, 611.26785980580951582},
               {10000, 719.99865527285375584}};
  for (const auto& k : known) ExpectClose(*ExpectedCount(TDefaults(k.steps).Volume), k.count);
  EXPECT_EQ(*ExpectedCount(TDefaults(0).Volume), 0.0);

  const TFillingExpectation start = Expectation(TDefaults(0).Volume);
  ExpectClose(start.Limit, 719.99899999999972556);
  ExpectClose(*start.FillingTime, 0.0406015602618061, 1e-8);
  EXPECT_FALSE(Expectation(TDefaults(1000).Volume).FillingTime);  // past it already

  // Steps count from placement, whatever the clock: Apply restarts the clock.
  TDefaults stepped(0);
  stepped.Volume.Step();
  stepped.Volume.Step();
  SetDefaultParameters(stepped.Volume);
  EXPECT_EQ(stepped.Volume.Species[0].StepsTaken, 2);
  ExpectClose(*Expectation(stepped.Volume).FillingTime, (406.01560261806103328 - 2) * 0.0001, 1e-8);
}

TEST(Filling, TwoSpeciesAddUpAndOtherRibsHaveNoCurve) {
  TDefaults both(500);
  AddSpecies(both.Volume, {Defaults::Concentration, Defaults::Radius, 7.15e-11});
  both.Volume.Species[1].StepsTaken = 500;
  ExpectClose(*ExpectedCount(both.Volume), 854.66747684347967454);
  both.Volume.Species[0].StepsTaken = 40;
  ExpectClose(*ExpectedCount(both.Volume), 430.71786050612260743);

  // New ribs without Apply Species: the species keep the old placement.
  both.Volume.SetParameters(2e-5, 1e-6, 0.001, 293.15, 0.0001);
  const TFillingExpectation other = Expectation(both.Volume);
  EXPECT_FALSE(other.Count);
  EXPECT_EQ(other.Why, "species 1 was placed in other ribs (Apply Species places it anew)");
  ReplaceSpecies(both.Volume, 0, TSpeciesValues{});
  EXPECT_EQ(Expectation(both.Volume).Why,
            "species 2 was placed in other ribs (Apply Species places it anew)");
  ReplaceSpecies(both.Volume, 1, TSpeciesValues{});
  EXPECT_EQ(*ExpectedCount(both.Volume), 0.0);
  // An inner cube as large as the outer one has no shell to fill from.
  both.Volume.SetParameters(1e-5, 1e-5, 0.001, 293.15, 0.0001);
  both.Volume.Species.clear();
  both.Volume.Species.emplace_back();
  both.Volume.Species[0].Volume = &both.Volume;
  both.Volume.Species[0].SlotCount = 10;
  both.Volume.Species[0].PlacedOuterRib = both.Volume.Species[0].PlacedInnerRib = 1e-5;
  EXPECT_EQ(Expectation(both.Volume).Why, "the ribs leave no shell around the inner cube");
}

// The expected count is trusted while a step's deviation is at most 0.4 of
// the inner rib: the default step (0.17) and 0.0005 s (0.38) are; 0.001 s
// (0.53, measured 8 % short), 0.01 s and 1 s are not, and say so in the
// readout's words and in a run CSV header line that the reader skips.
TEST(Filling, StepsTooCoarseForTheEquationAreNamed) {
  const struct {
    double timeStep;
    bool coarse;
  } runs[] = {{0.0001, false}, {0.0005, false}, {0.001, true}, {0.01, true}, {1.0, true}};
  for (const auto& run : runs) {
    TVolume volume;
    TSimulationValues values;
    values.TimeStep = run.timeStep;
    SetParameters(volume, values);
    AddDefaultSpecies(volume);
    EXPECT_EQ(CoarseSteps(volume).has_value(), run.coarse) << run.timeStep;
    EXPECT_EQ(Expectation(volume).Coarse.has_value(), run.coarse) << run.timeStep;
  }
  TVolume volume;
  TSimulationValues values;
  values.TimeStep = 0.01;
  SetParameters(volume, values);
  AddDefaultSpecies(volume);
  const std::string line =
      "steps too coarse for the diffusion equation: sigma 1.7E-6 m against the internal rib 1E-6 m";
  EXPECT_EQ(CoarseStepsText(*CoarseSteps(volume), '.'), line);
  const std::string header = RunCsvHeader(RunCsvSetupLines(volume), TStreamStates(), {});
  EXPECT_NE(header.find("\n# " + line + "\n"), std::string::npos) << header;
  const TSession session = ParseSession(header, "coarse.csv");
  EXPECT_EQ(session.Simulation.TimeStep, 0.01);
  EXPECT_EQ(session.Species.size(), 1u);
}
