#include "app/RunCommand.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <sstream>

#include "Session/EngineRun.h"
#include "Session/OutputFile.h"
#include "Session/RunCsv.h"
#include "Session/Seeds.h"
#include "tests/test_support.h"

namespace {

struct TResult {
  int Code;
  std::string Out;
  std::string Err;
};

TResult Command(const std::vector<std::string>& arguments, volatile std::sig_atomic_t stop = 0) {
  std::ostringstream out, err;
  TConsole console{out, err, false, &stop};
  const int code = RunCommand(arguments, console);
  return {code, out.str(), err.str()};
}

// Only the files the test made itself: no partial output, no temporary file.
std::vector<std::string> Entries(const char* folder = ".") {
  std::vector<std::string> names;
  for (const auto& entry : std::filesystem::directory_iterator(folder))
    names.push_back(entry.path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

class RunCommandTest : public ::testing::Test {
  TWorkDir WorkDir;
};

}  // namespace

// The defaults' known run: the second step finds 1 molecule inside, the
// ninth 10 (the engine's pinned answers), in the window's export format.
TEST_F(RunCommandTest, KnownRunsGiveTheirCurvesAndCsv) {
  const TResult result = Command({"--steps", "9", "--curves", "out"});
  ASSERT_EQ(result.Code, RunSucceeded) << result.Err;
  EXPECT_EQ(result.Err, "");
  const std::string counts = ReadFile("out/N1(t).txt");
  EXPECT_EQ(std::count(counts.begin(), counts.end(), '\n'), 9);
  EXPECT_NE(counts.find("0.0002 ; 1\r\n"), std::string::npos);
  EXPECT_EQ(counts.substr(counts.size() - 13), "0.0009 ; 10\r\n");
  const std::string concentrations = ReadFile("out/C1(t).txt");
  EXPECT_EQ(concentrations.substr(concentrations.size() - 16), "0.0009 ; 1e+19\r\n");
  // The CSV went to standard output: header, column names, one row per step.
  EXPECT_EQ(result.Out.rfind("# Kelvane ", 0), 0u);
  EXPECT_NE(result.Out.find("molecules 719999\n"), std::string::npos);
  // The expected count by the diffusion equation after 9 steps: 8.18874330067736
  // by the cosine series in 40 digits.
  const std::string lastRow =
      "0.0009000000000000002,10,719,1.0000000000000002e+19,7.2e+20,8.188743300677364\n";
  EXPECT_EQ(result.Out.substr(result.Out.size() - lastRow.size()), lastRow);

  // The default species given by its radius is the same species (Stokes-
  // Einstein gives 1.43E-10 at 3 digits), so the same run to the byte.
  const TResult byRadius = Command({"--species-radius", "7.2E20,1.5E-9", "--until", "0.0009",
                                    "--curves", "radius", "--csv", "radius/run.csv"});
  ASSERT_EQ(byRadius.Code, RunSucceeded) << byRadius.Err;
  EXPECT_EQ(ReadFile("radius/N1(t).txt"), counts);
  EXPECT_EQ(ReadFile("radius/C1(t).txt"), concentrations);
  EXPECT_EQ(ReadFile("radius/run.csv"), result.Out);

  // Another inner cube: the default species is placed again for it, and the
  // reference count is the new cube's, 7.2E20 x (2E-6)^3 truncated.
  const TResult wider = Command({"--inner-rib", "2E-6", "--steps", "1"});
  EXPECT_NE(wider.Out.find("\n0.0001,0,5759,0,7.2e+20,0.43185820910180656\n"), std::string::npos)
      << wider.Out;
}

// Every refusal: exit 2, one line naming the option, and the file the run
// would have replaced keeps its bytes, with nothing else left beside it.
TEST_F(RunCommandTest, BadInputIsNamedAndWritesNothing) {
  WriteFile("run.csv", "kept");
  const std::vector<std::string> output = {"--csv", "run.csv"};
  const struct {
    std::vector<std::string> arguments;
    const char* named;
  } cases[] = {
      {{"--steps", "3", "--bogus"}, "--bogus"},
      {{"--steps"}, "--steps"},
      {{"--steps", "3x"}, "--steps"},
      {{"--until", "-1"}, "--until"},
      {{"--steps", "1", "--until", "1"}, "--until"},
      {{"--outer-rib", "1e-5"}, "--steps or --until"},
      {{"--steps", "1", "--outer-rib", "1,5e-5"}, "--outer-rib"},
      {{"--steps", "1", "--inner-rib", "2E-5"}, "--inner-rib"},
      {{"--steps", "1", "--outer-rib", "1e120", "--inner-rib", "1e-6"}, "--outer-rib"},
      {{"--steps", "1", "--time-step", "-1"}, "--time-step"},
      {{"--until", "1", "--time-step", "0"}, "--until"},
      {{"--steps", "1", "--threads", "1025"}, "--threads"},
      {{"--steps", "1", "--species", "7.2E20,1.5E-9"}, "--species 7.2E20,1.5E-9"},
      {{"--steps", "1", "--species", "7.2E20,1.5E-9,-1", "--species", "1,1,1"}, "--species 7.2E20"},
      {{"--steps", "1", "--species", "1,1,1", "extra"}, "extra"},
      {{"--steps", "1", "--species", "1E20,1E-9,1E-10", "--species", "7.2E25,1E-9,1E-10"},
       "--species 7.2E25,1E-9,1E-10"},  // over 2^31 molecules
      {{"--steps", "1", "--species-radius", "1E20,0"}, "--species-radius 1E20,0"},
      {{"--steps", "1", "--csv", "run.csv/run.csv"}, "--csv"},
      {{"--steps", "1", "--session", "missing.kelvane"}, "--session: Cannot read missing.kelvane"},
      {{"--steps", "1", "--session", "newer.kelvane"}, "--session: newer.kelvane:1: format 9"},
  };
  WriteFile("newer.kelvane", "format = 9\n");
  for (const auto& c : cases) {
    std::vector<std::string> arguments = c.arguments;
    // The refusal comes before any output is opened, whichever it is.
    arguments.insert(arguments.begin(), output.begin(), output.end());
    const TResult result = Command(arguments);
    SCOPED_TRACE(result.Err);
    EXPECT_EQ(result.Code, BadInput);
    EXPECT_EQ(result.Err.rfind(std::string("kelvane-run: "), 0), 0u);
    EXPECT_NE(result.Err.find(c.named), std::string::npos);
    EXPECT_EQ(std::count(result.Err.begin(), result.Err.end(), '\n'), 1);
    EXPECT_EQ(result.Out, "");
  }
  // A folder where the curves should go, and a file where a folder should be.
  EXPECT_EQ(Command({"--steps", "1", "--csv", "."}).Code, BadInput);
  EXPECT_EQ(Command({"--steps", "1", "--csv", "-", "--curves", "run.csv"}).Code, BadInput);
  EXPECT_EQ(ReadFile("run.csv"), "kept");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"newer.kelvane", "run.csv"}));
}

