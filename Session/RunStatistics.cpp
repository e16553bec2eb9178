#include "Session/RunStatistics.h"

#include <charconv>
#include <cmath>

#include "Diffunit/Diffunit.h"
#include "Session/Checks.h"
#include "Session/DoubleChars.h"

std::optional<TBand> ExpectedBand(double expectedCount, double innerVolume, double outerVolume) {
  if (!(expectedCount > 0.0) || !(innerVolume > 0.0) || !(outerVolume >= innerVolume) ||
      !std::isfinite(outerVolume) || !std::isfinite(expectedCount))
    return std::nullopt;
  const double mu = expectedCount;
  const double sigma = std::sqrt(mu * (1.0 - innerVolume / outerVolume));
  return TBand{mu, 2.0 * sigma};
}

std::optional<TBand> ExpectedBand(const TVolume& volume) {
  // Centred on the count the concentrations give, not on the sum of each
  // species' truncated count: eight species of 0.9 molecules in the cube
  // expect 7.2 inside, where the truncated counts sum to 0.
  double expected = 0.0;
  for (const TSpecies& species : volume.Species)
    expected += species.Concentration * volume.InnerVolume;
  return ExpectedBand(expected, volume.InnerVolume, volume.OuterVolume);
}

void TRunStatistics::Restart() { *this = TRunStatistics(); }

void TRunStatistics::FollowEngine(const TVolume& volume, double wallSeconds, char separator) {
  Expect(volume.TotalInnerCount, ExpectedBand(volume));
  MarkWallTime(wallSeconds);
  SetNotes(SetupNotes(volume, separator));
}

void TRunStatistics::RestartAverages(const TFillingExpectation& expectation) {
  Recent.fill(0);
  RecentCount = 0;
  RecentSum = 0;
  Equilibrated.reset();
  MeasuredFilling.reset();
  Expected = expectation;
}

void TRunStatistics::Expect(std::int32_t referenceCount, const std::optional<TBand>& band) {
  LastReference = referenceCount;
  LastBand = band;
}

void TRunStatistics::Record(std::int32_t insideCount, double time, double expectedCount) {
  std::int32_t& slot = Recent[static_cast<std::size_t>(RecentCount % MeanSteps)];
  RecentSum += insideCount - slot;
  slot = insideCount;
  ++RecentCount;
  ++StepCount;
  LastTime = time;
  LastInside = insideCount;
  if (std::isnan(expectedCount))
    Expected.Count.reset();
  else
    Expected.Count = expectedCount;
  const double mean = RecentMean();
  if (!Equilibrated && LastBand && mean >= LastBand->Lower() && mean <= LastBand->Upper())
    Equilibrated = time;
  if (!MeasuredFilling && Expected.Limit > 0.0 && mean >= FillingShare * Expected.Limit)
    MeasuredFilling = time;
}

void TRunStatistics::MarkWallTime(double seconds) {
  if (RateWall < 0.0) {
    RateWall = seconds;
    RateSteps = StepCount;
    return;
  }
  // A window of about a second: steady enough to read, recent enough to
  // follow a change of speed.
  const double elapsed = seconds - RateWall;
  if (elapsed < 0.25) return;
  Rate = static_cast<double>(StepCount - RateSteps) / elapsed;
  if (elapsed >= 1.0) {
    RateWall = seconds;
    RateSteps = StepCount;
  }
}

double TRunStatistics::RecentMean() const {
  const std::int64_t count = RecentCount < MeanSteps ? RecentCount : MeanSteps;
  return count > 0 ? static_cast<double>(RecentSum) / static_cast<double>(count) : 0.0;
}

namespace {

// `x` with `digits` significant digits, shortest form, with `separator`.
std::string Short(double x, int digits, char separator) {
  char buffer[64];
  const auto result =
      DoubleChars::ToChars(buffer, buffer + sizeof buffer, x, std::chars_format::general, digits);
  std::string text(buffer, result.ptr);
  for (char& c : text)
    if (c == '.') c = separator;
  return text;
}

// `x` as Short gives it, but a whole number once it has more integer digits
// than `digits`: a count of 71,999 reads 71999, not 7.2e+04.
std::string Readable(double x, int digits, char separator) {
  // From 10^(digits - 1) a whole number reads the same, and keeps 99.96 at
  // 2 digits from reading 1e+02.
  if (std::fabs(x) >= std::pow(10.0, digits - 1) && std::fabs(x) < 9e18)
    return std::to_string(std::llround(x));
  return Short(x, digits, separator);
}

}  // namespace

std::string TRunStatistics::ReadoutText(char separator) const {
  std::string text =
      "t " + Readable(LastTime, 4, separator) + " s, step " + std::to_string(StepCount);
  if (Rate) text += ", " + Readable(*Rate, 3, separator) + "/s";
  text +=
      "\ninside " + std::to_string(LastInside) + ", mean " + Readable(RecentMean(), 4, separator);
  if (!LastBand) {
    text += "\nno reference to compare with";
  } else {
    // The band is centred on the count the concentrations give; the
    // reference sums truncated counts, and says where they part.
    const std::string reference = std::to_string(LastReference);
    const std::string centre = Readable(LastBand->Centre, 4, separator);
    text += ", ref " + reference + (centre == reference ? "" : ", band " + centre) + "\xC2\xB1" +
            Readable(LastBand->HalfWidth, 2, separator);
    text += Equilibrated ? "\nin band at t " + Readable(*Equilibrated, 4, separator) + " s"
                         : std::string("\nnot in band yet");
    // The mean may settle off the reference (escapes re-injected at the wall
    // keep molecules there): say by how much, not only whether it is in band.
    if (RecentCount > 0) {  // a mean of no steps would read -100 %
      const double offset = 100.0 * (RecentMean() - LastBand->Centre) / LastBand->Centre;
      text +=
          ", mean " + std::string(offset < 0 ? "" : "+") + Readable(offset, 2, separator) + " %";
    }
  }
  return text + ExpectedText(separator) + (Notes.empty() ? "" : "\n" + Notes);
}

std::string TRunStatistics::ExpectedText(char separator) const {
  if (!Expected.Count) return "\nno expected curve: " + Expected.Why;
  if (!(Expected.Limit > 0.0)) return "\nexpected 0 (no molecules)";
  std::string text = "\nexpected " + Readable(*Expected.Count, 4, separator) + " of " +
                     Readable(Expected.Limit, 4, separator) + " (diffusion)";
  if (Expected.Coarse) text += "\n" + CoarseStepsText(*Expected.Coarse, separator);
  const auto when = [&](const std::optional<double>& time) {
    return time ? Readable(*time, 4, separator) + " s" : std::string("not yet");
  };
  // Below the mark with no time to reach it (a time step of 0), the count
  // never gets there.
  const bool reached = *Expected.Count >= FillingShare * Expected.Limit;
  const std::string expected = Expected.FillingTime ? when(Expected.FillingTime)
                               : reached            ? "already"
                                                    : "never";
  return text + "\n" + Readable(100.0 * FillingShare, 3, separator) + " % filled: expected " +
         expected + ", run " + when(MeasuredFilling);
}
