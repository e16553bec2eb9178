// What a session tells about a run: the expected band, the readout's
// statistics, and the exports written from the run record.
#include <gtest/gtest.h>

#include <cmath>
#include <sstream>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Session/Checks.h"
#include "Session/EngineRun.h"
#include "Session/Exports.h"
#include "Session/Parameters.h"
#include "Session/RunCsv.h"
#include "Session/RunRecord.h"
#include "Session/RunStatistics.h"

TEST(RunInfo, ExpectedBandIsTwoBinomialSigmasAroundTheReference) {
  // The defaults: 719 molecules expected in 1e-18 m^3 of 1e-15 m^3.
  const std::optional<TBand> band = ExpectedBand(719, 1e-18, 1e-15);
  ASSERT_TRUE(band);
  EXPECT_EQ(band->Centre, 719.0);
  EXPECT_DOUBLE_EQ(band->HalfWidth, 53.601529828914394);
  // Nothing to expect: no molecules, no volumes, an inner cube not inside.
  EXPECT_FALSE(ExpectedBand(0, 1e-18, 1e-15));
  EXPECT_FALSE(ExpectedBand(719, 0.0, 1e-15));
  EXPECT_FALSE(ExpectedBand(719, 1e-18, 0.0));
  EXPECT_FALSE(ExpectedBand(719, 2e-15, 1e-15));
  TVolume empty;
  EXPECT_FALSE(ExpectedBand(empty));
  EXPECT_EQ(ExpectedBand(719, 1e-15, 1e-15)->HalfWidth, 0.0);  // all inside: no spread
}

TEST(RunInfo, EquilibrationIsWhenTheRecentMeanFirstEntersTheBand) {
  const double none = std::nan("");
  TRunStatistics statistics;
  statistics.Expect(100, TBand{100.0, 20.0});
  statistics.RestartAverages({0.0, 100.0, "", 60.0, {}});
  // 100 steps at 0 then 90 each: the mean of the latest 100 steps reaches
  // 63.2 (the filling mark) once 71 of them are 90s, at step 171, and 80
  // (the band's lower edge) once 89 are, at step 189.
  for (int step = 1; step <= 200; ++step) {
    statistics.Record(step <= 100 ? 0 : 90, step * 0.5, step * 0.45);
    if (step == 188) {
      EXPECT_FALSE(statistics.EquilibrationTime());
    }
  }
  ASSERT_TRUE(statistics.EquilibrationTime());
  EXPECT_EQ(*statistics.EquilibrationTime(), 189 * 0.5);
  EXPECT_EQ(*statistics.MeasuredFillingTime(), 171 * 0.5);
  EXPECT_EQ(statistics.RecentMean(), 90.0);
  EXPECT_EQ(statistics.Steps(), 200);
  EXPECT_EQ(statistics.ReadoutText('.'),
            "t 100 s, step 200\ninside 90, mean 90, ref 100\xC2\xB1"
            "20\n"
            "in band at t 94.5 s, mean -10 %\n"
            "expected 90 of 100 (diffusion)\n"
            "63.2 % filled: expected 60 s, run 85.5 s");
  // Leaving the band later keeps the times.
  for (int step = 0; step < 100; ++step) statistics.Record(0, 200.0, 90.0);
  EXPECT_EQ(*statistics.EquilibrationTime(), 189 * 0.5);
  // New species: the mean, its times and the expectation start again, and
  // the old counts no longer pull the mean (it used to read -50 % here).
  statistics.RestartAverages({std::nullopt, 0.0, "species 2 was placed in other ribs", {}, {}});
  statistics.Record(100, 200.5, none);
  EXPECT_EQ(statistics.ReadoutText('.'),
            "t 200.5 s, step 301\ninside 100, mean 100, ref 100\xC2\xB1"
            "20\n"
            "in band at t 200.5 s, mean +0 %\n"
            "no expected curve: species 2 was placed in other ribs");
  statistics.RestartAverages({0.0, 100.0, "", {}, {}});
  statistics.Record(0, 201.0, 0.0);
  EXPECT_NE(statistics.ReadoutText('.').find("not in band yet, mean -100 %\n"), std::string::npos);
  // Below the mark with no time to reach it: never, not "already".
  EXPECT_NE(statistics.ReadoutText('.').find("filled: expected never, run not yet"),
            std::string::npos);
  // A restart forgets everything.
  statistics.Restart();
  EXPECT_FALSE(statistics.EquilibrationTime());
  EXPECT_EQ(statistics.ReadoutText(','),
            "t 0 s, step 0\ninside 0, mean 0\n"
            "no reference to compare with\n"
            "no expected curve: ");
  // A large species and a long run read as whole numbers, not 7.2e+04.
  statistics.Expect(71999, TBand{71999.0, 537.2});
  statistics.RestartAverages({0.0, 72000.0, "", 0.25, {}});
  statistics.Record(71234, 12345.6, 71999.5);
  EXPECT_EQ(statistics.ReadoutText('.'),
            "t 12346 s, step 1\ninside 71234, mean 71234, ref 71999\xC2\xB1"
            "537\n"
            "not in band yet, mean -1.1 %\n"
            "expected 72000 of 72000 (diffusion)\n"
            "63.2 % filled: expected 0.25 s, run 12346 s");
}