// A step that fails keeps the steps before it; a stopped run and an output
// that cannot be put in place leave the old files as they were.
TEST_F(RunCommandTest, FailuresKeepWhatTheyShould) {
  // A time step so long that the clock overflows on the second step.
  TResult result = Command({"--steps", "5", "--time-step", "1E308", "--csv", "run.csv"});
  EXPECT_EQ(result.Code, RunFailed);
  EXPECT_EQ(result.Err,
            "kelvane-run: step 2 failed: Floating point overflow (the outputs hold the 1 step "
            "before it)\n");
  const std::string csv = ReadFile("run.csv");
  const std::string onlyRow = csv.substr(csv.find("\n1e+308,"));
  EXPECT_EQ(onlyRow.rfind("\n1e+308,0,719,0,7.2e+20,", 0), 0u);
  EXPECT_EQ(std::count(onlyRow.begin(), onlyRow.end(), '\n'), 2);

  WriteFile("run.csv", "kept");
  result = Command({"--steps", "5", "--csv", "run.csv"}, 1);
  EXPECT_EQ(result.Code, Interrupted);
  EXPECT_EQ(ReadFile("run.csv"), "kept");

  // The target became a folder while the run went on: the new file goes.
  {
    TOutputFile file("target");
    file.Write("new");
    std::filesystem::create_directories("target/inside");
    EXPECT_THROW(file.Commit(), TError);
  }
  EXPECT_EQ(Entries(), (std::vector<std::string>{"run.csv", "target"}));
}

