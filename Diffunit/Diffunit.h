// The diffusion engine: two concentric axis-aligned cubes centred on the
// origin, molecular species that random-walk in the outer one, and a count of
// the molecules inside the inner one after every time step.
//
// Units are SI throughout: lengths in m, volumes in m^3, time in s,
// concentrations in molecules per m^3, diffusion coefficients in m^2/s,
// viscosity in Pa s, temperature in K. Counts are 32-bit signed integers
// obtained by truncating products toward zero.
//
// Every operation either completes or throws TError and leaves the engine and
// its random streams exactly as they were (except Step, see there). Each
// engine draws only from its own four streams (TVolume::Streams; Statg.h says
// which part of the step draws from which), so engines in one process never
// change each other's numbers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

#include "Statg/Statg.h"

// The one error type of the program: a message for the user.
class TError : public std::runtime_error {
 public:
  explicit TError(const std::string& message) : std::runtime_error(message) {}
};

// What populating throws when its progress callback asked it to stop
// (TVolume::SetProgressCallback); the engine is then as it was before.
class TCancelled : public TError {
 public:
  TCancelled() : TError("Cancelled") {}
};

// What SetParameters refuses: a rib whose cube, or the volume between the
// cubes, is beyond the range of a double. Says which rib, so that a caller
// can point at the value to mend.
class TRibError : public TError {
 public:
  enum class TRib { Outer, Inner };
  TRibError(TRib rib, const std::string& message) : TError(message), Rib(rib) {}
  TRib Rib;
};

// Messages of the floating-point errors, which stand in for infinities and NaNs.
extern const char* const FloatDivideByZeroMessage;  // "Floating point division by zero"
extern const char* const FloatInvalidMessage;       // "Invalid floating point operation"
extern const char* const FloatOverflowMessage;      // "Floating point overflow"

// Returns `value` when it is finite; throws the overflow error for an infinity
// and the invalid-operation error for a NaN (operands are always finite).
double CheckedResult(double value);
// numerator / denominator, with division by zero raising instead of yielding inf/NaN.
double CheckedDivide(double numerator, double denominator);

// One molecule position in metres, origin at the common centre of both cubes.
struct TMolCoord {
  double x = 0.0;
  double y = 0.0;
  double z = 0.0;
};

// The per-step report: (insideCount, innerCountTotal, insideConcentration [m^-3],
// totalConcentration [m^-3], time [s]).
using TStepCallback =
    std::function<void(std::int32_t insideCount, std::int32_t innerCountTotal,
                       double insideConcentration, double totalConcentration, double time)>;

class TVolume;
class TWorkers;
struct TKernel;  // a row of the kernel table, Kernels.h

// Threads an engine may share its work among: a whole number from 1 to this.
constexpr int MostThreads = 1024;

// How an engine does its work: how many threads, which step kernel, and how
// a step is cut among the threads. None of these changes a bit of any
// result, only how soon it comes. A default-made one holds the defaults
// given with each field; the environment is not read (SettingsFromEnvironment).
struct TEngineSettings {
  TEngineSettings();

  // Threads that Step (and the placement of a large species) shares the
  // molecules among, 1 to MostThreads; 1 keeps everything on the calling
  // thread. Default: the processors this process may run on (its affinity,
  // which taskset and containers narrow).
  int Threads;
  // The step kernel: a row of Kernels (Kernels.h) that this CPU supports.
  // Default: the fastest such row.
  const TKernel* Kernel;
  // Species with fewer active molecules than this are stepped on one
  // thread, since handing out the work would cost more than it saves
  // (default 10,000; at least 0).
  std::int32_t ParallelStepMinimum;
  // The fewest molecules the threads of a step hand each other at a time
  // (Workers.h; default 4,096, about 15 us of moving; at least 1).
  std::int32_t SmallestStepPiece;
  // The cache the threads of a step assume, in bytes: the scan runs no
  // further ahead of the moving threads than half of it (Workers.h).
  // Default: the last-level cache the system names, at most 32 MiB.
  std::size_t StepCacheBytes;
  // Whether a step shares its large species among the threads at all:
  // Measured (the default) shares only while shared steps are measurably
  // faster than unshared ones on this machine now, timed as the engine runs
  // (Workers.h, TShareJudge); Always and Never decide without timing.
  enum class TSharing { Measured, Always, Never };
  TSharing Sharing;
  // How a shared step settles its stream offsets: on at least this many
  // threads by the near-wall chain where the kernel has one, on fewer by the
  // scan (Workers.h). Default 3: the chain's list costs about half a moving
  // in all, which two threads do not win back, while from three on the scan
  // bounds the step and the chain does not.
  std::int32_t NearChainThreads;
};

