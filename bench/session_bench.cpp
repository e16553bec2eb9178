// Opening a session in the window: the start state, "+ Species" for each
// further species, Apply, and Apply Species for those that differ from the
// start, on Qt's offscreen platform.
//
//   QT_QPA_PLATFORM=offscreen build/bench/session_bench
//
// The argument is the number of species, each of 719,999 molecules at the
// default ribs with its own diffusion coefficient, so that every one is
// placed twice: once as "+ Species" adds it, once as "Apply Species".
#include <benchmark/benchmark.h>

#include <QString>
#include <cstdio>
#include <string>

#include "Mainform/Mainform.h"
#include "Session/OutputFile.h"

namespace {

std::string SessionOfSpecies(int count) {
  std::string text =
      "format = 1\n[simulation]\nSIM_B0 = '1E-5'\nSIM_B1 = '1E-6'\nSIM_Q = '0.001'\n"
      "SIM_T = '293.15'\nSIM_DT = '0.0001'\n";
  for (int i = 0; i < count; ++i)
    text += "[[species]]\nSP_C = '7.2E20'\nSP_A = '1.5E-9'\nSP_D = '" + std::to_string(1 + i) +
            "E-10'\n";
  return text;
}

void BM_OpenSession(benchmark::State& state) {
  const std::string name = "/tmp/kelvane-session-bench.kelvane";
  WriteFileAtomically(name, SessionOfSpecies(static_cast<int>(state.range(0))));
  TMForm form;
  for (auto _ : state) form.OpenSession(QString::fromStdString(name));
  std::remove(name.c_str());
  state.counters["species"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_OpenSession)->Arg(1)->Arg(8)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
