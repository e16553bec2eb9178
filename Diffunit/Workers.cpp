#include "Diffunit/Workers.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <new>

namespace {

// The `spins`th turn of a wait: a short spin for the common, short waits,
// then yielding, so that more threads than cores still make progress.
void Relax(int spins) {
  if (spins < 256) {
#if defined(__x86_64__) || defined(__i386__)
    __builtin_ia32_pause();
#endif
  } else {
    std::this_thread::yield();
  }
}

// Waits until `ready` returns true.
template <class TReady>
void WaitUntil(TReady ready) {
  for (int spins = 0; !ready(); ++spins) Relax(spins);
}

}  // namespace

int ThreadsFromEnvironment(const char* value, int fallback, std::vector<std::string>& messages) {
  if (!value) return fallback;
  // Digits only, at most four of them, without sign, blanks or leading zero.
  const std::size_t length = std::strlen(value);
  bool digits = length >= 1 && length <= 4 && value[0] != '0';
  for (std::size_t i = 0; digits && i < length; ++i) digits = value[i] >= '0' && value[i] <= '9';
  const int threads = digits ? std::atoi(value) : 0;
  if (threads >= 1 && threads <= MostThreads) return threads;
  messages.push_back(std::string("Kelvane: KELVANE_THREADS=\"") + value +
                     "\" is not a whole number from 1 to " + std::to_string(MostThreads) +
                     "; ignored");
  return fallback;
}

namespace {

// The median of `n` values (the mean of the middle two for even n).
template <int N>
double Median(const double (&values)[N], int begin) {
  double sorted[N];
  const int n = N - begin;
  std::copy(values + begin, values + N, sorted);
  std::sort(sorted, sorted + n);
  return n % 2 ? sorted[n / 2] : 0.5 * (sorted[n / 2 - 1] + sorted[n / 2]);
}

}  // namespace

bool TShareJudge::ShareNext(double now) {
  if (ProbeStep < 0 &&
      (StepsSinceProbe >= StepsBetweenProbes || now - ProbeEnded >= SecondsBetweenProbes))
    ProbeStep = 0;
  if (ProbeStep >= 0) {
    ProbeEnded = now;
    Coming = ProbeStep % 2 == 0;  // shared first: its threads start in the warm-up pair
  } else {
    ++StepsSinceProbe;
    Coming = Verdict;
  }
  return Coming;
}

void TShareJudge::Record(double seconds, std::int64_t molecules) {
  if (molecules <= 0) return;
  const double perMolecule = seconds / static_cast<double>(molecules);
  if (ProbeStep < 0) {
    Worse = perMolecule * Margin > (Coming ? AloneMedian : SharedMedian) ? Worse + 1 : 0;
    if (Worse >= WorseInARow) StepsSinceProbe = StepsBetweenProbes;  // probe next step
    return;
  }
  double* const times = Coming ? Shared : Alone;
  times[ProbeStep / 2] = perMolecule;
  if (++ProbeStep < 2 * ProbePairs) return;
  // The first pair only warmed up.
  SharedMedian = Median(Shared, 1);
  AloneMedian = Median(Alone, 1);
  Verdict = SharedMedian < Margin * AloneMedian;
  ProbeStep = -1;
  StepsSinceProbe = 0;
  Worse = 0;
}

struct TWorkers::TStepJob {
  TWorkers* Self;
  const TKernel* Kernel;
  const TVolume* Volume;
  TMolCoord* Molecules;
  std::int32_t Count;
  double Sigma;
};

TWorkers::TWorkers(int threads)
    : PieceStart(MostPieces + 1),
      Inside(static_cast<std::size_t>(threads)),
      Lists(MostPieces),
      Listed(new std::atomic<std::uint32_t>[MostPieces]) {
  for (int piece = 0; piece < MostPieces; ++piece)
    Listed[piece].store(0, std::memory_order_relaxed);
  Pool.reserve(static_cast<std::size_t>(threads - 1));
  try {
    for (int index = 1; index < threads; ++index)
      Pool.emplace_back(&TWorkers::WorkerLoop, this, index);
  } catch (...) {
    Stop();  // the threads already started
    throw;
  }
}