TEST(RunInfo, StepsPerSecondOverTheLatestSecond) {
  TRunStatistics statistics;
  statistics.MarkWallTime(10.0);
  for (int k = 0; k < 50; ++k) statistics.Record(0, 0.0, 0.0);
  statistics.MarkWallTime(10.1);  // too soon to say
  EXPECT_FALSE(statistics.StepsPerSecond());
  for (int k = 0; k < 50; ++k) statistics.Record(0, 0.0, 0.0);
  statistics.MarkWallTime(10.5);
  ASSERT_TRUE(statistics.StepsPerSecond());
  EXPECT_DOUBLE_EQ(*statistics.StepsPerSecond(), 200.0);
}

TEST(RunInfo, RunCsvHasTheSettingsThenOneRowPerStep) {
  TVolume volume;
  SetDefaultParameters(volume);
  AddDefaultSpecies(volume);
  const std::vector<TRunSample> samples = {{0.0001, 0, 719, 0, 7.2e20, 0.0},
                                           {0.0001 + 0.0001, 1, 719, 1e18, 7.2e20, std::nan("")}};
  const TActions actions = {TAction::Apply(TSimulationValues{}),
                            TAction::AddSpecies(TSpeciesValues{}), TAction::StepsOf(2)};
  std::istringstream csv(RunCsvHeader(RunCsvSetupLines(volume), TStreamStates(), actions) +
                         RunCsvLine(samples[0]) + RunCsvLine(samples[1]));
  std::vector<std::string> lines;
  for (std::string line; std::getline(csv, line);) lines.push_back(line);
  ASSERT_EQ(lines.size(), 14u);
  EXPECT_EQ(lines[0].rfind("# Kelvane ", 0), 0u);
  EXPECT_EQ(lines[1], "# seeds: placement 5555555; x 5324575; y 5548235; z 5564875");
  EXPECT_EQ(lines[2], "# SIM_B0 External Cube Rib [m]: 1e-05");
  EXPECT_EQ(lines[6], "# SIM_DT Simulation Time Step [s]: 0.0001");
  EXPECT_EQ(lines[7],
            "# species 1: SP_C Concentration [m-3]: 7.2e+20; SP_A Molecule Radius [m]: 1.5e-09; "
            "SP_D Diffusion Coefficient [m2/s]: 1.43e-10; molecules 719999");
  // The actions that replay the run, its own steps left to the rows.
  EXPECT_EQ(lines[8],
            "# replay: the actions from a fresh engine (the rows are the steps after the last "
            "apply)");
  EXPECT_EQ(lines[9],
            "# > apply SIM_B0 1e-05; SIM_B1 1e-06; SIM_Q 0.001; SIM_T 293.15; SIM_DT 0.0001");
  EXPECT_EQ(lines[10], "# > add species SP_C 7.2e+20; SP_A 1.5e-09; SP_D 1.43e-10");
  EXPECT_EQ(lines[11],
            "t [s],inside count,reference count,inside concentration [m^-3],"
            "total concentration [m^-3],expected count");
  EXPECT_EQ(lines[12], "0.0001,0,719,0,7.2e+20,0");
  EXPECT_EQ(lines[13], "0.0002,1,719,1e+18,7.2e+20,");
  for (std::size_t i = 0; i < 11; ++i) EXPECT_EQ(lines[i].find(','), std::string::npos) << i;
}

