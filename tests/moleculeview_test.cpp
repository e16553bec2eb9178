// The molecule view: which molecules it picks and how it sorts them, what it
// makes of ribs it cannot draw, and that opening it changes nothing in a run.
#include "Mainform/MoleculeView.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <string>
#include <vector>

#include "Mainform/Mainform.h"
#include "Mainform/Parameters.h"
#include "tests/qt_test_support.h"
#include "tests/test_support.h"

namespace {

constexpr double B0 = 1e-5;
constexpr double B1 = 1e-6;

TEST(MoleculePicture, SortsTheSlabTheInnerCubeAndTheWall) {
  struct TCase {
    TMolCoord p;
    int slab, inside, wall;
  };
  const TCase cases[] = {
      {{0, 0, 0}, 1, 1, 0},
      {{B1, 0, 0}, 1, 0, 0},               // on the inner face: not inside, as in a step
      {{0.5e-5, -0.5e-5, -B1}, 1, 0, 0},   // on the slab's face
      {{B0, 0.3e-5, 0}, 1, 0, 1},          // on the x wall
      {{-0.2e-5, -B0, -0.5e-6}, 1, 0, 1},  // on the y wall
      {{0, 0, B0}, 0, 0, 0},               // on the z wall: beyond the slab
      {{0, 0, 1.1e-6}, 0, 0, 0},           // above the slab
      {{1.5e-5, 0, 0}, 0, 0, 0},           // beyond the wall: smaller ribs just applied
  };
  for (const TCase& c : cases) {
    TVolume engine;
    engine.SetParameters(B0, B1, 0.001, 293.15, 1e-4);
    HandPlaced(engine, {c.p});
    // A second species whose second slot is spare: never read.
    HandPlaced(engine, {{0, 0, 0}, {0, 0, 0}}).OutsideCount = 1;
    const TMoleculePicture picture = TakeMoleculePicture(engine);
    const std::string where = std::to_string(c.p.x) + ", " + std::to_string(c.p.y);
    EXPECT_EQ(picture.Active, 2);
    EXPECT_EQ(picture.InSlab, c.slab + 1) << where;
    EXPECT_EQ(picture.Inside, c.inside + 1) << where;
    EXPECT_EQ(picture.OnWall, c.wall) << where;
    EXPECT_EQ(picture.Wall.size(), static_cast<std::size_t>(c.wall)) << where;
    ASSERT_EQ(picture.Species.size(), 2u);
    EXPECT_EQ(picture.Species[0].size(), static_cast<std::size_t>(c.slab - c.wall)) << where;
    EXPECT_EQ(picture.Species[1], (std::vector<TViewPoint>{{0, 0}}));
  }
}

TEST(MoleculePicture, RibsItCannotDrawOrNoSpeciesGiveAnEmptyFrame) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  struct TCase {
    double b0, b1;
    bool species;
  } const cases[] = {{B0, B1, false}, {0, 0, true},     {B0, 0, true},   {0, B1, true},
                     {B1, B0, true},  {-B0, -B1, true}, {nan, B1, true}, {inf, B1, true}};
  TMoleculeView view(nullptr);
  view.show();
  for (const TCase& c : cases) {
    TVolume engine;
    engine.OuterRib = c.b0;
    engine.InnerRib = c.b1;
    if (c.species) HandPlaced(engine, {{0, 0, 0}, {B0, 0, 0}});
    view.Refresh(engine);
    EXPECT_EQ(view.Picture().Drawn(), 0) << c.b0 << " " << c.b1;
    EXPECT_EQ(view.Picture().InSlab, 0);
    EXPECT_FALSE(view.grab().isNull());  // paints its frame and says why it is empty
  }
}