// The default settings with what the environment asks for: KELVANE_THREADS
// (a whole number from 1 to 1024) and KELVANE_KERNEL (reference, avx2 or
// avx512). A value that cannot be followed is ignored and named in one line
// appended to `messages` (without a line end), for the program to show.
TEngineSettings SettingsFromEnvironment(std::vector<std::string>& messages);

// One molecular species: parameters, step width, counters and positions.
// Slots [0, InsideCount + OutsideCount) are active (inside the outer cube or on
// its wall); the rest are spare slots parked outside, activated at the wall.
class TSpecies {
 public:
  TVolume* Volume = nullptr;      // not owned; source of ribs, volumes and time step
  std::int32_t InnerCount = 0;    // molecules the inner cube holds at this concentration
  std::int32_t ShellCount = 0;    // molecules placed at the start, all in the shell
  std::int32_t InsideCount = 0;   // found inside the inner cube by the last step
  std::int32_t OutsideCount = 0;  // active and not inside after the last step
  std::int32_t SlotCount = 0;     // ShellCount + InnerCount: length of Molecules
  std::int32_t ActiveCount = 0;   // leading slots moved by the current step
  double Sigma = 0.0;             // m: deviation of one displacement on one axis
  double Diffusion = 0.0;         // m^2/s
  double Concentration = 0.0;     // m^-3
  double Radius = 0.0;            // m; kept and shown, never simulated
  std::vector<TMolCoord> Molecules;
  // Since the last Populate: the ribs it placed the molecules in (m) and the
  // steps taken. The expected filling curve follows from them.
  double PlacedOuterRib = 0.0;
  double PlacedInnerRib = 0.0;
  std::int64_t StepsTaken = 0;

  // Sets every field but Volume from the arguments and the current parameters
  // of Volume, and places ShellCount molecules uniformly in the eight corner
  // blocks of the shell (3 draws each from Volume's placement stream). Allocates
  // SlotCount * 24 bytes once. Throws TError, changing nothing, when the
  // counts do not fit or come out negative, or the array does not fit in memory.
  void Populate(double concentration, double diffusion, double radius);

  // One time step of this species, on the calling thread: moves every active
  // molecule by a Gaussian step on x, y, z in turn, re-injects escapes at the
  // outer wall, counts the molecules inside the inner cube and activates spare
  // slots at the wall. 36 uniform draws per molecule plus 4 per re-injection;
  // allocates nothing. (TVolume::Step shares the molecules among threads.)
  void Advance();

 private:
  // Fills the reserved `molecules` with `shellCount` placed molecules, from
  // placement stream state `placement`, and parked spare slots up to
  // `slotCount`, on the threads of `volume`, reporting progress; throws
  // TCancelled when told to stop.
  static void PlaceInShell(TVolume& volume, std::vector<TMolCoord>& molecules,
                           std::int32_t shellCount, std::int32_t slotCount, std::int32_t placement);
};

