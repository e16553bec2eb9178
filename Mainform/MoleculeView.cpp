#include "Mainform/MoleculeView.h"

#include <QColor>
#include <QLocale>
#include <QPainter>
#include <QPolygon>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "Diffunit/Diffunit.h"

std::int64_t TMoleculePicture::Drawn() const {
  std::int64_t drawn = static_cast<std::int64_t>(Wall.size());
  for (const std::vector<TViewPoint>& points : Species)
    drawn += static_cast<std::int64_t>(points.size());
  return drawn;
}

namespace {

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return (a + b - 1) / b; }

// The active slots of a species, as far as its array really holds them: a
// picture is taken of whatever state the engine is in.
std::int64_t ActiveSlots(const TSpecies& species) {
  const std::int64_t active = std::int64_t{species.InsideCount} + species.OutsideCount;
  return std::clamp<std::int64_t>(active, 0, static_cast<std::int64_t>(species.Molecules.size()));
}

// Keeps every `step`-th point, the first included.
void Thin(std::vector<TViewPoint>& points, std::int64_t step) {
  std::size_t kept = 0;
  for (std::size_t i = 0; i < points.size(); i += static_cast<std::size_t>(step))
    points[kept++] = points[i];
  points.resize(kept);
}

}  // namespace

TMoleculePicture TakeMoleculePicture(const TVolume& engine) {
  TMoleculePicture picture;
  const double b0 = engine.OuterRib;
  const double b1 = engine.InnerRib;
  picture.OuterRib = b0;
  picture.InnerRib = b1;
  picture.Species.resize(engine.Species.size());
  for (const TSpecies& species : engine.Species) picture.Active += ActiveSlots(species);
  picture.Drawable = std::isfinite(b0) && std::isfinite(b1) && b0 > 0.0 && b1 > 0.0 && b1 <= b0;
  if (!picture.Drawable || picture.Active == 0) return picture;

  // Every k-th slot: spare slots are activated at the end of the array and
  // re-injections land anywhere in it, so a fixed stride sees all of them
  // in proportion, and the same engine state always gives the same picture.
  const std::int64_t stride = std::max<std::int64_t>(1, CeilDiv(picture.Active, MoleculeViewReads));
  picture.Stride = stride;
  for (std::size_t s = 0; s < engine.Species.size(); ++s) {
    const TSpecies& species = engine.Species[s];
    const std::int64_t active = ActiveSlots(species);
    std::vector<TViewPoint>& points = picture.Species[s];
    for (std::int64_t i = 0; i < active; i += stride) {
      const TMolCoord& p = species.Molecules[static_cast<std::size_t>(i)];
      const double x = std::fabs(p.x);
      const double y = std::fabs(p.y);
      const double z = std::fabs(p.z);
      // New ribs act on the old positions from the next step on: until then
      // a molecule may lie beyond the outer wall, off the picture.
      if (!(z <= b1 && x <= b0 && y <= b0)) continue;
      ++picture.InSlab;
      if (x < b1 && y < b1 && z < b1) ++picture.Inside;
      const TViewPoint point{static_cast<float>(p.x / b0), static_cast<float>(p.y / b0)};
      // Escapes are put back exactly onto the wall, and spare slots enter
      // there: until the next step moves them they crowd the wall, the
      // pile-up the wall rule makes.
      if (x == b0 || y == b0) {
        ++picture.OnWall;
        picture.Wall.push_back(point);
      } else {
        points.push_back(point);
      }
    }
  }
  const std::int64_t drawn = picture.Drawn();
  if (drawn > MoleculeViewPoints) {
    const std::int64_t step = CeilDiv(drawn, MoleculeViewPoints);
    for (std::vector<TViewPoint>& points : picture.Species) Thin(points, step);
    Thin(picture.Wall, step);
  }
  return picture;
}

// ---------------------------------------------------------------------------
// The window

namespace {

// One colour per species, in the order of the species list; red is kept for
// the wall.
const QColor SpeciesColours[] = {{31, 119, 180},  {44, 160, 44},   {148, 103, 189},
                                 {255, 127, 14},  {23, 190, 207},  {140, 86, 75},
                                 {227, 119, 194}, {127, 127, 127}, {188, 189, 34}};
const QColor WallColour(214, 39, 40);

QColor SpeciesColour(std::size_t index) {
  return SpeciesColours[index % (sizeof SpeciesColours / sizeof SpeciesColours[0])];
}

constexpr int Margin = 8;
constexpr int TextLines = 5;  // four lines of counts and the legend

// A count of the molecules read, scaled to all of them: exact when every
// slot was read, "about" otherwise.
QString Count(std::int64_t read, std::int64_t stride) {
  const QString number = QLocale().toString(static_cast<qlonglong>(read * stride));
  return stride == 1 || read == 0 ? number : QStringLiteral("about ") + number;
}

}  // namespace

TMoleculeView::TMoleculeView(QWidget* owner) : QWidget(owner, Qt::Window) {
  setWindowTitle(QStringLiteral("Kelvane - Molecules"));
  setAttribute(Qt::WA_OpaquePaintEvent);
  setMinimumSize(240, 280);
  resize(480, 560);
}

