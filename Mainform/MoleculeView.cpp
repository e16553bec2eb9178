#include "Mainform/MoleculeView.h"

#include <QColor>
#include <QLocale>
#include <QPainter>
#include <QPolygon>
#include <QScreen>
#include <algorithm>
#include <cmath>

#include "Diffunit/Diffunit.h"
#include "Session/Captions.h"

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

// A count as the user's locale groups its digits.
std::string Grouped(std::int64_t count) {
  return QLocale().toString(static_cast<qlonglong>(count)).toStdString();
}

}  // namespace

TMoleculeView::TMoleculeView(QWidget* owner) : QWidget(owner, Qt::Window) {
  setWindowTitle(QString::fromUtf8(Captions::MoleculeViewTitle));
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
  const std::vector<std::string> lines = MoleculePictureLines(picture, Grouped);
  // The counts in black, the wall's in its colour, the sampling in grey.
  const QColor lineColours[] = {Qt::black, Qt::black, WallColour, Qt::darkGray};
  for (std::size_t i = 0; i < lines.size(); ++i)
    write(QString::fromStdString(lines[i]), lines.size() == 1 ? QColor(Qt::black) : lineColours[i]);
  if (picture.Drawable && !picture.Species.empty()) {
    // Which colour is which species, numbered as in the species list.
    write(QString::fromUtf8(Captions::MoleculeLegend), Qt::black);
    int x = text.left() + fontMetrics().horizontalAdvance(
                              QString::fromUtf8(Captions::MoleculeLegend) + QLatin1Char(' '));
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
