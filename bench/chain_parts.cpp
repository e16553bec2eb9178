// The parts of a shared step at the window's defaults (719,999 molecules),
// each timed on its own on one thread, alternated in one process: moving
// (the kernel's moving part), the scan, the near-wall lists (in pieces of
// 4,096 molecules, as a shared step cuts them) and their chain. Then whole
// steps on 1 and 2 threads, shared with the chain and with the scan, also
// alternated.
//
//   build/bench/chain_parts [kernel, or fastest] [rounds] [warm-up steps]
//   build/bench/chain_parts avx512 15 300
//
// Each part runs from the same molecules and stream states every round, and
// each round checks that moving, the scan and the chain leave the same
// states. Prints the median and least thread CPU time (and wall time) of each
// part per step, and the median wall time per step of each way of stepping
// (20 steps a round). Not a test: it checks nothing but the equal states, and
// exits with 1 when they differ.
#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>
#include <vector>

#include "Diffunit/Diffunit.h"
#include "Diffunit/Kernels.h"
#include "Session/Parameters.h"
#include "Statg/Statg.h"
#include "bench/median.h"

namespace {

double ThreadMilliseconds() {
  timespec t;
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return t.tv_sec * 1e3 + t.tv_nsec * 1e-6;
}

double WallMilliseconds() {
  return std::chrono::duration<double, std::milli>(
             std::chrono::steady_clock::now().time_since_epoch())
      .count();
}

constexpr std::int32_t Piece = 4096;

// Lists for `count` molecules in pieces of Piece.
struct TLists {
  explicit TLists(std::int32_t count) {
    for (std::int32_t begin = 0; begin < count; begin += Piece) {
      const std::int32_t n = std::min(Piece, count - begin);
      const auto room = static_cast<std::size_t>(NearListCapacity(n));
      Jumps.emplace_back(room);
      Low.emplace_back(room);
      High.emplace_back(room);
      Positions.emplace_back(room);
      TNearList list;
      list.Jumps = Jumps.back().data();
      list.Low = Low.back().data();
      list.High = High.back().data();
      list.Positions = Positions.back().data();
      Lists.push_back(list);
    }
  }
  std::vector<std::vector<std::uint64_t>> Jumps;
  std::vector<std::vector<std::int64_t>> Low, High;
  std::vector<std::vector<double>> Positions;
  std::vector<TNearList> Lists;
};

struct TTimes {
  std::vector<double> Cpu, Wall;
  void Add(double cpu, double wall) {
    Cpu.push_back(cpu);
    Wall.push_back(wall);
  }
};

template <class TPart>
void Time(TTimes& times, TPart part) {
  const double cpu = ThreadMilliseconds(), wall = WallMilliseconds();
  part();
  times.Add(ThreadMilliseconds() - cpu, WallMilliseconds() - wall);
}

double Least(const std::vector<double>& values) {
  return *std::min_element(values.begin(), values.end());
}

}  // namespace