// The exports used to read the charts back: the run CSV then came sorted by
// time (reverse step order for a negative time step) and wrote concentrations
// as 18-digit integers. The curve files keep the charts' order: ascending
// time, equal times in the order the steps came.
TEST(RunInfo, ExportsKeepStepOrderInTheCsvAndTimeOrderInTheCurves) {
  const double third = 1.0 / 3.0;
  const std::vector<TRunSample> backwards = {{-0.0001, 3, 9, 2.9629629629629626e17, third, 1.5},
                                             {-0.0002, 2, 9, 1e-5, third, 1.5},
                                             {-0.0002, 7, 9, 5e5, third, 1.5},
                                             {-0.0003, 1234567, 9, 1234567.0, third, 1.5}};
  std::string csv;
  for (const TRunSample& sample : backwards) csv += RunCsvLine(sample);
  EXPECT_EQ(csv,
            "-0.0001,3,9,2.9629629629629626e+17,0.3333333333333333,1.5\n"
            "-0.0002,2,9,1e-05,0.3333333333333333,1.5\n"
            "-0.0002,7,9,500000,0.3333333333333333,1.5\n"
            "-0.0003,1234567,9,1.234567e+06,0.3333333333333333,1.5\n");
  EXPECT_EQ(CurveText(backwards, TCurve::Count),
            "-0.0003 ; 1.23457e+06\r\n-0.0002 ; 2\r\n-0.0002 ; 7\r\n-0.0001 ; 3\r\n");
  EXPECT_EQ(CurveText(backwards, TCurve::Concentration),
            "-0.0003 ; 1.23457e+06\r\n-0.0002 ; 1e-05\r\n-0.0002 ; 500000\r\n"
            "-0.0001 ; 2.96296e+17\r\n");
  EXPECT_EQ(CurveText({}, TCurve::Count), "");

  // The record keeps every sample in step order, and forgets them at Apply.
  TRunRecord record;
  for (const TRunSample& sample : backwards) record.Add(sample, TBand{9.0, 1.0});
  EXPECT_EQ(record.Samples().size(), 4u);
  EXPECT_EQ(record.Samples()[2].InsideCount, 7);
  EXPECT_EQ(record.Statistics().Steps(), 4);
  record.Restart({});
  EXPECT_TRUE(record.Samples().empty());
  EXPECT_EQ(record.Statistics().Steps(), 0);
}

// The band is centred on the count the concentrations give, even where each
// species' truncated count is 0: eight species of 0.9 molecules in the cube
// expect 7.2 inside, and the mean is compared with that, not with 0.
TEST(RunInfo, TheBandIsCentredOnTheUntruncatedCount) {
  TVolume volume;
  SetDefaultParameters(volume);
  TSpeciesValues small;
  small.Concentration = 9e17;
  for (int i = 0; i < 8; ++i) AddSpecies(volume, small);
  ASSERT_EQ(volume.TotalInnerCount, 0);
  const std::optional<TBand> band = ExpectedBand(volume);
  ASSERT_TRUE(band);
  EXPECT_NEAR(band->Centre, 7.2, 1e-12);
  EXPECT_NEAR(band->HalfWidth, 2.0 * std::sqrt(7.2 * 0.999), 1e-12);
  TRunStatistics statistics;
  statistics.Expect(volume.TotalInnerCount, band);
  statistics.RestartAverages(Expectation(volume));
  statistics.Record(7, 0.0001, 6.95);
  const std::string text = statistics.ReadoutText('.');
  EXPECT_NE(text.find("inside 7, mean 7, ref 0, band 7.2\xC2\xB1"
                      "5.4\n"),
            std::string::npos)
      << text;
  EXPECT_NE(text.find("mean -2.8 %"), std::string::npos) << text;
  // Where the two agree the reference alone is shown.
  EXPECT_EQ(ExpectedBand(volume.TotalInnerCount + 719, 1e-18, 1e-15)->Centre, 719.0);
}

// With a time step of 0 nothing moves: the readout says the count never
// fills, reads the mean's offset as a number, and ends with the setup's note.
TEST(RunInfo, AStillRunReadsSensibly) {
  TEngineRun run;
  TSimulationValues still;
  still.TimeStep = 0.0;
  run.Do(TAction::Apply(still));
  TSpeciesValues species;
  species.Concentration = 7.2e18;
  run.Do(TAction::AddSpecies(species));
  for (int step = 0; step < 3; ++step) run.Step();
  TRunStatistics& statistics = run.Record().Statistics();
  statistics.Expect(run.Volume().TotalInnerCount, ExpectedBand(run.Volume()));
  statistics.SetNotes(SetupNotes(run.Volume(), '.'));
  EXPECT_EQ(statistics.ReadoutText('.'),
            "t 0 s, step 3\ninside 0, mean 0, ref 7, band 7.2\xC2\xB1"
            "5.4\n"
            "not in band yet, mean -100 %\n"
            "expected 0 of 7.199 (diffusion)\n"
            "63.2 % filled: expected never, run not yet\n"
            "SIM_DT: 0 is not above 0: the molecules never move and the time stands still");
  // A mean just off -100 % reads as a number, not 1e+02.
  TRunStatistics near;
  near.Expect(1170, TBand{1170.0, 68.0});
  near.Record(1, 0.1, std::nan(""));
  EXPECT_NE(near.ReadoutText('.').find("mean -100 %"), std::string::npos) << near.ReadoutText('.');
}
