// The run on the charts and in files: each step's sample plotted with its
// band and expectation, the curve and run exports, the kept runs fed from the
// run record, and the molecule view. Data comes here from the engine and the
// run record; nothing here changes the engine.
#include <QDir>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <limits>

#include "Mainform/Mainform.h"
#include "Mainform/MoleculeView.h"
#include "Session/Exports.h"
#include "Session/OutputFile.h"
#include "Session/RunCsv.h"

namespace {

// Writes one of the measured curves to its file in the working directory.
void SaveCurve(const TRunRecord& record, TCurve curve) {
  WriteFileAtomically(CurveFileName(curve), CurveText(record.Samples(), curve));
}

}  // namespace

void TMForm::PlotStep(std::int32_t insideCount, std::int32_t innerCountTotal,
                      double insideConcentration, double totalConcentration, double time) {
  const TVolume& volume = Run->Volume();
  const TRunSample sample =
      SampleOf(volume, insideCount, innerCountTotal, insideConcentration, totalConcentration, time);
  const std::optional<TBand> band = ExpectedBand(volume);
  Run->Record().Add(sample, band);
  PlotSample(sample, band);
}

void TMForm::PlotSample(const TRunSample& sample, const std::optional<TBand>& band) {
  const double time = sample.Time;
  CChart->AppendPoint(0, time, sample.TotalConcentration);
  CChart->AppendPoint(1, time, sample.InsideConcentration);
  NChart->AppendPoint(0, time, static_cast<double>(sample.ReferenceCount));
  NChart->AppendPoint(1, time, static_cast<double>(sample.InsideCount));
  ExtendBand(time, band);
  NChart->AppendExpected(time, sample.ExpectedCount);
  CChart->AppendExpected(time, sample.ExpectedCount / Run->Volume().InnerVolume);
}

void TMForm::ExtendBand(double time, const std::optional<TBand>& band) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double lower = band ? band->Lower() : nan;
  const double upper = band ? band->Upper() : nan;
  NChart->ExtendBand(time, lower, upper);
  // The concentration chart shows the same band per volume of the inner cube.
  CChart->ExtendBand(time, lower / Run->Volume().InnerVolume, upper / Run->Volume().InnerVolume);
}

void TMForm::ShowExpected(bool visible) {
  ExpectedAction->setChecked(visible);
  CChart->SetExpectedVisible(visible);
  NChart->SetExpectedVisible(visible);
}

void TMForm::ShowBand(bool visible) {
  BandAction->setChecked(visible);
  CChart->SetBandVisible(visible);
  NChart->SetBandVisible(visible);
}

// ---------------------------------------------------------------------------
// Exports: the measured curves and the whole run, from the run record.

void TMForm::SaveCButtonClick() { SaveCurve(Run->Record(), TCurve::Concentration); }

void TMForm::SaveNButtonClick() { SaveCurve(Run->Record(), TCurve::Count); }

void TMForm::ExportRunButtonClick() {
  const QString folder = RunExportFolder.isEmpty() ? QDir::currentPath() : RunExportFolder;
  const QString fileName = QFileDialog::getSaveFileName(
      this, QStringLiteral("Export run"), QDir(folder).filePath(QStringLiteral("run.csv")),
      QStringLiteral("CSV files (*.csv);;All files (*)"));
  if (fileName.isEmpty()) return;
  RunExportFolder = QFileInfo(fileName).absolutePath();
  ExportRun(fileName);
}

void TMForm::ExportRun(const QString& fileName) {
  WriteFileAtomically(QFile::encodeName(fileName).toStdString(), RunCsv(*Run));
}

// ---------------------------------------------------------------------------
// Kept runs: the run record's curves, or a run CSV's, beside the run now.

void TMForm::KeepRun() { KeptRuns->Keep(Run->Record().Samples()); }

void TMForm::KeepRunClick() { KeepRun(); }

void TMForm::CompareWithFile(const QString& fileName) { KeptRuns->CompareWithFile(fileName); }

void TMForm::RemoveKeptRun(int index) { KeptRuns->Remove(index); }

void TMForm::ClearKeptRuns() { KeptRuns->Clear(); }

void TMForm::ClearKeptRunsClick() { ClearKeptRuns(); }

int TMForm::KeptRunCount() const { return KeptRuns->Count(); }

// ---------------------------------------------------------------------------
// Views beyond the curves

void TMForm::MoleculeViewButtonClick() {
  if (!MoleculeView) {
    MoleculeView = new TMoleculeView(this);
    connect(this, &TMForm::EngineChanged, MoleculeView,
            [this] { MoleculeView->Refresh(Engine()); });
  }
  MoleculeView->Open(Engine());
}