// A run CSV runs again to the same bytes, whatever its values; an option
// beside it overrides the value it holds.
TEST_F(RunCommandTest, SessionReplaysItsRun) {
  ASSERT_EQ(Command({"--steps", "30", "--time-step", "0.000123456789", "--inner-rib", "2E-6",
                     "--species-radius", "3E20,3E-9", "--species", "1E20,1E-9,2E-10", "--csv",
                     "first.csv"})
                .Code,
            RunSucceeded);
  ASSERT_EQ(Command({"--session", "first.csv", "--steps", "30", "--csv", "again.csv"}).Code,
            RunSucceeded);
  EXPECT_EQ(ReadFile("again.csv"), ReadFile("first.csv"));
  const TResult wider = Command({"--session", "first.csv", "--steps", "1", "--inner-rib", "3E-6"});
  EXPECT_NE(wider.Out.find("SIM_B1 Internal Cube Rib [m]: 3e-06\n"), std::string::npos);
  EXPECT_NE(wider.Out.find("SIM_DT Simulation Time Step [s]: 0.000123456789\n"), std::string::npos);
  EXPECT_NE(wider.Out.find("# species 2: SP_C Concentration [m-3]: 1e+20"), std::string::npos);
}

// Replicates: the seeds of replicate N are splitmix64's of 4N + stream (values
// worked out once by a separate implementation of the formula), the run CSV
// records them, --session replays them, and other replicates give other runs.
TEST_F(RunCommandTest, ReplicateSeedsAreRecordedAndReplayed) {
  const auto seeds = [](std::int32_t p, std::int32_t x, std::int32_t y, std::int32_t z) {
    TStreamStates states;
    states.Placement = p;
    states.X = x;
    states.Y = y;
    states.Z = z;
    return states;
  };
  EXPECT_EQ(ReplicateSeeds(0), seeds(2065550767, 151149761, 479680207, 1526829037));
  EXPECT_EQ(ReplicateSeeds(7), seeds(1419711597, 134336369, 1920077263, 127920875));
  EXPECT_EQ(ReplicateSeeds(INT64_MAX), seeds(731594299, 899785181, 972335137, 459615265));

  ASSERT_EQ(Command({"--steps", "12", "--seed", "7", "--csv", "seven.csv"}).Code, RunSucceeded);
  const std::string seven = ReadFile("seven.csv");
  EXPECT_NE(seven.find("# seeds: placement 1419711597; x 134336369; y 1920077263; z 127920875\n"),
            std::string::npos);
  ASSERT_EQ(Command({"--session", "seven.csv", "--steps", "12", "--csv", "again.csv"}).Code,
            RunSucceeded);
  EXPECT_EQ(ReadFile("again.csv"), seven);
  // Without --seed the fixed seeds, as before; another replicate, other counts.
  const TResult fixed = Command({"--steps", "12"});
  EXPECT_NE(fixed.Out.find("# seeds: placement 5555555; x 5324575; y 5548235; z 5564875\n"),
            std::string::npos);
  const TResult eight = Command({"--steps", "12", "--seed", "8"});
  const auto rows = [](const std::string& csv) { return csv.substr(csv.find("t [s],")); };
  EXPECT_NE(rows(eight.Out), rows(seven));
  EXPECT_NE(rows(fixed.Out), rows(seven));
  for (const char* bad : {"-1", "x", "1.5", "9223372036854775808"}) {
    const TResult refused = Command({"--steps", "1", "--seed", bad});
    EXPECT_EQ(refused.Code, BadInput) << bad;
    EXPECT_EQ(refused.Err.rfind("kelvane-run: --seed: ", 0), 0u) << refused.Err;
  }
}