int main(int argc, char** argv) {
  const bool fastest = argc < 2 || std::strcmp(argv[1], "fastest") == 0;
  const std::string name = fastest ? FastestKernel().Name : argv[1];
  const int rounds = argc > 2 ? std::atoi(argv[2]) : 15;
  const int warmUp = argc > 3 ? std::atoi(argv[3]) : 300;
  const TKernel* kernel = nullptr;
  for (const TKernel& k : Kernels)
    if (name == k.Name && k.Supported()) kernel = &k;
  if (fastest && kernel && !kernel->ListNear) {
    std::printf("the fastest kernel here, %s, has no near-wall chain: nothing to measure\n",
                name.c_str());
    return 0;
  }
  if (!kernel || !kernel->ListNear) {
    std::fprintf(stderr, "no supported kernel with a near-wall chain named %s\n", name.c_str());
    return 1;
  }

  TVolume volume;
  TEngineSettings settings;
  settings.Threads = 1;
  settings.Kernel = kernel;
  volume.SetSettings(settings);
  SetDefaultParameters(volume);
  volume.SetStepCallback([](std::int32_t, std::int32_t, double, double, double) {});
  AddDefaultSpecies(volume);
  for (int step = 0; step < warmUp; ++step) volume.Step();
  const TSpecies& species = volume.Species[0];
  const std::int32_t count = species.InsideCount + species.OutsideCount;
  const double sigma = species.Sigma;
  const TStreamStates start = volume.Streams;
  TLists lists(count);
  std::vector<TMolCoord> moved;

  TTimes moving, scanning, listing, chaining;
  std::int64_t entries = 0, xEscapes = 0, yzEscapes = 0;
  bool same = true;
  for (int round = 0; round < rounds; ++round) {
    TStreamStates afterMoving = start, afterScan = start, afterChain = start;
    moved = species.Molecules;
    Time(moving, [&] { kernel->Move(volume, moved.data(), count, sigma, afterMoving); });
    Time(scanning,
         [&] { kernel->Scan(volume, species.Molecules.data(), count, sigma, afterScan); });
    Time(listing, [&] {
      for (std::size_t p = 0; p < lists.Lists.size(); ++p) {
        const std::int32_t begin = static_cast<std::int32_t>(p) * Piece;
        kernel->ListNear(volume, species.Molecules.data() + begin, std::min(Piece, count - begin),
                         sigma, Jumped(start.X, JumpMultiplier(12 * std::uint64_t(begin))),
                         lists.Lists[p]);
      }
    });
    Time(chaining, [&] {
      for (std::size_t p = 0; p < lists.Lists.size(); ++p) {
        const std::int32_t begin = static_cast<std::int32_t>(p) * Piece;
        kernel->ChainNear(volume, lists.Lists[p], std::min(Piece, count - begin), sigma,
                          afterChain);
      }
    });
    same = same && afterMoving == afterScan && afterMoving == afterChain;
    if (round == 0) {
      for (const TNearList& list : lists.Lists) {
        entries += list.Count;
        xEscapes += list.XEscapes;
      }
      // Every escape draws 2 from the placement stream.
      std::int32_t state = start.Placement;
      std::int64_t draws = 0;
      while (state != afterMoving.Placement && draws < 4 * std::int64_t{count}) {
        NextUniform(state);
        ++draws;
      }
      yzEscapes = draws / 2 - xEscapes;
    }
  }
  std::printf("kernel %s, %d molecules, %d warm-up steps, %d rounds; states %s\n", kernel->Name,
              count, warmUp, rounds, same ? "equal" : "DIFFER");
  std::printf("per step: %lld near entries on y and z, %lld escapes on x, %lld on y and z\n",
              static_cast<long long>(entries), static_cast<long long>(xEscapes),
              static_cast<long long>(yzEscapes));
  std::printf("%-8s %12s %12s %12s\n", "part", "cpu median", "cpu least", "wall median");
  for (const auto& [part, times] : std::map<std::string, TTimes*>{{"1 moving", &moving},
                                                                  {"2 scan", &scanning},
                                                                  {"3 list", &listing},
                                                                  {"4 chain", &chaining}})
    std::printf("%-8s %9.3f ms %9.3f ms %9.3f ms\n", part.c_str(), Median(times->Cpu),
                Least(times->Cpu), Median(times->Wall));
  std::printf("chain: %.1f ns per y/z escape, %.2f ns per entry (cpu median)\n",
              1e6 * Median(chaining.Cpu) / static_cast<double>(yzEscapes),
              1e6 * Median(chaining.Cpu) / static_cast<double>(entries));

  // Whole steps, alternated: one thread; two with the chain; two with the scan.
  struct TWay {
    const char* Name;
    int Threads;
    bool Chain;
    std::vector<double> PerStep;
  };
  std::vector<TWay> ways = {{"1 thread", 1, true, {}},
                            {"2 threads, chain", 2, true, {}},
                            {"2 threads, scan", 2, false, {}}};
  std::vector<std::vector<TMolCoord>> saved;
  for (int round = 0; round < rounds; ++round) {
    for (TWay& way : ways) {
      TEngineSettings s = settings;
      s.Threads = way.Threads;
      s.NearChainThreads = way.Chain ? 2 : MostThreads + 1;
      s.Sharing =
          way.Threads > 1 ? TEngineSettings::TSharing::Always : TEngineSettings::TSharing::Never;
      volume.SetSettings(s);
      volume.Step();  // threads started, caches warm
      const double wall = WallMilliseconds();
      for (int step = 0; step < 20; ++step) volume.Step();
      way.PerStep.push_back((WallMilliseconds() - wall) / 20);
    }
  }
  std::printf("\nwhole steps (wall, per step, %d rounds of 20):\n", rounds);
  for (const TWay& way : ways)
    std::printf("%-18s median %7.3f ms, least %7.3f ms, %5.2f times 1 thread (median)\n", way.Name,
                Median(way.PerStep), Least(way.PerStep),
                Median(ways[0].PerStep) / Median(way.PerStep));
  return same ? 0 : 1;
}
