#include "Mainform/DockLayout.h"

#include <QWidget>
#include <QWidgetItem>
#include <algorithm>

TDockLayout::TDockLayout(QWidget* parent) : QLayout(parent) {
  setContentsMargins(0, 0, 0, 0);
  setSpacing(0);
}

TDockLayout::~TDockLayout() {
  while (QLayoutItem* item = takeAt(0)) delete item;
}

void TDockLayout::AddWidget(QWidget* widget, TDock dock) {
  addChildWidget(widget);
  Entries.append({new QWidgetItem(widget), dock});
  invalidate();
}

void TDockLayout::ArrangeNow() {
  // The rectangle Qt itself would lay out in.
  if (const QWidget* parent = parentWidget())
    setGeometry(parent->testAttribute(Qt::WA_LayoutOnEntireRect) ? parent->rect()
                                                                 : parent->contentsRect());
}

void TDockLayout::addItem(QLayoutItem* item) { Entries.append({item, TDock::Fill}); }

int TDockLayout::count() const { return static_cast<int>(Entries.size()); }

QLayoutItem* TDockLayout::itemAt(int index) const {
  return index >= 0 && index < Entries.size() ? Entries[index].Item : nullptr;
}

QLayoutItem* TDockLayout::takeAt(int index) {
  if (index < 0 || index >= Entries.size()) return nullptr;
  return Entries.takeAt(index).Item;
}

QSize TDockLayout::sizeHint() const {
  // What the docked widgets want side by side, margins included.
  QSize size;
  for (const TEntry& entry : Entries) {
    const QSize own = entry.Item->widget() ? entry.Item->widget()->size() : entry.Item->sizeHint();
    if (entry.Dock == TDock::Left)
      size = QSize(size.width() + own.width(), std::max(size.height(), own.height()));
    else
      size = QSize(std::max(size.width(), own.width()), size.height() + own.height());
  }
  const QMargins margins = contentsMargins();
  return size.grownBy(margins);
}

QSize TDockLayout::minimumSize() const { return QSize(0, 0); }

void TDockLayout::setGeometry(const QRect& rect) {
  QLayout::setGeometry(rect);
  QRect free = rect.marginsRemoved(contentsMargins());
  for (const TEntry& entry : Entries) {
    const QWidget* widget = entry.Item->widget();
    const QSize own = widget ? widget->size() : entry.Item->sizeHint();
    const int width = std::max(0, free.width());
    const int height = std::max(0, free.height());
    switch (entry.Dock) {
      case TDock::Left:
        entry.Item->setGeometry(QRect(free.left(), free.top(), own.width(), height));
        free.setLeft(free.left() + own.width());
        break;
      case TDock::Top:
        entry.Item->setGeometry(QRect(free.left(), free.top(), width, own.height()));
        free.setTop(free.top() + own.height());
        break;
      case TDock::Bottom:
        entry.Item->setGeometry(
            QRect(free.left(), free.bottom() + 1 - own.height(), width, own.height()));
        free.setBottom(free.bottom() - own.height());
        break;
      case TDock::Fill:
        entry.Item->setGeometry(QRect(free.topLeft(), QSize(width, height)));
        break;
    }
  }
}
