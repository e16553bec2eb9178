#include "Diffunit/Diffunit.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <limits>
#include <new>
#include <thread>
#include <utility>

#include "Diffunit/Kernels.h"
#include "Diffunit/Platform.h"
#include "Diffunit/Workers.h"
#include "Statg/Statg.h"

const char* const FloatDivideByZeroMessage = "Floating point division by zero";
const char* const FloatInvalidMessage = "Invalid floating point operation";
const char* const FloatOverflowMessage = "Floating point overflow";

double CheckedResult(double value) {
  if (std::isnan(value)) throw TError(FloatInvalidMessage);
  if (std::isinf(value)) throw TError(FloatOverflowMessage);
  return value;
}

double CheckedDivide(double numerator, double denominator) {
  if (denominator == 0.0)
    throw TError(numerator == 0.0 || std::isnan(numerator) ? FloatInvalidMessage
                                                           : FloatDivideByZeroMessage);
  return CheckedResult(numerator / denominator);
}

namespace {

// Boltzmann constant [J/K] and 6 pi as the program has always used them.
constexpr double Boltzmann = 1.38e-23;
constexpr double SixPi = 18.84955592153876;

std::string FormatNumber(double value) {
  char text[32];
  std::snprintf(text, sizeof text, "%g", value);
  return text;
}

// A molecule count: the product truncated toward zero. Refuses what would not
// fit a 32-bit count, since a wrapped or negative count would size the
// molecule array wrongly.
std::int32_t TruncatedCount(double product, const char* what) {
  if (product <= -1.0)
    throw TError(std::string("The ") + what + " comes out negative (" + FormatNumber(product) +
                 " molecules): the concentration must not be negative and the internal cube "
                 "rib must be smaller than the external cube rib");
  if (product >= 2147483648.0)
    throw TError(std::string("The ") + what + " is too large: " + FormatNumber(product) +
                 " molecules, at most 2147483647 are possible");
  return static_cast<std::int32_t>(product);  // truncates toward zero
}

// Molecule totals are 32-bit counts too.
void RefuseBeyondCountRange(std::int64_t count, const char* where) {
  if (count > std::numeric_limits<std::int32_t>::max())
    throw TError(std::string("Too many molecules for ") + where + ": " + std::to_string(count) +
                 ", at most 2147483647 are possible");
}

// Refuses an array that cannot fit beside what the engine and the rest of
// the machine already hold: filling it would otherwise end the program.
void CheckMoleculeMemory(std::int64_t slotCount, std::size_t heldElsewhere) {
  const std::size_t physical = PhysicalMemoryBytes();
  const std::size_t available =
      std::min(physical > heldElsewhere ? physical - heldElsewhere : 0, AvailableMemoryBytes());
  const std::size_t needed = static_cast<std::size_t>(slotCount) * sizeof(TMolCoord);
  if (needed > available)
    throw TError("A species of " + std::to_string(slotCount) + " molecules needs " +
                 std::to_string(needed >> 20) + " MiB, more than this machine's memory can hold (" +
                 std::to_string(available >> 20) + " MiB available)");
}

}  // namespace

namespace {

// Molecules placed between two progress reports: about 25 ms of work on one
// thread, less on more; and the parts the threads share a piece in.
constexpr std::int32_t PlacementPiece = 1 << 19;
constexpr std::int32_t PlacementPart = 1 << 14;

// Places molecules [begin, end) of `molecules` uniformly in the eight corner
// blocks of the shell of `volume`: each coordinate lands in -b0 .. -b1 or
// b1 .. b0. Molecule k takes draws 3 k + 1 .. 3 k + 3 after `placement`, so
// any range can be placed on its own.
void PlaceRange(const TVolume& volume, TMolCoord* molecules, std::int32_t begin, std::int32_t end,
                std::int32_t placement) {
  const double b0 = volume.OuterRib;
  const double b1 = volume.InnerRib;
  const double w = b0 - b1;
  std::int32_t state = Jumped(placement, JumpMultiplier(3 * static_cast<std::uint64_t>(begin)));
  for (std::int32_t k = begin; k < end; ++k) {
    TMolCoord& p = molecules[k];
    for (double* c : {&p.x, &p.y, &p.z}) {
      const double d = 1.0 - 2.0 * NextUniform(state);
      *c = d > 0.0 ? w * d + b1 : w * d - b1;
    }
  }
}

}  // namespace

