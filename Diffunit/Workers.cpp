#include "Diffunit/Workers.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {

// Molecules a thread moves between two looks at the scan's progress, and that
// the scan reads between two reports of it: about 10 microseconds of work, a
// whole number of blocks of the widest kernel.
constexpr std::int32_t Piece = 2048;

// Waits until `ready` returns true: a short spin for the common, short waits,
// then yielding, so that more threads than cores still make progress.
template <class TReady>
void WaitUntil(TReady ready) {
  for (int spins = 0; !ready(); ++spins) {
    if (spins < 256) {
#if defined(__x86_64__) || defined(__i386__)
      __builtin_ia32_pause();
#endif
    } else {
      std::this_thread::yield();
    }
  }
}

double SecondsSince(std::chrono::steady_clock::time_point start) {
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
}

}  // namespace

int ThreadsFromEnvironment(const char* value, int fallback) {
  if (!value) return fallback;
  // Digits only, at most four of them, without sign, blanks or leading zero.
  const std::size_t length = std::strlen(value);
  bool digits = length >= 1 && length <= 4 && value[0] != '0';
  for (std::size_t i = 0; digits && i < length; ++i) digits = value[i] >= '0' && value[i] <= '9';
  const int threads = digits ? std::atoi(value) : 0;
  if (threads >= 1 && threads <= MostThreads) return threads;
  std::fprintf(stderr,
               "Kelvane: KELVANE_THREADS=\"%s\" is not a whole number from 1 to %d; ignored\n",
               value, MostThreads);
  return fallback;
}

struct TWorkers::TStepJob {
  TWorkers* Self;
  TKernelParts Parts;
  const TVolume* Volume;
  TMolCoord* Molecules;
  double Sigma;
};

TWorkers::TWorkers(int threads) : Chunks(static_cast<std::size_t>(threads)) {
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

std::int32_t TWorkers::Move(TKernelParts parts, const TVolume& volume, TMolCoord* molecules,
                            std::int32_t count, double sigma, TStreamStates& streams) {
  // The cuts (see the header): s_k = N (1 - q^k) / (1 - q^T), rounded down to
  // whole blocks.
  const int threads = Threads();
  const double q = 1.0 - ScanShare;
  const double whole = 1.0 - std::pow(q, threads);
  for (int k = 0; k < threads; ++k) {
    TChunk& chunk = Chunks[static_cast<std::size_t>(k)];
    const double share = (1.0 - std::pow(q, k)) / whole;
    chunk.Begin = k == 0 ? 0 : std::min(count, static_cast<std::int32_t>(share * count) & ~7);
    chunk.Begin = std::max(chunk.Begin, k == 0 ? 0 : Chunks[static_cast<std::size_t>(k - 1)].Begin);
    chunk.StartKnown.store(false, std::memory_order_relaxed);
  }
  for (int k = 0; k < threads; ++k)
    Chunks[static_cast<std::size_t>(k)].End =
        k + 1 < threads ? Chunks[static_cast<std::size_t>(k + 1)].Begin : count;
  Chunks[0].Start = streams;
  Chunks[0].StartKnown.store(true, std::memory_order_relaxed);
  Scanned.store(0, std::memory_order_relaxed);

  TStepJob job{this, parts, &volume, molecules, sigma};
  Run(StepPart, &job);

  std::int32_t inside = 0;
  for (const TChunk& chunk : Chunks) inside += chunk.Inside;
  streams = Chunks.back().Finish;

  // The scan's cost per molecule against moving's, from the scanning thread
  // and thread 0, smoothed over steps.
  const TChunk& first = Chunks.front();
  const TChunk& last = Chunks.back();
  const std::int32_t scannedCount = last.Begin, movedCount = first.End - first.Begin;
  if (scannedCount >= 4 * Piece && movedCount >= 4 * Piece && first.Seconds > 0.0) {
    const double measured = (last.Seconds / scannedCount) / (first.Seconds / movedCount);
    ScanShare = std::clamp(0.75 * ScanShare + 0.25 * measured, 0.02, 0.98);
  }
  return inside;
}

void TWorkers::StepPart(int index, void* context) {
  const TStepJob& job = *static_cast<const TStepJob*>(context);
  TWorkers& self = *job.Self;
  const int threads = self.Threads();
  TChunk& chunk = self.Chunks[static_cast<std::size_t>(index)];
  const auto start = std::chrono::steady_clock::now();
  TStreamStates streams;

  if (index == threads - 1) {
    // The scan, publishing each chunk's start states as it passes them.
    streams = self.Chunks[0].Start;
    std::int32_t at = 0;
    for (int k = 1; k < threads; ++k) {
      TChunk& next = self.Chunks[static_cast<std::size_t>(k)];
      while (at < next.Begin) {
        const std::int32_t end = std::min(at + Piece, next.Begin);
        job.Parts.Scan(*job.Volume, job.Molecules + at, end - at, job.Sigma, streams);
        at = end;
        self.Scanned.store(at, std::memory_order_release);
      }
      next.Start = streams;
      next.StartKnown.store(true, std::memory_order_release);
    }
    chunk.Seconds = SecondsSince(start);
    // The last chunk is this thread's alone: nothing to wait for.
    chunk.Inside = job.Parts.Move(*job.Volume, job.Molecules + chunk.Begin, chunk.End - chunk.Begin,
                                  job.Sigma, streams);
    chunk.Finish = streams;
    return;
  }

  WaitUntil([&] { return chunk.StartKnown.load(std::memory_order_acquire); });
  streams = chunk.Start;
  std::int32_t inside = 0;
  for (std::int32_t at = chunk.Begin; at < chunk.End;) {
    const std::int32_t end = std::min(at + Piece, chunk.End);
    WaitUntil([&] { return self.Scanned.load(std::memory_order_acquire) >= end; });
    inside += job.Parts.Move(*job.Volume, job.Molecules + at, end - at, job.Sigma, streams);
    at = end;
  }
  chunk.Inside = inside;
  chunk.Finish = streams;
  chunk.Seconds = SecondsSince(start);
}
