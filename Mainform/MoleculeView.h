// The molecule view: a window beside the main one that shows where the
// molecules are, as seen from +z through the slab |z| <= InnerRib, inside the
// outlines of both cubes. It only ever reads the engine, and only when told
// that the engine may be read (Refresh); painting uses its own copy.
#pragma once

#include <QPoint>
#include <QWidget>
#include <cstdint>
#include <vector>

class TVolume;

// Where a molecule of the picture is, in units of the outer rib: -1 .. 1 on
// both axes, y upwards.
struct TViewPoint {
  float U = 0.0f;
  float V = 0.0f;
  bool operator==(const TViewPoint& o) const { return U == o.U && V == o.V; }
};

// What the view draws, copied from the engine at one moment.
struct TMoleculePicture {
  // Ribs that can be drawn: an outer rib > 0 and an inner one in 0 < b1 <= b0.
  // Otherwise the picture is an empty frame.
  bool Drawable = false;
  double OuterRib = 0.0;  // m, as the engine held them
  double InnerRib = 0.0;
  std::int64_t Active = 0;  // active molecules of all species
  std::int64_t Stride = 1;  // every Stride-th active slot of each species was read
  // Of the molecules read: those in the slab, those of them inside the inner
  // cube (strictly, as the step counts them) and those on the x or y outer wall.
  std::int64_t InSlab = 0;
  std::int64_t Inside = 0;
  std::int64_t OnWall = 0;
  // The slab molecules drawn, per species; those on the x or y wall are drawn
  // apart, over the others, in the wall colour.
  std::vector<std::vector<TViewPoint>> Species;
  std::vector<TViewPoint> Wall;

  std::int64_t Drawn() const;
};

// At most this many slots are read and this many molecules drawn per picture,
// whatever the number of molecules: the cost of a refresh stays bounded.
constexpr std::int64_t MoleculeViewReads = 200000;
constexpr std::int64_t MoleculeViewPoints = 50000;

// The picture of `engine` now: every k-th active slot of each species, k the
// smallest that reads at most MoleculeViewReads slots; of them those in the
// slab, thinned the same way to at most MoleculeViewPoints. Never throws for
// any engine state.
TMoleculePicture TakeMoleculePicture(const TVolume& engine);

class TMoleculeView : public QWidget {
  Q_OBJECT

 public:
  // A top-level window owned by `owner`, hidden until shown.
  explicit TMoleculeView(QWidget* owner);

  // Shows the view with a fresh picture of `engine`, or raises it when it is
  // already shown. The first time it goes beside the owner's window.
  void Open(const TVolume& engine);

  // Copies what will be drawn from `engine` and schedules a repaint; does
  // nothing while the view is hidden. Call only where the engine may be read.
  void Refresh(const TVolume& engine);
  const TMoleculePicture& Picture() const { return Shown; }

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  TMoleculePicture Shown;
  bool Placed = false;
  std::vector<QPoint> Pixels;  // reused between paints
};