// A run whose species changed while it ran replays from its actions: the
// steps asked count from its first row, and an action falls where the run
// reaches it (the header then lists only the actions reached).
TEST_F(RunCommandTest, RunCsvReplaysItsActionsForAnyLength) {
  TEngineRun run;
  const TSpeciesValues small{7.2e18, 1.5e-9, 1.43e-10};
  run.Do(TAction::Apply(TSimulationValues{}));
  run.Do(TAction::AddSpecies(small));
  for (int i = 0; i < 4; ++i) run.Step();
  TSimulationValues wider;
  wider.InnerRib = 2e-6;
  run.Do(TAction::Apply(wider));
  for (int i = 0; i < 6; ++i) run.Step();
  run.Do(TAction::AddSpecies(small));
  for (int i = 0; i < 6; ++i) run.Step();
  WriteFile("window.csv", RunCsv(run));

  ASSERT_EQ(Command({"--session", "window.csv", "--steps", "12", "--csv", "12.csv"}).Code,
            RunSucceeded);
  EXPECT_EQ(ReadFile("12.csv"), RunCsv(run));
  // Shorter than the species change: as the run stood before it.
  ASSERT_EQ(Command({"--session", "window.csv", "--until", "0.0005", "--csv", "5.csv"}).Code,
            RunSucceeded);
  const std::string five = ReadFile("5.csv");
  EXPECT_EQ(five.find("# > add species SP_C 7.2e+18; SP_A 1.5e-09; SP_D 1.43e-10\n# > steps 6"),
            std::string::npos);
  const std::string twelve = RunCsv(run);
  const std::size_t firstRow = twelve.find("\n0.0001,") + 1;
  EXPECT_EQ(five.substr(five.find("\n0.0001,") + 1),
            twelve.substr(firstRow, five.size() - (five.find("\n0.0001,") + 1)));
}

// The species fit alone but not together: their total concentration
// overflows. Nothing is run or written.
TEST_F(RunCommandTest, SessionWhoseSpeciesOverflowTogetherIsRefusedWhole) {
  WriteFile("two.kelvane",
            "format = 1\n[simulation]\nSIM_B0 = '1E-200'\nSIM_B1 = '1E-201'\nSIM_Q = '0.001'\n"
            "SIM_T = '293.15'\nSIM_DT = '0.0001'\n[[species]]\nSP_C = '1E308'\nSP_A = '1.5E-9'\n"
            "SP_D = '1.43E-10'\n[[species]]\nSP_C = '1E308'\nSP_A = '1.5E-9'\nSP_D = '1.43E-10'\n");
  const TResult result = Command({"--session", "two.kelvane", "--steps", "3", "--csv", "x.csv"});
  EXPECT_EQ(result.Code, BadInput);
  EXPECT_EQ(result.Err, "kelvane-run: --session two.kelvane: species 2: Floating point overflow\n");
  EXPECT_EQ(Entries(), (std::vector<std::string>{"two.kelvane"}));
}

TEST_F(RunCommandTest, HelpAndVersion) {
  TResult result = Command({"--version"});
  EXPECT_EQ(result.Code, RunSucceeded);
  EXPECT_EQ(result.Out.rfind("kelvane-run ", 0), 0u);
  result = Command({"--help"});
  EXPECT_EQ(result.Code, RunSucceeded);
  for (const char* option :
       {"--outer-rib", "--species-radius", "--until", "--curves", "Exit status"})
    EXPECT_NE(result.Out.find(option), std::string::npos) << option;
  // Within 80 columns (the defaults are filled in from the window's constants).
  std::istringstream lines(result.Out);
  for (std::string line; std::getline(lines, line);) EXPECT_LE(line.size(), 80u) << line;
}

