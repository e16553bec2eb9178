// The engine's worker threads and the step shared among them.
//
// How a step is shared, with the same bits as one thread. The molecules of a
// species are cut into consecutive pieces, and each piece is moved by the
// kernel's own moving part from the four stream states the molecules before
// it leave. For x those are known at once: every molecule takes exactly 12
// draws from the X stream, so the piece starting at molecule s starts 12 s
// draws on. The Y, Z and placement streams shift with every escape before the
// piece, and whether a molecule escapes on y or z depends on those very
// shifts, so the offsets form one chain through the whole array. The chain is
// settled by a scan (TScanMolecules): it follows the draws exactly but
// computes a displacement only where one could reach the wall, about one
// coordinate in ten at the window's defaults, and moves nothing.
//
// The schedule hides most of the scan and adapts to what the threads get done.
// The molecules are cut into pieces (at most MostPieces, of at least the
// engine's SmallestStepPiece molecules). Thread 0 scans them from the first on and
// publishes the stream states at each piece's start as it passes it. The
// other threads claim scanned pieces in order (one shared counter) and move
// each from its published states, so nothing is moved before the scan has
// read its old positions. The scan stops once the pieces scanned and not yet
// claimed are enough to keep the others busy until thread 0 has moved the
// rest, the tail, which it does from the states it has reached; then it
// claims pieces like the others. Nor does the scan run further ahead than
// the last-level cache holds: there it moves the oldest waiting piece itself,
// so that large species are read from main memory once for the scan and
// then found in the cache for moving. With the scan's cost r per molecule,
// relative to moving, two threads are about 2 - r times faster than one;
// with many, the step takes as long as the scan, at most 1/r times faster
// than one thread (and memory bandwidth may stop it sooner). Thread 0
// measures r as it goes (its scanning against its moving of the tail);
// where r comes near 1, as for the portable scan beside the AVX2 kernel,
// sharing cannot pay, and it scans only two pieces and moves the rest
// itself. A thread slowed by other work on the machine simply claims fewer
// pieces: the others, or the tail, take up the rest. Who moves which
// piece never changes a bit of the result. Whether a step is shared at all
// is measured as the engine runs (TShareJudge below): where sharing does
// not pay, on this machine now, the calling thread moves everything.
//
// The chain. Where the kernel has a near-wall list (Kernels.h, TNearList),
// a step on TEngineSettings::NearChainThreads threads or more is settled in
// two parts instead of the scan. Every thread first
// lists pieces, claimed in order: the escapes on x of a piece are decided
// there and then, since the X stream never shifts, and the y and z
// coordinates that could reach the wall are listed with their draws as if
// no escape on y or z came before them. Thread 0 then runs the chain
// through the lists in piece order, helping to list while the piece it
// needs next is not listed yet; at each piece it reaches, listed and with
// its start known, it publishes the piece's start, and the other threads
// move published pieces as before whenever listing has run as far ahead of
// the moving as the cache holds (or is done), so that moving finds the
// positions listing read still in the cache. The chain is the step's
// serial part: a short loop over the listed coordinates alone (about one
// in ten), without a branch on the escapes it finds. Its lists take room
// for two entries per molecule (32 bytes each) of which only the entries
// written are touched; species beyond MostListBytes of it are scanned.
//
// The threads are std::thread, made once when a step first needs them and
// kept until the engine ends or its thread count changes; between steps they
// sleep on a condition variable. A step allocates nothing.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Statg/Statg.h"

// The thread count that `value` (the text of KELVANE_THREADS, or null) asks
// for, or `fallback` when there is none; a value that is not a whole number
// from 1 to MostThreads is ignored, with one line naming it appended to
// `messages`.
int ThreadsFromEnvironment(const char* value, int fallback, std::vector<std::string>& messages);

// Whether sharing a step among threads pays on this machine now. Where
// scanning costs nearly as much as moving (the AVX-512 kernel here) two
// threads gain little, and while another job holds a core the thread on it
// makes every shared step wait: shared steps then take 1.4 to 1.5 times as
// long as steps on one thread. So the engine measures as it runs: a probe
// times shared and unshared steps alternately (ProbePairs of each, the
// first pair only warming up threads and caches) and compares their medians
// per molecule; the steps after it are shared only when shared steps were
// faster by more than Margin. The probe comes again after StepsBetweenProbes
// steps or SecondsBetweenProbes, whichever is first, so that a core that
// frees up (or becomes busy) is noticed; and at once when WorseInARow steps
// in a row were slower, by the margin, than the other way measured in the
// last probe (a core that became busy while steps were shared). Who moves what never changes a
// bit, so the verdict changes only speed. The clock is the caller's: the
// judge is given times and decides from them alone.
class TShareJudge {
 public:
  static constexpr int ProbePairs = 4;
  static constexpr int StepsBetweenProbes = 400;
  static constexpr double SecondsBetweenProbes = 2.0;
  // Shared steps must take less than this share of unshared ones' time.
  static constexpr double Margin = 0.95;
  static constexpr int WorseInARow = 3;

