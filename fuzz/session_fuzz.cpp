// Fuzzes the session reader: session files (TOML) and run CSV headers.
//
// Input: the file's bytes. Oracle: the reader either refuses with a message
// naming the file and a line, or returns a session whose numbers are what
// its texts read as, with at least one species; written as a session file
// and read again, it gives the same texts and the same bits.
#include <cstdint>
#include <cstring>
#include <string>

#include "Diffunit/Diffunit.h"
#include "Session/Conversions.h"
#include "Session/SessionFile.h"
#include "fuzz/fuzz_check.h"

namespace {

bool SameBits(double a, double b) { return std::memcmp(&a, &b, sizeof a) == 0; }

bool SameNumbers(const TSession& a, const TSession& b) {
  const TSimulationValues& x = a.Simulation;
  const TSimulationValues& y = b.Simulation;
  if (!SameBits(x.OuterRib, y.OuterRib) || !SameBits(x.InnerRib, y.InnerRib) ||
      !SameBits(x.Viscosity, y.Viscosity) || !SameBits(x.Temperature, y.Temperature) ||
      !SameBits(x.TimeStep, y.TimeStep) || a.Species.size() != b.Species.size())
    return false;
  for (std::size_t i = 0; i < a.Species.size(); ++i)
    if (!SameBits(a.Species[i].Concentration, b.Species[i].Concentration) ||
        !SameBits(a.Species[i].Radius, b.Species[i].Radius) ||
        !SameBits(a.Species[i].Diffusion, b.Species[i].Diffusion))
      return false;
  return true;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  TSession session;
  try {
    session = ParseSession(text, "in.kelvane");
  } catch (const TError& error) {
    const std::string message = error.what();
    FUZZ_CHECK(message.rfind("in.kelvane:", 0) == 0);
    return 0;
  }
  FUZZ_CHECK(!session.Species.empty());
  FUZZ_CHECK(session.Species.size() == session.SpeciesTexts.size());
  FUZZ_CHECK(SameBits(session.Simulation.TimeStep, TextToNumber(session.SimulationTexts[4], '.')));
  const TSession again = ParseSession(SessionFileText(session), "again.kelvane");
  FUZZ_CHECK(again.SimulationTexts == session.SimulationTexts);
  FUZZ_CHECK(SameNumbers(again, session));
  return 0;
}
