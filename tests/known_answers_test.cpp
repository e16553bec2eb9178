// Known answers of the engine from the fixed seeds: reports, molecule bits,
// counts and stream states worked out once (and checked against an
// independent reading of the algorithms), so that a change of any draw
// order, rounding or truncation fails here even where all kernels agree.
// The same table drives the reference loop and every fast kernel this CPU
// runs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"
#include "tests/known_answer_list.h"
#include "tests/test_support.h"

namespace {

struct TKnownReport {
  int Step;  // 1-based
  TReport Report;
};

struct TKnownRun {
  const char* Name;
  double OuterRib, InnerRib, TimeStep;  // m, m, s; one species of the default values
  std::int32_t InnerCount, ShellCount;
  TMolCoord FirstPlaced;  // slot 0 right after population
  TStreamStates AfterPlacing;
  int Steps;
  TKnownReport Reports[2];
  TMolCoord FirstAfterSteps;
  TStreamStates AfterSteps;
};

const TKnownRun KnownRuns[] = {
    {"defaults",
     Defaults::OuterRib,
     Defaults::InnerRib,
     Defaults::TimeStep,
     719,
     719280,
     {0x1.6deb2394b1562p-20, 0x1.5082455088eefp-19, 0x1.a5a2e1381983bp-18},
     {1368061923, StepSeedX, StepSeedY, StepSeedZ},
     9,
     {{2, {1, 719, 0x1.bc16d674ec801p+59, 0x1.38400eca364ap+69, 0x1.a36e2eb1c432dp-13}},
      {9, {10, 719, 0x1.158e460913d01p+63, 0x1.38400eca364ap+69, 0x1.d7dbf487fcb94p-11}}},
     {0x1.f4f72347a9c75p-20, 0x1.d7857cee1bc71p-20, 0x1.beeef98515e22p-18},
     {731677459, 869574175, 2117360125, 466973565}},
    {"high-escape cube",
     2e-6,
     1e-6,
     1e-3,
     719,
     5040,
     {0x1.174453fe2f1fap-20, 0x1.39639854e4841p-20, 0x1.aa00d094d16dp-20},
     {1492527075, StepSeedX, StepSeedY, StepSeedZ},
     5,
     {{1, {57, 719, 0x1.8b84570022a21p+65, 0x1.38400eca364ap+69, 0x1.0624dd2f1a9fcp-10}},
      {5, {377, 719, 0x1.46fed0e918245p+68, 0x1.38400eca364ap+69, 0x1.47ae147ae147bp-8}}},
     {0x1.5741a40c0da79p-20, 0x1.0c6f7a0b5ed8dp-19, -0x1.3e81e55629535p-21},
     {641655635, 1446665119, 1019551741, 1747737469}},
};

bool SameBits(const TMolCoord& a, const TMolCoord& b) { return std::memcmp(&a, &b, sizeof a) == 0; }

}  // namespace

TEST(KnownAnswers, RunsFromTheSeedsWithEveryKernelAndThreadCount) {
  for (const TKernel& kernel : Kernels) {
    if (!kernel.Supported()) continue;
    for (const TKnownRun& known : KnownRuns) {
      for (int threads : {1, 3}) {
        SCOPED_TRACE(std::string(kernel.Name) + ", " + known.Name + ", threads " +
                     std::to_string(threads));
        TVolume volume;
        TEngineSettings settings;
        settings.Kernel = &kernel;
        settings.Threads = threads;
        volume.SetSettings(settings);
        TRecorder recorder;
        volume.SetStepCallback(recorder.Callback());
        volume.SetParameters(known.OuterRib, known.InnerRib, Defaults::Viscosity,
                             Defaults::Temperature, known.TimeStep);
        AddDefaultSpecies(volume);
        const TSpecies& species = volume.Species[0];
        EXPECT_EQ(species.InnerCount, known.InnerCount);
        EXPECT_EQ(species.ShellCount, known.ShellCount);
        EXPECT_TRUE(SameBits(species.Molecules[0], known.FirstPlaced));
        EXPECT_EQ(volume.Streams, known.AfterPlacing);
        for (int step = 0; step < known.Steps; ++step) volume.Step();
        ASSERT_EQ(recorder.Reports.size(), static_cast<std::size_t>(known.Steps));
        for (const TKnownReport& report : known.Reports)
          EXPECT_EQ(recorder.Reports[report.Step - 1], report.Report) << "step " << report.Step;
        EXPECT_TRUE(SameBits(species.Molecules[0], known.FirstAfterSteps));
        EXPECT_EQ(volume.Streams, known.AfterSteps);
      }
    }
  }
}

