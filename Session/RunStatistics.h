// What the readout and the band show about a run: the noise physics expects
// around the reference count, the recent mean of the count inside, when that
// mean first came into the expected band, and the run's speed. Plain C++.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "Session/Filling.h"

class TVolume;

// The expected spread of the inside count at equilibrium. Each of the N
// molecules of the medium sits in the inner cube with probability
// p = InnerVolume / OuterVolume, so the count is binomial with mean
// mu = N p (C V1 summed over species, before any truncation) and variance
// mu (1 - p). The band is mu +- 2 sigma: about 95 % of the counts of a
// settled run fall inside it.
struct TBand {
  double Centre = 0.0;     // mu, molecules
  double HalfWidth = 0.0;  // 2 sigma, molecules
  double Lower() const { return Centre - HalfWidth; }
  double Upper() const { return Centre + HalfWidth; }
};

// The band for an expected count and the two volumes [m^3]; none when the
// engine has nothing to expect (no molecules, no volumes, an inner cube not
// inside the outer one).
std::optional<TBand> ExpectedBand(double expectedCount, double innerVolume, double outerVolume);
// The band of the engine as it stands, centred on the count its species'
// concentrations give in the inner cube (not the reference count, which
// sums each species' truncated count).
std::optional<TBand> ExpectedBand(const TVolume& volume);

class TRunStatistics {
 public:
  // The running mean covers this many of the latest steps.
  static constexpr int MeanSteps = 100;

  // Forgets the run (Apply).
  void Restart();
  // The species changed: the mean, the time it came into the band and the
  // measured filling time start again from here, with the new expectation.
  void RestartAverages(const TFillingExpectation& expectation);
  // The reference count and the band in force: from the next step on, and
  // for the readout at once (after Apply and species changes).
  void Expect(std::int32_t referenceCount, const std::optional<TBand>& band);
  // One step's report, with the expected count at that step (NaN: none).
  void Record(std::int32_t insideCount, double time, double expectedCount);
  // The wall-clock time [s] at which the steps so far were reached; the rate
  // is taken over the latest second or so.
  void MarkWallTime(double seconds);
  // The setup's notes (Checks.h: SetupNotes), one line each, shown last.
  void SetNotes(const std::string& notes) { Notes = notes; }
  // After every change of the engine (Apply, the species buttons, an opened
  // session), in the window and the page alike: the reference count and band
  // the engine now gives, the wall clock [s] for the steps per second, and
  // the setup's notes.
  void FollowEngine(const TVolume& volume, double wallSeconds, char separator);

  std::int64_t Steps() const { return StepCount; }
  double Time() const { return LastTime; }
  // Mean inside count over the latest MeanSteps steps since the species last
  // changed (fewer at first).
  double RecentMean() const;
  // The first simulated time [s] at which RecentMean() lay inside the band.
  std::optional<double> EquilibrationTime() const { return Equilibrated; }
  // The first simulated time [s] at which RecentMean() reached FillingShare
  // of the expected limit.
  std::optional<double> MeasuredFillingTime() const { return MeasuredFilling; }
  const TFillingExpectation& Filling() const { return Expected; }
  // Steps per second of wall time, or none before there is a measure.
  std::optional<double> StepsPerSecond() const { return Rate; }

  // The readout: five short lines, then one where the steps are too coarse
  // for the expected count and one per note of the setup; numbers with
  // `separator`.
  std::string ReadoutText(char separator) const;

 private:
  // The readout's lines about the expected count.
  std::string ExpectedText(char separator) const;

 private:
  std::int64_t StepCount = 0;
  double LastTime = 0.0;
  std::int32_t LastInside = 0;
  std::int32_t LastReference = 0;
  std::optional<TBand> LastBand;
  std::array<std::int32_t, MeanSteps> Recent{};  // ring of the latest counts
  std::int64_t RecentCount = 0;                  // counts in the ring
  std::int64_t RecentSum = 0;
  std::optional<double> Equilibrated;
  TFillingExpectation Expected;
  std::optional<double> MeasuredFilling;
  std::optional<double> Rate;
  double RateWall = -1.0;      // wall time at the start of the rate's window
  std::int64_t RateSteps = 0;  // steps at that time
  std::string Notes;
};