TWorkers::~TWorkers() { Stop(); }

void TWorkers::Stop() {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Stopping = true;
  }
  Wake.notify_all();
  for (std::thread& thread : Pool)
    if (thread.joinable()) thread.join();
}

void TWorkers::WorkerLoop(int index) {
  std::uint64_t seen = 0;
  for (;;) {
    TJob job;
    void* context;
    {
      std::unique_lock<std::mutex> lock(Mutex);
      Wake.wait(lock, [&] { return Stopping || Generation != seen; });
      if (Stopping) return;
      seen = Generation;
      job = Job;
      context = JobContext;
    }
    job(index, context);
    std::lock_guard<std::mutex> lock(Mutex);
    if (--Pending == 0) Done.notify_one();
  }
}

void TWorkers::Run(TJob job, void* context) {
  {
    std::lock_guard<std::mutex> lock(Mutex);
    Job = job;
    JobContext = context;
    Pending = Threads() - 1;
    ++Generation;
  }
  Wake.notify_all();
  job(0, context);
  std::unique_lock<std::mutex> lock(Mutex);
  Done.wait(lock, [&] { return Pending == 0; });
}

std::int32_t TWorkers::Move(const TKernel& kernel, const TVolume& volume, TMolCoord* molecules,
                            std::int32_t count, double sigma, TStreamStates& streams) {
  const std::int32_t smallest = std::max(volume.Settings().SmallestStepPiece, std::int32_t{1});
  PieceSize = std::max(smallest, (count + (MostPieces - 1)) / MostPieces);
  Pieces = (count + (PieceSize - 1)) / PieceSize;
  PieceStart[0] = streams;
  Scanned.store(0, std::memory_order_relaxed);
  Tail.store(std::numeric_limits<std::int32_t>::max(), std::memory_order_relaxed);
  Claimed.store(0, std::memory_order_relaxed);
  for (TCount& inside : Inside) inside.Inside = 0;
  Chained =
      kernel.ListNear && Threads() >= volume.Settings().NearChainThreads && MakeListRoom(count);
  ++StepNumber;
  ListClaimed.store(0, std::memory_order_relaxed);

  TStepJob job{this, &kernel, &volume, molecules, count, sigma};
  Run(StepPart, &job);

  std::int32_t inside = 0;
  for (const TCount& part : Inside) inside += part.Inside;
  streams = Finish;
  return inside;
}

void TWorkers::StepPart(int index, void* context) {
  const TStepJob& job = *static_cast<const TStepJob*>(context);
  TWorkers& self = *job.Self;
  std::int32_t& inside = self.Inside[static_cast<std::size_t>(index)].Inside;
  if (self.Chained) {
    if (index == 0)
      self.Chain(job);
    else
      self.ListAhead(job, inside);
  } else if (index == 0) {
    self.Scan(job);
  }
  self.MoveClaimed(job, inside);
}

bool TWorkers::MakeListRoom(std::int32_t count) {
  // Whole vectors of 8 entries per piece.
  const std::int64_t stride = (NearListCapacity(PieceSize) + 7) / 8 * 8;
  const std::int64_t room = stride * Pieces;
  if (static_cast<std::uint64_t>(room) * 32u > MostListBytes || count <= 0) return false;
  if (room > ListRoom) {
    try {
      // Left uninitialised: pages are touched only where entries are written.
      ListJumps.reset(new std::uint64_t[static_cast<std::size_t>(room)]);
      ListLow.reset(new std::int64_t[static_cast<std::size_t>(room)]);
      ListHigh.reset(new std::int64_t[static_cast<std::size_t>(room)]);
      ListPositions.reset(new double[static_cast<std::size_t>(room)]);
    } catch (const std::bad_alloc&) {
      ListJumps.reset();
      ListLow.reset();
      ListHigh.reset();
      ListPositions.reset();
      ListRoom = 0;
      return false;
    }
    ListRoom = room;
  }
  ListStride = stride;
  return true;
}