// KELVANE_THREADS and KELVANE_KERNEL reach the run; what cannot be followed
// is named on standard error, once, before the run goes on as without it,
// and the outputs are the same bytes whatever the threads and kernel.
TEST_F(RunCommandTest, EnvironmentSettingsAreNamedAndChangeNoOutput) {
  const TResult plain = Command({"--steps", "3"});
  ASSERT_EQ(plain.Code, RunSucceeded) << plain.Err;
  setenv("KELVANE_THREADS", "0", 1);
  setenv("KELVANE_KERNEL", "scalar", 1);
  const TResult named = Command({"--steps", "3"});
  setenv("KELVANE_THREADS", "3", 1);
  setenv("KELVANE_KERNEL", "reference", 1);
  const TResult followed = Command({"--steps", "3", "--threads", "2"});
  unsetenv("KELVANE_THREADS");
  unsetenv("KELVANE_KERNEL");
  ASSERT_EQ(named.Code, RunSucceeded) << named.Err;
  EXPECT_EQ(named.Err.rfind("Kelvane: KELVANE_THREADS=\"0\" is not a whole number from 1 to 1024; "
                            "ignored\nKelvane: KELVANE_KERNEL=\"scalar\" is not a kernel "
                            "(reference, avx2 or avx512); using ",
                            0),
            0u)
      << named.Err;
  EXPECT_EQ(std::count(named.Err.begin(), named.Err.end(), '\n'), 2) << named.Err;
  ASSERT_EQ(followed.Code, RunSucceeded) << followed.Err;
  EXPECT_EQ(followed.Err, "");
  EXPECT_EQ(named.Out, plain.Out);
  EXPECT_EQ(followed.Out, plain.Out);
}

// Values the engine cannot run are refused in the window's words, at the
// line of the session file that gave them; values it runs but that make no
// sense run, with one note each, naming the file's line or the option given.
TEST_F(RunCommandTest, SessionValuesAreRefusedOrNotedByTheirLine) {
  WriteFile("full.kelvane", SessionWith("1E-5", "0.0001"));
  WriteFile("back.kelvane", SessionWith("1E-6", "-0.0001"));
  const TResult full = Command({"--session", "full.kelvane", "--steps", "2"});
  EXPECT_EQ(full.Code, RunSucceeded);
  EXPECT_EQ(full.Err,
            "kelvane-run: note: full.kelvane:5: SIM_B1: 1E-5 is not below the outer rib 1E-5: no "
            "medium is left between the cubes\n");
  // All 7200 molecules are the cube's, which is the whole medium: the
  // reference counts them all, and no expected curve has a shell to fill from.
  EXPECT_NE(full.Out.find("\n0.0001,0,7200,0,7.2e+18,\n"), std::string::npos) << full.Out;
  const TResult back = Command({"--session", "back.kelvane", "--steps", "2"});
  EXPECT_EQ(back.Code, BadInput);
  EXPECT_EQ(back.Err,
            "kelvane-run: --session: back.kelvane:6: SIM_DT: -0.0001 is below 0: a step of "
            "negative time cannot be run\n");
  EXPECT_EQ(back.Out, "");

  // An option over the file is named as the option; the file's other values
  // keep their lines.
  const TResult moved =
      Command({"--session", "full.kelvane", "--outer-rib", "1E-6", "--steps", "1"});
  EXPECT_EQ(moved.Code, BadInput);
  EXPECT_EQ(moved.Err,
            "kelvane-run: full.kelvane:5: SIM_B1: 1E-5 is above the outer rib 1E-6: the medium "
            "between the cubes would have a negative volume\n");
  const TResult given = Command({"--session", "full.kelvane", "--inner-rib", "1E-6", "--time-step",
                                 "0", "--viscosity", "0", "--steps", "1"});
  EXPECT_EQ(given.Code, RunSucceeded);
  EXPECT_EQ(given.Err,
            "kelvane-run: note: --viscosity: 0 is not above 0: no medium has such a viscosity\n"
            "kelvane-run: note: --time-step: 0 is not above 0: the molecules never move and the "
            "time stands still\n");
  const TResult species = Command({"--species", "7.2E18,0,-1E-10", "--steps", "1"});
  EXPECT_EQ(species.Err,
            "kelvane-run: --species 7.2E18,0,-1E-10: SP_D: -1E-10 is below 0: a negative spread "
            "cannot be walked\n");
}