TEST(MoleculePicture, ManyMoleculesAreThinnedTheSameWayEveryTime) {
  TVolume engine;
  engine.SetParameters(B0, B0, 0.001, 293.15, 1e-4);  // the slab is the whole cube
  std::vector<TMolCoord> molecules(1000000);
  for (std::size_t i = 0; i < molecules.size(); ++i)
    molecules[i] = {(static_cast<double>(i * 7919 % 2001) - 1000.0) * 1e-8,
                    (static_cast<double>(i % 2001) - 1000.0) * 1e-8, 0.0};
  HandPlaced(engine, std::move(molecules));
  const TMoleculePicture first = TakeMoleculePicture(engine);
  EXPECT_EQ(first.Stride, 5);
  EXPECT_EQ(first.InSlab, 200000);
  EXPECT_LE(first.Drawn(), MoleculeViewPoints);
  EXPECT_GT(first.Drawn(), MoleculeViewPoints * 9 / 10);
  EXPECT_EQ(TakeMoleculePicture(engine).Species, first.Species);
}

// ---------------------------------------------------------------------------
// In the window

class MoleculeViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    ResetStreams();
    DecimalSeparator = '.';
    Previous = SetErrorDisplay([this](const QString& message) { Messages.push_back(message); });
  }
  void TearDown() override { SetErrorDisplay(Previous); }

  std::vector<QString> Messages;

 private:
  TErrorDisplay Previous;
  TWorkDir WorkDir;
};

// A session of ticks, species changes and an Apply; its exports and curves
// as bytes. With the view open, the view is checked along the way.
std::string Session(bool withView) {
  ResetStreams();
  TMForm form;
  form.ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_C), QStringLiteral("7.2E18"));
  form.ApplySpSpeedButtonClick();
  TMoleculeView* view = nullptr;
  if (withView) {
    form.MoleculeViewButton->click();
    form.MoleculeViewButton->click();  // raises the same view
    const QList<TMoleculeView*> views = form.findChildren<TMoleculeView*>();
    EXPECT_EQ(views.size(), 1);
    view = views.value(0);
    EXPECT_TRUE(view && view->isWindow() && view->isVisible());
    if (!view) return "";
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Kelvane - Molecules"));
  }
  for (int k = 0; k < 5; ++k) {
    const TMoleculePicture before = view ? view->Picture() : TMoleculePicture();
    form.TimerTimer();
    EXPECT_TRUE(!view || view->Picture().Species != before.Species) << "tick " << k;
  }
  if (view) {
    view->hide();
    const TMoleculePicture hidden = view->Picture();
    form.TimerTimer();
    EXPECT_EQ(view->Picture().Species, hidden.Species);  // not read while hidden
    form.MoleculeViewButton->click();
    EXPECT_NE(view->Picture().Species, hidden.Species);
  } else {
    form.TimerTimer();
  }
  form.AddSpeciesButtonClick();
  EXPECT_TRUE(!view || view->Picture().Species.size() == 2u);
  form.ValueListSimulation->SetValue(QString::fromLatin1(Key::SIM_B1), QStringLiteral("3E-6"));
  form.ApplyButtonClick();
  EXPECT_TRUE(!view || view->Picture().InnerRib == 3e-6);
  for (int k = 0; k < 5; ++k) form.TimerTimer();
  form.SaveCButton->click();
  form.SaveNButton->click();
  std::string bytes = ReadFile("C1(t).txt") + ReadFile("N1(t).txt");
  for (const TChart* chart : {form.CChart, form.NChart})
    for (int curve = 0; curve < 2; ++curve)
      for (int i = 0; i < chart->PointCount(curve); ++i)
        for (double value : {chart->PointX(curve, i), chart->PointY(curve, i)})
          bytes.append(reinterpret_cast<const char*>(&value), sizeof value);
  return bytes;
}

TEST_F(MoleculeViewTest, OpenViewRefreshesWithTheRunAndChangesNoCurveOrExport) {
  const std::string without = Session(false);
  const std::string with = Session(true);
  EXPECT_GT(without.size(), 4u * 5u * 2u * sizeof(double));  // five ticks after Apply
  EXPECT_TRUE(with == without);
  EXPECT_TRUE(Messages.empty());
}

}  // namespace