// Counts are products truncated toward zero: 719.9999999999999 molecules are
// 719, and a product above -1 (-0.5 molecules) is 0, not a refusal.
TEST(KnownAnswers, CountsTruncateTowardZero) {
  struct TCase {
    double outerRib, innerRib, concentration;
    bool accepted;
    std::int32_t innerCount, shellCount;
  };
  const TCase cases[] = {
      {Defaults::OuterRib, Defaults::InnerRib, Defaults::Concentration, true, 719, 719280},
      {2.0, 1.0, 10.5, true, 10, 73},
      {1.0, 0.0, -0.5, true, 0, 0},
      {1.0, 0.0, -0.9999, true, 0, 0},
      {1.0, 0.0, -1.0, false, 0, 0},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE("concentration " + std::to_string(c.concentration));
    TVolume volume;
    volume.SetParameters(c.outerRib, c.innerRib, Defaults::Viscosity, Defaults::Temperature,
                         Defaults::TimeStep);
    if (!c.accepted) {
      EXPECT_THROW(volume.AddSpecies(c.concentration, Defaults::Diffusion, Defaults::Radius),
                   TError);
      continue;
    }
    volume.AddSpecies(c.concentration, Defaults::Diffusion, Defaults::Radius);
    EXPECT_EQ(volume.Species[0].InnerCount, c.innerCount);
    EXPECT_EQ(volume.Species[0].ShellCount, c.shellCount);
    EXPECT_EQ(volume.TotalInnerCount, c.innerCount);
  }
}

// The list every target reads (known_answers.txt): all of it holds here too.
TEST(KnownAnswers, SharedListHoldsOnThisTarget) {
  const TKnownAnswerResult result = CheckKnownAnswers(KELVANE_KNOWN_ANSWERS);
  for (const std::string& failure : result.Failures) ADD_FAILURE() << failure;
  EXPECT_GE(result.Passed, 92);  // every record of the list as committed
}

// The checker fails what differs and what it cannot read, so that a list
// that no longer checks anything cannot pass.
TEST(KnownAnswers, SharedListCheckerFailsWrongAndUnreadableRecords) {
  TWorkDir dir;
  const std::string path = "list.txt";
  WriteFile(path.c_str(),
            "# a comment\n"
            "export-text 0.00001 1e-05\n"
            "export-text 0.00001 1e-5\n"
            "exact-text 1e-5 1e-05 extra\n"
            "count 1e-5 1e-6 7.2e20 720 719280\n"
            "refused 1e-5 1e-6 7.2e20\n"
            "text-number 293,15 . 293.15\n"
            "number-text 1x . 1\n"
            "no-such-record 1\n"
            "expected-count 50 92.3\n"
            "run short 1e-5 1e-6 0.0001 1\n");
  const TKnownAnswerResult result = CheckKnownAnswers(path);
  EXPECT_EQ(result.Passed, 1);
  ASSERT_EQ(result.Failures.size(), 9u);
  EXPECT_EQ(result.Failures[0], "line 3: export-text 0.00001 1e-5: gave '1e-05', not '1e-5'");
  EXPECT_EQ(result.Failures[1],
            "line 4: exact-text 1e-5 1e-05 extra: exact-text takes 2 fields, not 3");
  EXPECT_EQ(result.Failures[2], "line 5: count 1e-5 1e-6 7.2e20 720 719280: counts 719 and 719280");
  EXPECT_EQ(result.Failures[3], "line 6: refused 1e-5 1e-6 7.2e20: accepted");
  EXPECT_NE(result.Failures[4].find("threw: '293,15' is not a valid floating point value"),
            std::string::npos);
  EXPECT_EQ(result.Failures[5], "line 8: number-text 1x . 1: '1x' is not a number");
  EXPECT_EQ(result.Failures[6], "line 9: no-such-record 1: no record 'no-such-record'");
  EXPECT_EQ(result.Failures[7].rfind("line 10: expected-count 50 92.3: expected 0x1.70e", 0), 0u)
      << result.Failures[7];
  EXPECT_EQ(result.Failures[8], path + ": a run without its end");
  EXPECT_EQ(CheckKnownAnswers("missing.txt").Failures.size(), 1u);
}
