// The engine's worker threads and the step shared among them.
//
// How a step is shared, with the same bits as one thread. The molecules of a
// species are cut into consecutive chunks, one per thread, and each chunk is
// moved by the kernel's own moving part from the four stream states the
// molecules before it leave. For x those are known at once: every molecule
// takes exactly 12 draws from the X stream, so chunk k starts 12 s_k draws
// on. The Y, Z and placement streams shift with every escape before the
// chunk, and whether a molecule escapes on y or z depends on those very
// shifts, so the offsets form one chain through the whole array. The chain is
// settled by a scan (TScanMolecules): it follows the draws exactly but
// computes a displacement only where one could reach the wall, about one
// coordinate in ten at the window's defaults, and moves nothing.
//
// The schedule hides most of the scan. The last thread scans the molecules
// from the first on and publishes the stream states at each chunk start as
// it passes it; then it moves the last chunk. Thread 0 starts moving chunk 0
// at once, since its states are the step's; thread k starts when the scan
// has passed s_k. A thread moves its chunk in pieces and waits before each
// piece until the scan has read past it (an acquire of the scan's progress,
// released after the reads), so that nothing is moved before the scan has
// read its old position. With the scan's cost r per molecule, relative to
// moving, and chunk k ending when the others do, the chunk starts are
// s_k = N (1 - q^k) / (1 - q^T), q = 1 - r, and T threads take
// r / (1 - q^T) of one thread's time: 2 - r times faster with two threads,
// at most 1 / r with many (the serial scan bounds it, as does memory
// bandwidth). r is measured as the steps run; it decides only the cuts, never
// a bit of the result.
//
// The threads are std::thread, made once when a step first needs them and
// kept until the engine ends or its thread count changes; between steps they
// sleep on a condition variable. A step allocates nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <thread>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Statg/Statg.h"

// Threads a step may use: a whole number from 1 to 1024.
constexpr int MostThreads = 1024;

// The thread count that `value` (the text of KELVANE_THREADS, or null) asks
// for, or `fallback` when there is none; a value that is not a whole number
// from 1 to MostThreads is ignored with one line on standard error naming it.
int ThreadsFromEnvironment(const char* value, int fallback);

class TWorkers {
 public:
  // `threads` >= 2 threads in all, the caller's included: starts threads - 1.
  // Throws std::system_error when the system refuses a thread.
  explicit TWorkers(int threads);
  ~TWorkers();
  TWorkers(const TWorkers&) = delete;
  TWorkers& operator=(const TWorkers&) = delete;

  int Threads() const { return static_cast<int>(Chunks.size()); }

  // TMoveMolecules of `parts`, shared among the threads (see above): the
  // same molecules, count and streams after it as parts.Move alone gives.
  std::int32_t Move(TKernelParts parts, const TVolume& volume, TMolCoord* molecules,
                    std::int32_t count, double sigma, TStreamStates& streams);

  // Runs job(index, context) for every index 0 .. Threads() - 1 at once,
  // index 0 on the calling thread, and returns when all have returned.
  using TJob = void (*)(int index, void* context);
  void Run(TJob job, void* context);

 private:
  // What one thread of a shared step does and finds.
  struct alignas(64) TChunk {
    std::int32_t Begin = 0, End = 0;
    TStreamStates Start;                  // published by the scan for chunks 1 ..
    std::atomic<bool> StartKnown{false};  // Start may be read
    std::int32_t Inside = 0;
    TStreamStates Finish;
    double Seconds = 0.0;  // moving or scanning, for the estimate of r
  };
  struct TStepJob;
  static void StepPart(int index, void* context);
  void WorkerLoop(int index);
  void Stop();

  std::vector<TChunk> Chunks;
  alignas(64) std::atomic<std::int32_t> Scanned{0};  // molecules the scan has read
  double ScanShare = 0.5;                            // r: scanning a molecule against moving it

  std::mutex Mutex;
  std::condition_variable Wake, Done;
  std::uint64_t Generation = 0;  // counts jobs; a new value wakes the threads
  int Pending = 0;               // threads still running the current job
  bool Stopping = false;
  TJob Job = nullptr;
  void* JobContext = nullptr;
  std::vector<std::thread> Pool;
};