void TWorkers::ListPiece(const TStepJob& job, std::int32_t piece) {
  const std::int32_t begin = piece * PieceSize;
  const std::int32_t end = std::min(job.Count, begin + PieceSize);
  const std::int64_t at = ListStride * piece;
  TNearList& list = Lists[static_cast<std::size_t>(piece)];
  list.Jumps = ListJumps.get() + at;
  list.Low = ListLow.get() + at;
  list.High = ListHigh.get() + at;
  list.Positions = ListPositions.get() + at;
  // Molecule `begin` takes the X stream's draws from 12 begin on (the list
  // reads the state's low 31 bits only).
  const std::int32_t xState =
      Jumped(PieceStart[0].X, JumpMultiplier(12 * static_cast<std::uint64_t>(begin)));
  job.Kernel->ListNear(*job.Volume, job.Molecules + begin, end - begin, job.Sigma, xState, list);
  Listed[piece].store(StepNumber, std::memory_order_release);
}

bool TWorkers::ListNextPiece(const TStepJob& job) {
  const std::int32_t piece = ListClaimed.fetch_add(1, std::memory_order_relaxed);
  if (piece >= Pieces) return false;
  ListPiece(job, piece);
  return true;
}

std::int32_t TWorkers::PiecesInCache(const TStepJob& job) const {
  return std::max(std::int32_t{2}, static_cast<std::int32_t>(job.Volume->Settings().StepCacheBytes /
                                                             2 / sizeof(TMolCoord) /
                                                             static_cast<std::size_t>(PieceSize)));
}

void TWorkers::ListAhead(const TStepJob& job, std::int32_t& inside) {
  // Listing reads the positions that moving reads again: it keeps no further
  // ahead of the moving than the cache holds, so that moving finds them
  // there and the step does not read main memory twice.
  const std::int32_t mostAhead = std::max(PiecesInCache(job), Threads());
  for (int spins = 0;;) {
    std::int32_t moved = Claimed.load(std::memory_order_relaxed);
    if (moved >= Pieces) return;
    const std::int32_t listing = ListClaimed.load(std::memory_order_relaxed);
    if (listing < Pieces && listing - moved < mostAhead && ListNextPiece(job)) {
      spins = 0;
      continue;
    }
    if (moved < Scanned.load(std::memory_order_acquire)) {
      if (Claimed.compare_exchange_weak(moved, moved + 1, std::memory_order_relaxed))
        MovePiece(job, moved, inside);
      spins = 0;
      continue;
    }
    // Nothing to list or move yet: the chain is behind.
    Relax(spins++);
  }
}

void TWorkers::Chain(const TStepJob& job) {
  TStreamStates streams = PieceStart[0];
  for (std::int32_t piece = 0; piece < Pieces; ++piece) {
    // Lists pieces itself while the one it needs is not listed yet.
    for (int spins = 0; Listed[piece].load(std::memory_order_acquire) != StepNumber; ++spins) {
      if (!ListNextPiece(job)) Relax(spins);
    }
    // Listed, and its start known: it may be moved.
    Scanned.store(piece + 1, std::memory_order_release);
    const std::int32_t begin = piece * PieceSize;
    const std::int32_t end = std::min(job.Count, begin + PieceSize);
    job.Kernel->ChainNear(*job.Volume, Lists[static_cast<std::size_t>(piece)], end - begin,
                          job.Sigma, streams);
    PieceStart[static_cast<std::size_t>(piece) + 1] = streams;
  }
  Finish = streams;
}