void TSpecies::PlaceInShell(TVolume& volume, std::vector<TMolCoord>& molecules,
                            std::int32_t shellCount, std::int32_t slotCount,
                            std::int32_t placement) {
  // In pieces, within the capacity reserved: the array never moves. On more
  // than one thread, the calling thread first makes the next piece's slots
  // (zeroing fresh memory cannot be shared) while the others place the
  // current one, then helps them; they share it in parts claimed in turn.
  struct TPieces {
    const TVolume* Volume;
    std::vector<TMolCoord>* Molecules;
    std::int32_t ShellCount, Placement;
    TMolCoord Parked;  // spare slots wait outside the outer cube for a top-up
    std::int32_t Begin = 0, End = 0, Next = 0;
    std::atomic<std::int32_t> Claimed{0};  // parts of the current piece handed out

    // Slots up to `end`: placed ones zeroed until placed, spare ones parked.
    void MakeSlots(std::int32_t end) const {
      Molecules->resize(static_cast<std::size_t>(std::min(end, ShellCount)));
      if (end > ShellCount) Molecules->resize(static_cast<std::size_t>(end), Parked);
    }
    // Places the current piece's molecules, part after part, until none is left.
    void Place() {
      const std::int32_t end = std::min(End, ShellCount);
      for (;;) {
        const std::int64_t begin =
            Begin + std::int64_t{PlacementPart} * Claimed.fetch_add(1, std::memory_order_relaxed);
        if (begin >= end) return;
        PlaceRange(*Volume, Molecules->data(), static_cast<std::int32_t>(begin),
                   static_cast<std::int32_t>(std::min<std::int64_t>(end, begin + PlacementPart)),
                   Placement);
      }
    }
  };
  const double parkedAt = 2.0 * volume.OuterRib;
  TPieces pieces{&volume, &molecules, shellCount, placement, {parkedAt, parkedAt, parkedAt}};
  TWorkers* const workers = slotCount > PlacementPiece ? volume.Workers() : nullptr;
  const TVolume::TProgressCallback& progress = volume.Progress;
  const bool reports = progress && slotCount > PlacementPiece;

  pieces.MakeSlots(std::min(slotCount, PlacementPiece));
  while (pieces.Begin < slotCount) {
    pieces.End = std::min(slotCount, pieces.Begin + PlacementPiece);
    pieces.Next = std::min(slotCount, pieces.End + PlacementPiece);
    pieces.Claimed.store(0, std::memory_order_relaxed);
    if (workers) {
      workers->Run(
          [](int index, void* context) {
            TPieces& p = *static_cast<TPieces*>(context);
            if (index == 0) p.MakeSlots(p.Next);
            p.Place();
          },
          &pieces);
    } else {
      pieces.Place();
      pieces.MakeSlots(pieces.Next);
    }
    pieces.Begin = pieces.End;
    if (reports && !progress(static_cast<double>(pieces.End) / slotCount)) throw TCancelled();
  }
}

namespace {

// What populating a species of `concentration` and `diffusion` in `volume`
// gives, beside `heldElsewhere` bytes of other species; throws TError for
// what does not fit.
struct TPopulation {
  double Sigma;
  std::int32_t InnerCount;
  std::int32_t ShellCount;
  std::int64_t SlotCount;
};

TPopulation PlannedPopulation(const TVolume& volume, double concentration, double diffusion,
                              std::size_t heldElsewhere) {
  const double variance = CheckedResult(CheckedResult(2.0 * diffusion) * volume.TimeStep);
  if (variance < 0.0) throw TError(FloatInvalidMessage);  // square root of a negative
  TPopulation population;
  population.Sigma = std::sqrt(variance);
  population.InnerCount = TruncatedCount(CheckedResult(concentration * volume.InnerVolume),
                                         "number of molecules in the inner cube");
  population.ShellCount = TruncatedCount(CheckedResult(concentration * volume.ShellVolume),
                                         "number of molecules in the medium");
  population.SlotCount = std::int64_t{population.ShellCount} + population.InnerCount;
  RefuseBeyondCountRange(population.SlotCount, "one species");
  // Step and the totals add the counts of all species in 32 bits; on a machine
  // with more than 48 GiB several species could together pass 2^31 molecules.
  const std::int64_t allSlots =
      population.SlotCount + static_cast<std::int64_t>(heldElsewhere / sizeof(TMolCoord));
  RefuseBeyondCountRange(allSlots, "all species together");
  CheckMoleculeMemory(population.SlotCount, heldElsewhere);
  return population;
}

}  // namespace