  // Whether the coming step is shared; `now` in seconds of a steady clock.
  bool ShareNext(double now);
  // The coming step took `seconds` for `molecules` molecules of species
  // that could be shared.
  void Record(double seconds, std::int64_t molecules);
  // The verdict of the last probe (false before the first one ends).
  bool Sharing() const { return Verdict; }

 private:
  bool Verdict = false;
  int ProbeStep = 0;  // steps of the current probe taken; -1 between probes
  int StepsSinceProbe = 0;
  double ProbeEnded = 0.0;  // s, the clock when the last probe ended
  bool Coming = false;      // what ShareNext said for the coming step
  // The last probe's medians, s per molecule, and the steps since then in a
  // row slower than the other way's median by the margin.
  double SharedMedian = 0.0, AloneMedian = 0.0;
  int Worse = 0;
  double Shared[ProbePairs] = {}, Alone[ProbePairs] = {};  // s per molecule
};

class TWorkers {
 public:
  // `threads` >= 2 threads in all, the caller's included: starts threads - 1.
  // Throws std::system_error when the system refuses a thread.
  explicit TWorkers(int threads);
  ~TWorkers();
  TWorkers(const TWorkers&) = delete;
  TWorkers& operator=(const TWorkers&) = delete;

  int Threads() const { return static_cast<int>(Inside.size()); }

  // Whether steps on these threads are shared (see TShareJudge).
  TShareJudge Judge;

  // TMoveMolecules of `kernel`, shared among the threads (see above): the
  // same molecules, count and streams after it as kernel.Move alone gives.
  std::int32_t Move(const TKernel& kernel, const TVolume& volume, TMolCoord* molecules,
                    std::int32_t count, double sigma, TStreamStates& streams);

  // Runs job(index, context) for every index 0 .. Threads() - 1 at once,
  // index 0 on the calling thread, and returns when all have returned.
  using TJob = void (*)(int index, void* context);
  void Run(TJob job, void* context);

 private:
  // Pieces of at least TEngineSettings::SmallestStepPiece molecules, and no
  // more pieces than this.
  static constexpr int MostPieces = 4096;

  // Bytes of near-wall lists a step may hold (virtual: only the entries
  // written are touched); larger species are settled by the scan.
  static constexpr std::size_t MostListBytes = std::size_t{512} << 20;

  struct TStepJob;
  static void StepPart(int index, void* context);
  void Scan(const TStepJob& job);
  // The near-wall lists and their chain (see "The chain" above).
  bool MakeListRoom(std::int32_t count);
  void ListPiece(const TStepJob& job, std::int32_t piece);
  bool ListNextPiece(const TStepJob& job);
  void Chain(const TStepJob& job);
  // What the threads beside the chain do: list, no further ahead of the
  // moving than the cache holds, and move the pieces the chain has reached.
  void ListAhead(const TStepJob& job, std::int32_t& inside);
  // Pieces that fit in half the cache the step assumes (at least 2).
  std::int32_t PiecesInCache(const TStepJob& job) const;
  void MoveClaimed(const TStepJob& job, std::int32_t& inside);
  void MovePiece(const TStepJob& job, std::int32_t piece, std::int32_t& inside);
  void WorkerLoop(int index);
  void Stop();

  // One step's pieces: Pieces of PieceSize molecules, the last one shorter.
  std::int32_t Pieces = 0, PieceSize = 0;
  // PieceStart[i]: the stream states at piece i, for i <= Scanned.
  std::vector<TStreamStates> PieceStart;
  alignas(64) std::atomic<std::int32_t> Scanned{0};  // pieces the scan has read
  alignas(64) std::atomic<std::int32_t> Tail{0};     // first piece of thread 0's tail
  alignas(64) std::atomic<std::int32_t> Claimed{0};  // pieces handed out
  // Per thread: molecules found inside, on its own cache line.
  struct alignas(64) TCount {
    std::int32_t Inside = 0;
  };
  std::vector<TCount> Inside;
  TStreamStates Finish;  // the states after the last molecule
  // r: scanning a molecule against moving it, as measured by thread 0.
  double ScanShare = 0.5;

  // Whether this step is settled by the near-wall chain rather than the scan.
  bool Chained = false;
  // The near-wall list of each piece, in ListStride entries of the arrays
  // from piece * ListStride on; Listed[i] holds the number of the step whose
  // piece i is listed.
  std::vector<TNearList> Lists;
  std::unique_ptr<std::uint64_t[]> ListJumps;
  std::unique_ptr<std::int64_t[]> ListLow, ListHigh;
  std::unique_ptr<double[]> ListPositions;
  std::int64_t ListRoom = 0, ListStride = 0;
  std::unique_ptr<std::atomic<std::uint32_t>[]> Listed;
  std::uint32_t StepNumber = 0;
  alignas(64) std::atomic<std::int32_t> ListClaimed{0};  // pieces handed out to list

  std::mutex Mutex;
  std::condition_variable Wake, Done;
  std::uint64_t Generation = 0;  // counts jobs; a new value wakes the threads
  int Pending = 0;               // threads still running the current job
  bool Stopping = false;
  TJob Job = nullptr;
  void* JobContext = nullptr;
  std::vector<std::thread> Pool;
};
