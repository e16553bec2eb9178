// The molecule view: which molecules it picks and how it sorts them, what it
// makes of ribs it cannot draw, and that opening it changes nothing in a run.
#include "Mainform/MoleculeView.h"

#include <gtest/gtest.h>

#include <QScreen>
#include <algorithm>
#include <limits>
#include <string>
#include <vector>

#include "Mainform/Mainform.h"
#include "Session/Parameters.h"
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
      {{1.5e-5, 0, 0}, 0, 0, 0},           // beyond the wall: smaller ribs just applied
  };
  for (const TCase& c : cases) {
    TVolume engine;
    engine.SetParameters(B0, B1, 0.001, 293.15, 1e-4);
    HandPlaced(engine, {c.p});
    // A second species whose second slot is spare: never read.
    HandPlaced(engine, {{0, 0, 0}, {0, 0, 0}}).OutsideCount = 1;
    const TMoleculePicture picture = TakeMoleculePicture(engine);
    SCOPED_TRACE(testing::Message() << c.p.x << ", " << c.p.y << ", " << c.p.z);
    EXPECT_EQ(picture.Active, 2);
    EXPECT_EQ(picture.InSlab, c.slab + 1);
    EXPECT_EQ(picture.Inside, c.inside + 1);
    EXPECT_EQ(picture.OnWall, c.wall);
    EXPECT_EQ(picture.Wall.size(), static_cast<std::size_t>(c.wall));
    ASSERT_EQ(picture.Species.size(), 2u);
    EXPECT_EQ(picture.Species[0].size(), static_cast<std::size_t>(c.slab - c.wall));
    EXPECT_EQ(picture.Species[1], (std::vector<TViewPoint>{{0, 0}}));
  }
}

TEST(MoleculePicture, RibsItCannotDrawOrNoSpeciesGiveAnEmptyFrame) {
  const double nan = std::numeric_limits<double>::quiet_NaN();
  const double inf = std::numeric_limits<double>::infinity();
  const double ribs[][2] = {{B0, B1}, {0, 0},     {B0, 0},   {0, B1},
                            {B1, B0}, {-B0, -B1}, {nan, B1}, {inf, B1}};
  TMoleculeView view(nullptr);
  view.show();
  for (const auto& rib : ribs) {
    TVolume engine;
    engine.OuterRib = rib[0];
    engine.InnerRib = rib[1];
    if (&rib != &ribs[0]) HandPlaced(engine, {{0, 0, 0}, {B0, 0, 0}});  // the first has none
    view.Refresh(engine);
    EXPECT_EQ(view.Picture().Drawn() + view.Picture().InSlab, 0) << rib[0] << " " << rib[1];
    EXPECT_FALSE(view.grab().isNull());  // paints the frame and says why it is empty
  }
}

TEST(MoleculePicture, ManyMoleculesAreReadAndDrawnWithinTheBudget) {
  TVolume engine;
  engine.SetParameters(B0, B0, 0.001, 293.15, 1e-4);  // the slab is the whole cube
  HandPlaced(engine, std::vector<TMolCoord>(1000000));
  const TMoleculePicture picture = TakeMoleculePicture(engine);
  EXPECT_EQ(picture.Stride, 5);
  EXPECT_EQ(picture.InSlab, 200000);
  EXPECT_LE(picture.Drawn(), MoleculeViewPoints);
  EXPECT_GT(picture.Drawn(), MoleculeViewPoints * 9 / 10);
}

// ---------------------------------------------------------------------------
// In the window

// A run with ticks, a new species and an Apply, and its exports. With the
// view open, the view is checked to follow it.
std::string Session(bool withView) {
  TMForm form;
  form.ValueListSpecies->SetValue(QString::fromLatin1(Key::SP_C), QStringLiteral("7.2E18"));
  form.ApplySpSpeedButtonClick();
  if (withView) {
    form.MoleculeViewButton->click();
    form.MoleculeViewButton->click();  // raises the same view
  }
  const QList<TMoleculeView*> views = form.findChildren<TMoleculeView*>();
  EXPECT_EQ(views.size(), withView ? 1 : 0);
  const TMoleculeView* view = views.value(0);
  const auto drawn = [view] {
    return view ? view->Picture().Species : decltype(view->Picture().Species)();
  };
  for (int k = 0; k < 6; ++k) {
    if (view && k == 5) views[0]->hide();  // a hidden view does not read
    const auto before = drawn();
    form.TimerTimer();
    EXPECT_EQ(drawn() == before, !view || k == 5) << "tick " << k;
  }
  if (view) form.MoleculeViewButton->click();
  form.AddSpeciesButtonClick();
  form.ValueListSimulation->SetValue(QString::fromLatin1(Key::SIM_B1), QStringLiteral("3E-6"));
  form.ApplyButtonClick();
  if (view) {
    EXPECT_TRUE(view->isWindow());
    EXPECT_EQ(view->windowTitle(), QStringLiteral("Kelvane - Molecules"));
    EXPECT_EQ(drawn().size(), 2u);
    EXPECT_EQ(view->Picture().InnerRib, 3e-6);
  }
  for (int k = 0; k < 5; ++k) form.TimerTimer();
  form.SaveCButton->click();
  form.SaveNButton->click();
  EXPECT_EQ(form.CChart->PointCount(0), 5);
  return ReadFile("C1(t).txt") + ReadFile("N1(t).txt");
}

TEST(MoleculeView, FollowsTheRunWhileShownAndChangesNoCurveOrExport) {
  TWorkDir work;
  std::vector<QString> messages;
  const TErrorDisplay previous =
      SetErrorDisplay([&](const QString& message) { messages.push_back(message); });
  const std::string without = Session(false);
  const std::string with = Session(true);
  SetErrorDisplay(previous);
  EXPECT_EQ(std::count(without.begin(), without.end(), '\n'), 2 * 5);  // five ticks after Apply
  EXPECT_EQ(with, without);
  EXPECT_TRUE(messages.empty());
}

// Where there is no room beside the main window, the view used to open where
// it stood, partly off a small screen.
TEST(MoleculeView, OpensFullyOnTheScreen) {
  QWidget main;
  main.resize(300, 200);
  const QRect area = main.screen()->availableGeometry();
  main.move(area.right() - 310, area.bottom() - 210);  // no room to its right or below
  main.show();
  TVolume engine;
  auto* view = new TMoleculeView(&main);
  view->resize(area.width() + 100, area.height() + 100);  // larger than the screen
  view->Open(engine);
  EXPECT_TRUE(area.contains(view->geometry())) << view->geometry().x() << " " << view->y();
  EXPECT_GE(view->width(), view->minimumWidth());
}

}  // namespace