void TVolume::CheckSpecies(double concentration, double diffusion) const {
  CheckedResult(concentration + TotalConcentration);
  PlannedPopulation(*this, concentration, diffusion, MoleculeBytes());
}

void TSpecies::Populate(double concentration, double diffusion, double radius) {
  // Everything is derived and checked before any field, array or stream changes.
  const TPopulation population =
      PlannedPopulation(*Volume, concentration, diffusion, Volume->MoleculeBytes(this));
  const double sigma = population.Sigma;
  const std::int32_t innerCount = population.InnerCount;
  const std::int32_t shellCount = population.ShellCount;
  const std::int64_t slotCount = population.SlotCount;

  std::vector<TMolCoord> molecules;
  try {
    molecules.reserve(static_cast<std::size_t>(slotCount));
  } catch (const std::bad_alloc&) {
    throw TError("Not enough memory for " + std::to_string(slotCount) + " molecules");
  }
  const std::int32_t placement = Volume->Streams.Placement;
  PlaceInShell(*Volume, molecules, shellCount, static_cast<std::int32_t>(slotCount), placement);

  Radius = radius;
  Concentration = concentration;
  Diffusion = diffusion;
  Sigma = sigma;
  InnerCount = innerCount;
  ShellCount = shellCount;
  InsideCount = 0;
  OutsideCount = shellCount;
  SlotCount = static_cast<std::int32_t>(slotCount);
  ActiveCount = shellCount;
  Molecules.swap(molecules);
  PlacedOuterRib = Volume->OuterRib;
  PlacedInnerRib = Volume->InnerRib;
  StepsTaken = 0;
  // No draw, no change: a jump would clear bit 31, which only a draw does.
  if (shellCount > 0)
    Volume->Streams.Placement =
        Jumped(placement, JumpMultiplier(3 * static_cast<std::uint64_t>(shellCount)));
}

void ReinjectAtWall(TVolume& volume, TMolCoord& p) {
  TStreamStates& streams = volume.Streams;
  NextUniform(streams.Y);
  NextUniform(streams.Z);
  PlaceAtWall(volume.OuterRib, streams.Placement, streams.Y, streams.Z, p);
}

TEngineSettings::TEngineSettings()
    : Threads(static_cast<int>(std::clamp(UsableProcessors(), 1u, unsigned{MostThreads}))),
      Kernel(&FastestKernel()),
      ParallelStepMinimum(10000),
      SmallestStepPiece(4096),
      StepCacheBytes(LastLevelCacheBytes()),
      Sharing(TSharing::Measured),
      NearChainThreads(3) {}

TEngineSettings SettingsFromEnvironment(std::vector<std::string>& messages) {
  TEngineSettings settings;
  settings.Threads =
      ThreadsFromEnvironment(std::getenv("KELVANE_THREADS"), settings.Threads, messages);
  settings.Kernel = &KernelFromEnvironment(std::getenv("KELVANE_KERNEL"), messages);
  return settings;
}

TVolume::TVolume() : TVolume(TStreamStates()) {}

TVolume::TVolume(const TStreamStates& seeds) : Streams(seeds) {}

TVolume::~TVolume() = default;

