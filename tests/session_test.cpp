// Sessions: session files and run CSV headers read back to the texts and
// numbers written, every malformed file named with its line, and the legend
// of a kept run.
#include <gtest/gtest.h>

#include <cmath>

#include "Session/Comparison.h"
#include "Session/Conversions.h"
#include "Session/MoleculePicture.h"
#include "Session/Parameters.h"
#include "Session/RunCsv.h"
#include "Session/SessionFile.h"
#include "Session/Tables.h"
#include "tests/test_support.h"

namespace {

// The message a text is refused with, or "" when it reads.
std::string Refusal(const std::string& text, const std::string& name = "bad.kelvane") {
  try {
    ParseSession(text, name);
  } catch (const TError& error) {
    return error.what();
  }
  return "";
}

const char* const HandWritten = R"(# two species in a wider inner cube
format = 1
[simulation]
SIM_B0 = "1E-5"
SIM_B1 = "2E-6"     # wider than the default
SIM_Q = "0.001"
SIM_T = "293.15"
SIM_DT = "0.0001"
[[species]]
SP_C = "7.2E20"
SP_A = "1.5E-9"
SP_D = "1.43E-10"
[[species]]
SP_C = "1e20"
SP_A = "3E-9"
SP_D = "7.15E-11"
)";

}  // namespace

TEST(Session, HandWrittenFileReadsItsTextsAndWritesBackTheSame) {
  const TSession session = ParseSession(HandWritten, "two.kelvane");
  EXPECT_EQ(session.SimulationTexts[1], "2E-6");
  EXPECT_EQ(session.Simulation.InnerRib, 2e-6);
  ASSERT_EQ(session.Species.size(), 2u);
  EXPECT_EQ(session.SpeciesTexts[1].Concentration, "1e20");
  EXPECT_EQ(session.Species[1].Diffusion, 7.15e-11);
  EXPECT_FALSE(session.SpeciesChangedWhileRunning);
  const TSession again = ParseSession(SessionFileText(session), "again.kelvane");
  EXPECT_EQ(again.SimulationTexts, session.SimulationTexts);
  EXPECT_EQ(again.SpeciesTexts[1].Diffusion, "7.15E-11");
  EXPECT_EQ(again.Species[0], session.Species[0]);
}

// A run CSV's header holds every value to the last bit; an older one says
// when its species changed while it ran.
TEST(Session, RunCsvHeaderIsASession) {
  TVolume volume;
  volume.SetParameters(1e-5, 1e-6, 0.001, 293.15, 0.000123456789);
  AddSpecies(volume, {3e20, 3e-9, 1.0 / 3.0 * 1e-10});
  const std::string header = RunCsvHeader(RunCsvSetupLines(volume), TStreamStates(), {});
  const TSession session = ParseSession(header + "0.1,2,3,4,5,6\n", "run.csv");
  EXPECT_EQ(session.Simulation.TimeStep, 0.000123456789);
  EXPECT_EQ(session.Species[0].Diffusion, 1.0 / 3.0 * 1e-10);
  // Its texts as the tables write numbers, to the last bit (they used to
  // read "1e-05" in the tables and in a session saved from them).
  EXPECT_EQ(session.SimulationTexts[0], "1E-5");
  EXPECT_EQ(session.SimulationTexts[4], "0.000123456789");
  EXPECT_EQ(session.SpeciesTexts[0].Concentration, "3E20");
  EXPECT_EQ(session.SpeciesTexts[0].Diffusion, "3.3333333333333335E-11");
  const double aboveTwo = std::nextafter(2e-6, 1.0);  // 15 digits cannot tell it from 2E-6
  EXPECT_EQ(ExactTableText(aboveTwo), "2.0000000000000003E-6");
  EXPECT_EQ(TextToNumber(ExactTableText(aboveTwo), '.'), aboveTwo);
  EXPECT_TRUE(std::signbit(TextToNumber(ExactTableText(-0.0), '.')));  // a fuzzer's find
  EXPECT_FALSE(session.SpeciesChangedWhileRunning);
  EXPECT_TRUE(session.Actions.empty());
  std::string older = header;
  older.insert(older.find("t [s]"),
               "# species changed while the run went on: the species above are the last ones; "
               "opened as a session they start again at time 0\n");
  EXPECT_TRUE(ParseSession(older, "run.csv").SpeciesChangedWhileRunning);
}