// The whole engine. The window owns exactly one.
class TVolume {
 public:
  double OuterRib = 0.0;             // b0, m: the outer cube spans -b0 .. +b0 on each axis
  double InnerRib = 0.0;             // b1, m: the inner cube spans -b1 .. +b1
  double Time = 0.0;                 // s, simulated time of the last step
  double TimeStep = 0.0;             // s
  double InnerVolume = 0.0;          // m^3, b1^3 (the cube of the rib, not of the span)
  double ShellVolume = 0.0;          // m^3, OuterVolume - InnerVolume
  double OuterVolume = 0.0;          // m^3, b0^3
  double Viscosity = 0.0;            // Pa s; read only by StokesEinstein
  double Temperature = 0.0;          // K; read only by StokesEinstein
  double TotalConcentration = 0.0;   // sum of the species' Concentration
  std::int32_t TotalInnerCount = 0;  // sum of the species' InnerCount
  TStepCallback OnStep;
  std::vector<TSpecies> Species;
  // The engine's four random streams: every draw of populating, stepping and
  // re-injecting comes from here and moves only these.
  TStreamStates Streams;

  // With the default TEngineSettings (the environment is not read), the
  // streams at the fixed seeds or at `seeds`.
  TVolume();
  explicit TVolume(const TStreamStates& seeds);
  ~TVolume();
  // Species point back here, so the engine stays where it was made.
  TVolume(const TVolume&) = delete;
  TVolume& operator=(const TVolume&) = delete;

  const TEngineSettings& Settings() const { return Config; }
  // Throws TError, changing nothing, for a value out of its range (see
  // TEngineSettings) or a kernel that is not a supported row of Kernels.
  void SetSettings(const TEngineSettings& settings);
  // Settings().Threads alone. Any count gives the same bits. Throws TError,
  // changing nothing, unless 1 <= threads <= MostThreads.
  void SetThreadCount(int threads);

  // What the engine has to say that is no error, or "" (once said, it is
  // forgotten): when the system refuses the threads asked for, the engine
  // goes on on one thread and says so here, in one line without a line end.
  std::string TakeNotice();

  // Long work (populating a large species) reports the share done, 0 to 1, now
  // and then (at least every ~50 ms of work) on the thread that called the
  // operation; returning false cancels it: the operation then throws TCancelled
  // and changes nothing (totals, species, molecules and
  // all four streams as before). Empty: no reports.
  using TProgressCallback = std::function<bool(double done)>;
  void SetProgressCallback(TProgressCallback progress);

  // Stores the parameters, derives the volumes and restarts the clock at 0.
  // The species keep what they were populated with. Throws TRibError,
  // changing nothing, when a volume is beyond the range of a double.
  void SetParameters(double outerRib, double innerRib, double viscosity, double temperature,
                     double timeStep);
  void SetStepCallback(TStepCallback callback);

  // Note the argument order: concentration, diffusion coefficient, radius.
  void AddSpecies(double concentration, double diffusion, double radius);
  // Throws the TError that AddSpecies would for these values, placing nothing.
  void CheckSpecies(double concentration, double diffusion) const;
  void ReplaceSpecies(int index, double concentration, double diffusion, double radius);
  void RemoveSpecies(int index);

  // Advances the clock by TimeStep, every species in order (its molecules
  // shared among the threads, see SetThreadCount), then reports through
  // OnStep. Throws the floating-point division error when InnerVolume
  // is 0; the clock and the species have then already advanced.
  void Step();

  double SpeciesConcentration(int index) const;
  double SpeciesRadius(int index) const;
  double SpeciesDiffusion(int index) const;

  // k T / (6 pi eta x): a diffusion coefficient from a radius, or a radius
  // from a diffusion coefficient, at the applied temperature and viscosity.
  double StokesEinstein(double x) const;

  // Bytes held by the molecule arrays of all species but `except`.
  std::size_t MoleculeBytes(const TSpecies* except = nullptr) const;

 private:
  friend class TSpecies;

  const TSpecies& At(int index) const;
  TSpecies& At(int index);
  // The worker threads for Config.Threads, made on first need; null when one
  // thread is asked for or the system refused threads.
  TWorkers* Workers();

  TEngineSettings Config;
  std::string Notice;
  std::unique_ptr<TWorkers> Pool;
  TProgressCallback Progress;
};

// Puts `p` at a uniform random point of the outer wall of `volume`: side and
// face from its placement stream, the two free coordinates from its Y and Z
// streams in x, y, z order. Exactly four draws.
void ReinjectAtWall(TVolume& volume, TMolCoord& p);