void TWorkers::Scan(const TStepJob& job) {
  using TClock = std::chrono::steady_clock;
  const std::int32_t others = Threads() - 1;
  // Scanned pieces kept waiting at most: what the last-level cache holds, so
  // that moving finds them there and not in main memory, which a single core
  // can keep busy (measured: 14 GB/s read from one core, 14 from two).
  const std::int32_t mostWaiting = PiecesInCache(job);
  // Where scanning costs about as much as moving (the portable scan beside
  // the AVX2 kernel), sharing cannot pay: only a probe of two pieces is
  // scanned, to keep the measure up to date.
  const std::int32_t mostScanned = ScanShare < 0.9 ? Pieces : std::min(Pieces, 2);
  TStreamStates streams = PieceStart[0];
  TClock::duration scanning{};
  std::int32_t piece = 0;
  while (piece < mostScanned) {
    std::int32_t claimed = Claimed.load(std::memory_order_relaxed);
    const std::int32_t waiting = piece - claimed;
    // Enough scanned and unclaimed to keep the others busy while this thread
    // moves the rest?
    if (piece > 0 && waiting >= others * (Pieces - piece)) break;
    if (waiting > mostWaiting) {
      // Too far ahead: move the oldest waiting piece here, if no one else
      // takes it first.
      if (Claimed.compare_exchange_weak(claimed, claimed + 1, std::memory_order_relaxed))
        MovePiece(job, claimed, Inside[0].Inside);
      continue;
    }
    const std::int32_t begin = piece * PieceSize;
    const std::int32_t end = std::min(job.Count, begin + PieceSize);
    const TClock::time_point start = TClock::now();
    job.Kernel->Scan(*job.Volume, job.Molecules + begin, end - begin, job.Sigma, streams);
    scanning += TClock::now() - start;
    ++piece;
    PieceStart[static_cast<std::size_t>(piece)] = streams;
    Scanned.store(piece, std::memory_order_release);
  }
  Tail.store(piece, std::memory_order_release);
  // The tail is this thread's alone, from the states the scan reached.
  const std::int32_t begin = std::min(job.Count, piece * PieceSize);
  const TClock::time_point start = TClock::now();
  Inside[0].Inside +=
      job.Kernel->Move(*job.Volume, job.Molecules + begin, job.Count - begin, job.Sigma, streams);
  const TClock::duration moving = TClock::now() - start;
  Finish = streams;

  // The scan's cost per molecule against moving's, both timed on this
  // thread, smoothed over steps. It decides only how the work is shared.
  const std::int32_t scannedCount = std::min(job.Count, piece * PieceSize);
  const std::int32_t movedCount = job.Count - begin;
  if (scannedCount >= PieceSize && movedCount >= PieceSize && moving.count() > 0) {
    const double measured = (std::chrono::duration<double>(scanning).count() / scannedCount) /
                            (std::chrono::duration<double>(moving).count() / movedCount);
    ScanShare = std::clamp(0.5 * ScanShare + 0.5 * measured, 0.01, 10.0);
  }
}

void TWorkers::MovePiece(const TStepJob& job, std::int32_t piece, std::int32_t& inside) {
  TStreamStates streams = PieceStart[static_cast<std::size_t>(piece)];
  const std::int32_t begin = piece * PieceSize;
  const std::int32_t end = std::min(job.Count, begin + PieceSize);
  inside += job.Kernel->Move(*job.Volume, job.Molecules + begin, end - begin, job.Sigma, streams);
}

void TWorkers::MoveClaimed(const TStepJob& job, std::int32_t& inside) {
  for (;;) {
    const std::int32_t piece = Claimed.fetch_add(1, std::memory_order_relaxed);
    if (piece >= Pieces) return;
    // Scanned, or left to the tail.
    WaitUntil([&] {
      return Scanned.load(std::memory_order_acquire) > piece ||
             Tail.load(std::memory_order_acquire) <= piece;
    });
    if (Scanned.load(std::memory_order_acquire) <= piece) return;
    MovePiece(job, piece, inside);
  }
}