TEST(Session, EveryMalformedFileIsNamedWithItsLine) {
  const std::string simulation =
      "[simulation]\nSIM_B0 = '1E-5'\nSIM_B1 = '1E-6'\nSIM_Q = '0.001'\nSIM_T = '293.15'\n"
      "SIM_DT = '0.0001'\n";
  const std::string species = "[[species]]\nSP_C = '7.2E20'\nSP_A = '1.5E-9'\nSP_D = '1.43E-10'\n";
  const struct {
    std::string text;
    const char* refusal;
  } cases[] = {
      {"format = 1\n" + simulation + species, ""},
      {"format = 2\n" + simulation + species, "bad.kelvane:1: format 2 comes from a newer Kelvane"},
      {simulation + species, "bad.kelvane:1: no format version"},
      {" \n\n", "bad.kelvane:1: the file is empty: no session in it"},
      {"format = 1\n" + simulation + "[[species]]\nSP_C = '7.2E20'\nSP_A = '1.5E-9'\n",
       "bad.kelvane:8: species 1 has no SP_D"},
      {"format = 1\n" + std::string(simulation).replace(simulation.find("1E-5"), 4, "1,5E-5") +
           species,
       "bad.kelvane:3: SIM_B0: '1,5E-5' is not a valid"},
      {"format = 1\n[simulation]\nSIM_B0 = '1E-5'\n" + species,
       "bad.kelvane:2: [simulation] has no SIM_B1"},
      {"format = 1\n" + simulation + species + "colour = 'red'\n",
       "bad.kelvane:12: unknown key 'colour'"},
      {"format = 1\n" + simulation + species + "SP_X = '1'\n",
       "bad.kelvane:12: unknown key 'SP_X'"},
      {"format = 1\n" + simulation + "[[species]]\nSP_C = 'many'\nSP_A = '1.5E-9'\nSP_D = '1'\n",
       "bad.kelvane:9: species 1 SP_C: 'many' is not a valid"},
      {"format = 1\n" + simulation.substr(0, 40), "bad.kelvane:4: Error while parsing"},
      {"format = 1\n" + simulation, "bad.kelvane:"},  // no species
      {"format = 1\n[simulation]\nSIM_B0 = 1e-5\n",
       "bad.kelvane:3: SIM_B0 must be a text in quotes"},
      {"t [s],inside count\n0.0001,0\n", "bad.kelvane:1: a run CSV without its '#' header lines"},
      {"# Kelvane 0.1 run export\n# SIM_B0 External Cube Rib [m]: 1e-05\n",
       "bad.kelvane:2: the file ends within its header"},
      {"# Kelvane 0.1 run export\n# species 2: SP_C C: 1\nt [s],\n",
       "bad.kelvane:2: expected species 1"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string refusal = Refusal(c.text);
    if (*c.refusal == '\0')
      EXPECT_EQ(refusal, "");
    else
      EXPECT_EQ(refusal.rfind(c.refusal, 0), 0u) << refusal;
    EXPECT_EQ(refusal.find('\n'), std::string::npos);
  }
  TWorkDir work;
  try {
    ReadSession("missing.kelvane");
    ADD_FAILURE();
  } catch (const TError& error) {
    EXPECT_STREQ(error.what(), "Cannot read missing.kelvane: No such file or directory");
  }
}

TEST(Session, KeptRunLegendSaysWhatDiffersAndCsvRowsReadBack) {
  const TSession now = ParseSession(HandWritten, "now");
  TSession kept = now;
  EXPECT_EQ(SetupDifference(kept, now, '.'), "same setup");
  kept.Simulation.TimeStep = 0.0002;
  kept.Species[1].Diffusion = 7.5e-11;
  EXPECT_EQ(SetupDifference(kept, now, ','), "dt 0,0002, D2 7,5E-11");
  kept.Species.pop_back();
  EXPECT_EQ(SetupDifference(kept, now, '.'), "dt 0.0002, 1 species");

  TWorkDir work;
  TVolume volume;
  SetDefaultParameters(volume);
  AddDefaultSpecies(volume);
  const std::string header = RunCsvHeader(RunCsvSetupLines(volume), TStreamStates(), {});
  WriteFile("run.csv", header + "0.0001,0,719,0,7.2e+20,0.3\n0.0002,3,719,3e+18,7.2e+20,\n");
  const TKeptRun run = ReadKeptRun("run.csv");
  EXPECT_EQ(run.Name, "run.csv");
  EXPECT_EQ(run.Times, (std::vector<double>{0.0001, 0.0002}));
  EXPECT_EQ(run.Counts, (std::vector<double>{0, 3}));
  EXPECT_EQ(run.Concentrations[1], 3e18);
  WriteFile("run.csv", header + "0.0001,0,719,0,7.2e+20\n0.0002,three,719\n");
  try {
    ReadKeptRun("run.csv");
    ADD_FAILURE();
  } catch (const TError& error) {
    EXPECT_STREQ(error.what(), "run.csv:12: not a row of the run");
  }
}

// The message `read` throws, or "" when it reads.
template <class TRead>
std::string MessageOf(TRead read) {
  try {
    read();
  } catch (const TError& error) {
    return error.what();
  }
  return "";
}

// The tables read as Apply reads them: the first bad text in the order dt, T,
// eta, b1, b0 is named; the user's separator is read, and saved as '.'; the
// species shown is saved with the table's texts, the others as the engine
// holds them.
TEST(Session, TablesReadInTheirOrderAndSaveWithThePoint) {
  TSimulationTexts texts = {"1E-5", "bad b1", "0,001", "bad T", "0,0001"};
  const auto apply = [&] { ReadSimulationTable(texts, ','); };
  EXPECT_EQ(MessageOf(apply), "'bad T' is not a valid floating point value");
  texts[3] = "293,15";
  EXPECT_EQ(MessageOf(apply), "'bad b1' is not a valid floating point value");
  texts[1] = "1E-6";
  EXPECT_EQ(ReadSimulationTable(texts, ','), TSimulationValues{});
  texts[4] = "-0,0001";
  EXPECT_EQ(MessageOf(apply).substr(0, 25), "SIM_DT: -0,0001 is below ");
  texts[4] = "0,0001";
  EXPECT_EQ(MessageOf([] {
              ReadSpeciesTable({"x", "y", "z"}, '.');
            }),
            "'y' is not a valid floating point value");

  TVolume engine;
  SetDefaultParameters(engine);
  AddDefaultSpecies(engine);
  AddSpecies(engine, {1e20, 2e-9, 1e-10});
  EXPECT_EQ(MessageOf([&] {
              TablesSession(texts, engine, 1, {"1E20", "2E-9", "x"}, ',');
            }),
            "SP_D: 'x' is not a valid floating point value");
  const TSession saved = TablesSession(texts, engine, 1, {"3,5E20", "2E-9", "1E-10"}, ',');
  EXPECT_EQ(saved.SimulationTexts[4], "0.0001");
  EXPECT_EQ(saved.SpeciesTexts[0].Concentration, "7.2E20");
  EXPECT_EQ(saved.SpeciesTexts[1].Concentration, "3.5E20");
  EXPECT_EQ(SpeciesTableTexts(saved.Species[1], ',').Concentration, "3,5E20");
}

// Kept runs are numbered while any are kept, refused beyond eight or without
// steps, and labelled by what differs from the run now.
TEST(Session, KeptRunsAreNumberedAndLimited) {
  TKeptRunList kept;
  TSession now;
  now.Species.push_back(TSpeciesValues{});
  EXPECT_EQ(MessageOf([&] { kept.Keep({}, now); }), "The run has no steps to keep yet");
  const std::vector<TRunSample> samples = {{1e-4, 3, 719, 3e18, 7.2e20, 2.0}};
  EXPECT_EQ(kept.Keep(samples, now).Counts, std::vector<double>{3.0});
  TSession other = now;
  other.Simulation.TimeStep = 2e-4;
  kept.Keep(samples, other);
  EXPECT_EQ(kept.Labels(now, ','),
            (std::vector<std::string>{"kept 1: same setup", "kept 2: dt 0,0002"}));
  kept.Remove(0);
  kept.Keep(samples, now);  // numbers are never given twice while runs are kept
  EXPECT_EQ(kept.Labels(now, '.')[1], "kept 3: same setup");
  while (kept.Count() < TKeptRunList::Most) kept.Keep(samples, now);
  EXPECT_EQ(MessageOf([&] { kept.Keep(samples, now); }),
            "The charts hold 8 kept runs already: remove one (Runs) first");
  kept.Clear();
  EXPECT_EQ(kept.Keep(samples, now).Name, "kept 1");
}

// The lines above the molecule picture, as the window and the page write
// them: exact counts when every slot was read, "about" the scaled ones
// otherwise, and why a picture is empty.
TEST(Session, MoleculePictureLinesScaleWhatWasRead) {
  const auto grouped = [](std::int64_t n) {
    std::string digits = std::to_string(n);
    for (int at = static_cast<int>(digits.size()) - 3; at > 0; at -= 3) digits.insert(at, ",");
    return digits;
  };
  TMoleculePicture picture;
  picture.Drawable = true;
  picture.Active = 719999;
  picture.Stride = 4;
  picture.InSlab = 17091;
  picture.Inside = 141;
  picture.OnWall = 420;
  picture.Species = {std::vector<TViewPoint>(16671)};
  picture.Wall = std::vector<TViewPoint>(420);
  EXPECT_EQ(MoleculePictureLines(picture, grouped),
            (std::vector<std::string>{"Slab |z| <= inner rib, seen from +z: about 68,364 molecules",
                                      "Inside the inner cube: about 564",
                                      "On the x or y outer wall (red): about 1,680",
                                      "17,091 drawn of 719,999 molecules (one slot in 4 read)"}));

  picture.Stride = 1;
  picture.Inside = 0;
  EXPECT_EQ(MoleculePictureLines(picture, grouped)[1], "Inside the inner cube: 0");
  EXPECT_EQ(MoleculePictureLines(picture, grouped)[3],
            "17,091 drawn of 719,999 molecules (every slot read)");

  // The defaults just placed in the shell's eight corner blocks: every
  // coordinate beyond the inner rib, so the slab is empty.
  TVolume engine;
  SetDefaultParameters(engine);
  AddDefaultSpecies(engine);
  EXPECT_EQ(
      MoleculePictureLines(TakeMoleculePicture(engine), grouped),
      (std::vector<std::string>{"Slab |z| <= inner rib, seen from +z: 0 molecules",
                                "Inside the inner cube: 0", "On the x or y outer wall (red): 0",
                                "0 drawn of 719,280 molecules (one slot in 4 read)"}));

  picture.Drawable = false;
  EXPECT_EQ(
      MoleculePictureLines(picture, grouped),
      std::vector<std::string>{"Ribs that cannot be drawn: 0 < inner rib <= outer rib is needed"});
  picture.Species.clear();
  EXPECT_EQ(MoleculePictureLines(picture, grouped),
            std::vector<std::string>{"No species: nothing to show"});
}
