// Cost of one refresh of the molecule view: the copy of its picture from the
// engine and the paint of the window (480 x 560), on Qt's offscreen platform.
//
//   build/bench/moleculeview_bench --benchmark_min_time=2
//
// At the default ribs, with one species of concentration arg * 1e18 m^-3:
// 720 is the default (719,999 molecules), 10000 is 10^7 molecules. "start"
// is the engine one step after populating: the molecules are still in the
// corner blocks and the slab is nearly empty. "mixed" is a long run's state:
// every molecule at a uniform point of the outer cube, then one step, so that
// escapes lie on the wall; the slab holds a tenth of the molecules, the most
// the view ever draws at these ribs.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>

#include "Diffunit/Diffunit.h"
#include "Mainform/MoleculeView.h"
#include "Session/Parameters.h"

namespace {

// The engine of the last benchmark, kept while the next one asks for the
// same state: populating 10^7 molecules takes a while.
const TVolume& Engine(std::int64_t concentrationE18, bool mixed) {
  static std::unique_ptr<TVolume> engine;
  static std::int64_t madeFor = -1;
  static bool madeMixed = false;
  if (engine && madeFor == concentrationE18 && madeMixed == mixed) return *engine;
  engine.reset();
  engine = std::make_unique<TVolume>();
  SetDefaultParameters(*engine);
  engine->AddSpecies(static_cast<double>(concentrationE18) * 1e18, Defaults::Diffusion,
                     Defaults::Radius);
  engine->Step();  // activates the spare slots
  if (mixed) {
    std::uint64_t state = 88172645463325252u;  // xorshift64
    const auto uniform = [&state] {
      state ^= state << 13;
      state ^= state >> 7;
      state ^= state << 17;
      return static_cast<double>(state >> 11) * 0x1p-53 * 2.0 - 1.0;
    };
    const double b0 = engine->OuterRib;
    for (TMolCoord& p : engine->Species[0].Molecules)
      p = {b0 * uniform(), b0 * uniform(), b0 * uniform()};
    engine->Step();
  }
  madeFor = concentrationE18;
  madeMixed = mixed;
  return *engine;
}

void Refresh(benchmark::State& state, bool mixed) {
  const TVolume& engine = Engine(state.range(0), mixed);
  TMoleculeView view(nullptr);
  view.show();
  for (auto _ : state) {
    view.Refresh(engine);
    view.repaint();
  }
  state.counters["molecules"] = static_cast<double>(view.Picture().Active);
  state.counters["drawn"] = static_cast<double>(view.Picture().Drawn());
}

void BM_RefreshStart(benchmark::State& state) { Refresh(state, false); }
void BM_RefreshMixed(benchmark::State& state) { Refresh(state, true); }
BENCHMARK(BM_RefreshStart)->Arg(720)->Arg(10000)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RefreshMixed)->Arg(720)->Arg(10000)->Unit(benchmark::kMillisecond);

// The copy alone, to tell it from the paint.
void BM_PictureMixed(benchmark::State& state) {
  const TVolume& engine = Engine(state.range(0), true);
  for (auto _ : state) benchmark::DoNotOptimize(TakeMoleculePicture(engine));
}
BENCHMARK(BM_PictureMixed)->Arg(720)->Arg(10000)->Unit(benchmark::kMillisecond);

}  // namespace