void TVolume::SetSettings(const TEngineSettings& settings) {
  if (settings.Threads < 1 || settings.Threads > MostThreads)
    throw TError("The number of threads must be a whole number from 1 to " +
                 std::to_string(MostThreads) + ", not " + std::to_string(settings.Threads));
  const TKernel* const kernel = settings.Kernel;
  if (!kernel || kernel < Kernels || kernel >= Kernels + KernelCount)
    throw TError("The step kernel must be a row of the kernel table");
  if (!kernel->Supported())
    throw TError(std::string("The ") + kernel->Name + " kernel is not supported on this CPU");
  if (settings.ParallelStepMinimum < 0)
    throw TError("The fewest molecules a step shares among threads must not be negative, not " +
                 std::to_string(settings.ParallelStepMinimum));
  if (settings.SmallestStepPiece < 1)
    throw TError("The smallest piece of a shared step must be at least 1 molecule, not " +
                 std::to_string(settings.SmallestStepPiece));
  // New threads, and a new measure of whether they pay, for another count,
  // kernel or way of sharing.
  if (settings.Threads != Config.Threads || settings.Kernel != Config.Kernel ||
      settings.Sharing != Config.Sharing || settings.NearChainThreads != Config.NearChainThreads)
    Pool.reset();
  Config = settings;
}

void TVolume::SetThreadCount(int threads) {
  TEngineSettings settings = Config;
  settings.Threads = threads;
  SetSettings(settings);
}

std::string TVolume::TakeNotice() {
  std::string notice;
  notice.swap(Notice);
  return notice;
}

void TVolume::SetProgressCallback(TProgressCallback progress) { Progress = std::move(progress); }

TWorkers* TVolume::Workers() {
  if (Config.Threads < 2 || !ThreadsAvailable()) return nullptr;
  if (!Pool) {
    try {
      Pool = std::make_unique<TWorkers>(Config.Threads);
    } catch (const std::exception& e) {  // no threads or no memory for them
      Notice = "Kelvane: " + std::to_string(Config.Threads) + " threads could not be started (" +
               e.what() + "); using one";
      Config.Threads = 1;
    }
  }
  return Pool.get();
}

void TVolume::SetParameters(double outerRib, double innerRib, double viscosity, double temperature,
                            double timeStep) {
  using TRib = TRibError::TRib;
  const auto refuse = [](TRib rib, const std::string& what) {
    throw TRibError(
        rib, std::string(FloatOverflowMessage) + ": " + what + " is beyond the range of a double");
  };
  const double outerVolume = std::pow(outerRib, 3.0);
  if (!std::isfinite(outerVolume))
    refuse(TRib::Outer, "the cube of the external cube rib " + FormatNumber(outerRib) + " m");
  const double innerVolume = std::pow(innerRib, 3.0);
  if (!std::isfinite(innerVolume))
    refuse(TRib::Inner, "the cube of the internal cube rib " + FormatNumber(innerRib) + " m");
  const double shellVolume = outerVolume - innerVolume;
  if (!std::isfinite(shellVolume))
    refuse(TRib::Inner, "the volume between the cubes of the ribs " + FormatNumber(outerRib) +
                            " m and " + FormatNumber(innerRib) + " m");
  OuterRib = outerRib;
  InnerRib = innerRib;
  OuterVolume = outerVolume;
  InnerVolume = innerVolume;
  ShellVolume = shellVolume;
  Viscosity = viscosity;
  Temperature = temperature;
  TimeStep = timeStep;
  Time = 0.0;
}

void TVolume::SetStepCallback(TStepCallback callback) { OnStep = std::move(callback); }

void TVolume::AddSpecies(double concentration, double diffusion, double radius) {
  const double totalConcentration = CheckedResult(concentration + TotalConcentration);
  // Room first: populating moves the placement stream, which cannot be undone.
  Species.reserve(Species.size() + 1);
  TSpecies species;
  species.Volume = this;
  species.Populate(concentration, diffusion, radius);
  // Every count is backed by 24 bytes of checked memory, so the sum stays far
  // below 2^31.
  TotalInnerCount += species.InnerCount;
  TotalConcentration = totalConcentration;
  Species.push_back(std::move(species));
}