void TMoleculeView::Open(const TVolume& engine) {
  const bool shown = isVisible();
  show();
  if (!Placed && parentWidget()) {
    // Beside the main window when there is room for it, so the charts stay
    // in sight; otherwise as near to it as the screen allows, and never
    // partly off the screen (a small screen shrinks the view to fit). Once
    // shown, the frame the window manager adds is known.
    const QWidget* main = parentWidget()->window();
    if (const QScreen* screen = main->screen()) {
      const QRect area = screen->availableGeometry();
      const QSize frame = frameGeometry().size() - size();
      resize(size().boundedTo(area.size() - frame).expandedTo(minimumSize()));
      const QSize whole = size() + frame;
      const QPoint beside = main->frameGeometry().topRight() + QPoint(Margin, 0);
      move(std::clamp(beside.x(), area.left(),
                      std::max(area.left(), area.right() + 1 - whole.width())),
           std::clamp(beside.y(), area.top(),
                      std::max(area.top(), area.bottom() + 1 - whole.height())));
    }
    Placed = true;
  }
  Refresh(engine);
  if (shown) {  // a window just shown is on top already
    raise();
    activateWindow();
  }
}

void TMoleculeView::Refresh(const TVolume& engine) {
  if (!isVisible()) return;
  Shown = TakeMoleculePicture(engine);
  update();
}

void TMoleculeView::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), Qt::white);
  const TMoleculePicture& picture = Shown;
  const int line = fontMetrics().lineSpacing();

  // The text above the frame.
  QRect text(Margin, Margin, width() - 2 * Margin, line);
  const auto write = [&](const QString& words, const QColor& colour) {
    painter.setPen(colour);
    painter.drawText(text, Qt::AlignLeft | Qt::AlignVCenter, words);
    text.translate(0, line);
  };
  if (picture.Species.empty()) {
    write(QStringLiteral("No species: nothing to show"), Qt::black);
  } else if (!picture.Drawable) {
    write(QStringLiteral("Ribs that cannot be drawn: 0 < inner rib <= outer rib is needed"),
          Qt::black);
  } else {
    write(QStringLiteral("Slab |z| <= inner rib, seen from +z: ") +
              Count(picture.InSlab, picture.Stride) + QStringLiteral(" molecules"),
          Qt::black);
    write(QStringLiteral("Inside the inner cube: ") + Count(picture.Inside, picture.Stride),
          Qt::black);
    write(
        QStringLiteral("On the x or y outer wall (red): ") + Count(picture.OnWall, picture.Stride),
        WallColour);
    const QString every = picture.Stride == 1
                              ? QStringLiteral("every slot")
                              : QStringLiteral("one slot in ") +
                                    QLocale().toString(static_cast<qlonglong>(picture.Stride));
    write(QStringLiteral("%1 drawn of %2 molecules (%3 read)")
              .arg(QLocale().toString(static_cast<qlonglong>(picture.Drawn())),
                   QLocale().toString(static_cast<qlonglong>(picture.Active)), every),
          Qt::darkGray);
    // Which colour is which species, numbered as in the species list.
    write(QStringLiteral("Species:"), Qt::black);
    int x = text.left() + fontMetrics().horizontalAdvance(QStringLiteral("Species: "));
    const int box = std::max(6, line / 2);
    for (std::size_t s = 0; s < picture.Species.size() && x < width(); ++s) {
      const int y = text.top() - line + (line - box) / 2;
      painter.fillRect(QRect(x, y, box, box), SpeciesColour(s));
      const QString number = QString::number(s + 1);
      painter.drawText(x + box + 2, text.top() - line, line * 2, line,
                       Qt::AlignLeft | Qt::AlignVCenter, number);
      x += box + 2 + fontMetrics().horizontalAdvance(number) + line / 2;
    }
  }

  // The frame: a square as large as fits below the text, the outer cube's
  // section on its edge. Points map to whole pixels the same way as the
  // outlines, so a molecule on the wall lies on the outline.
  const int top = Margin + TextLines * line + Margin;
  const int side = std::min(width() - 2 * Margin, height() - top - Margin);
  if (side < 2) return;
  const int left = (width() - side) / 2;
  const auto pixel = [&](float u, float v) {
    return QPoint(static_cast<int>(std::lround(left + (u + 1.0f) * 0.5f * side)),
                  static_cast<int>(std::lround(top + (1.0f - v) * 0.5f * side)));
  };
  const auto square = [&](float r) {
    return QPolygon({pixel(-r, -r), pixel(r, -r), pixel(r, r), pixel(-r, r)});
  };
  painter.setPen(QPen(picture.Drawable ? Qt::black : Qt::lightGray, 0));
  painter.drawPolygon(square(1.0f));
  if (!picture.Drawable) return;
  painter.setPen(QPen(Qt::darkGray, 0));
  painter.drawPolygon(square(static_cast<float>(picture.InnerRib / picture.OuterRib)));

  const auto draw = [&](const std::vector<TViewPoint>& points, const QPen& pen) {
    Pixels.clear();
    for (const TViewPoint& p : points) Pixels.push_back(pixel(p.U, p.V));
    painter.setPen(pen);
    painter.drawPoints(Pixels.data(), static_cast<int>(Pixels.size()));
  };
  for (std::size_t s = 0; s < picture.Species.size(); ++s)
    draw(picture.Species[s], QPen(SpeciesColour(s), 0));
  draw(picture.Wall, QPen(WallColour, 3, Qt::SolidLine, Qt::SquareCap));
}
