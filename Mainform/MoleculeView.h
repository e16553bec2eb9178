// The molecule view: a window beside the main one that shows where the
// molecules are, as seen from +z through the slab |z| <= InnerRib, inside the
// outlines of both cubes. It only ever reads the engine, and only when told
// that the engine may be read (Refresh); painting uses its own copy.
#pragma once

#include <QPoint>
#include <QWidget>
#include <vector>

#include "Session/MoleculePicture.h"

class TVolume;

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