void TVolume::ReplaceSpecies(int index, double concentration, double diffusion, double radius) {
  TSpecies& species = At(index);
  const double totalConcentration =
      CheckedResult((concentration - species.Concentration) + TotalConcentration);
  const std::int32_t otherInnerCount = TotalInnerCount - species.InnerCount;
  species.Populate(concentration, diffusion, radius);
  TotalConcentration = totalConcentration;
  TotalInnerCount = otherInnerCount + species.InnerCount;
}

void TVolume::RemoveSpecies(int index) {
  const TSpecies& species = At(index);
  // With the volumes at 0 any concentration is accepted, so huge ones of both
  // signs can make the difference overflow: refuse before anything changes.
  const double totalConcentration = CheckedResult(TotalConcentration - species.Concentration);
  TotalInnerCount = TotalInnerCount - species.InnerCount;
  TotalConcentration = totalConcentration;
  Species.erase(Species.begin() + index);
}

void TVolume::Step() {
  using TClock = std::chrono::steady_clock;
  Time = CheckedResult(TimeStep + Time);
  const auto large = [&](const TSpecies& species) {
    return species.InsideCount + species.OutsideCount >= Config.ParallelStepMinimum;
  };
  // Whether this step shares its large species among the threads. Measured:
  // the judge of the threads decides, and times the step's large species,
  // shared or not, to decide the next ones. Either way gives the same bits.
  TWorkers* workers = nullptr;
  TShareJudge* judge = nullptr;
  if (Config.Threads > 1 && Config.Sharing != TEngineSettings::TSharing::Never &&
      std::any_of(Species.begin(), Species.end(), large)) {
    workers = Workers();
    if (workers && Config.Sharing == TEngineSettings::TSharing::Measured) {
      judge = &workers->Judge;
      if (!judge->ShareNext(
              std::chrono::duration<double>(TClock::now().time_since_epoch()).count()))
        workers = nullptr;
    }
  }
  const TKernel& kernel = *Config.Kernel;
  TClock::duration timed{};
  std::int64_t timedMolecules = 0;
  std::int32_t insideCount = 0;
  for (TSpecies& species : Species) {
    if (large(species)) {
      const TClock::time_point start = TClock::now();
      if (workers)
        AdvanceWith(species, [&](const TVolume& volume, TMolCoord* molecules, std::int32_t count,
                                 double sigma, TStreamStates& streams) {
          return workers->Move(kernel, volume, molecules, count, sigma, streams);
        });
      else
        species.Advance();
      timed += TClock::now() - start;
      timedMolecules += species.ActiveCount;
    } else {
      species.Advance();
    }
    insideCount += species.InsideCount;
    ++species.StepsTaken;
  }
  if (judge) judge->Record(std::chrono::duration<double>(timed).count(), timedMolecules);
  const double insideConcentration = CheckedDivide(insideCount, InnerVolume);
  if (OnStep) OnStep(insideCount, TotalInnerCount, insideConcentration, TotalConcentration, Time);
}

double TVolume::SpeciesConcentration(int index) const { return At(index).Concentration; }
double TVolume::SpeciesRadius(int index) const { return At(index).Radius; }
double TVolume::SpeciesDiffusion(int index) const { return At(index).Diffusion; }

double TVolume::StokesEinstein(double x) const {
  const double numerator = CheckedResult(Boltzmann * Temperature);
  const double denominator = CheckedResult(CheckedResult(SixPi * Viscosity) * x);
  return CheckedDivide(numerator, denominator);
}

std::size_t TVolume::MoleculeBytes(const TSpecies* except) const {
  std::size_t bytes = 0;
  for (const TSpecies& species : Species)
    if (&species != except) bytes += species.Molecules.capacity() * sizeof(TMolCoord);
  return bytes;
}

// The window keeps its list and the species in step; a stray index is refused
// rather than read out of bounds.
const TSpecies& TVolume::At(int index) const {
  if (index < 0 || static_cast<std::size_t>(index) >= Species.size())
    throw TError("There is no species number " + std::to_string(index));
  return Species[static_cast<std::size_t>(index)];
}

TSpecies& TVolume::At(int index) {
  return const_cast<TSpecies&>(static_cast<const TVolume&>(*this).At(index));
}
