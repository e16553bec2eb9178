// Docked panels as a Qt layout. In the order they were added, each widget
// takes a strip from the matching edge of the space still free: a Left
// widget keeps its own width, a Top or Bottom widget its own height, and a
// Fill widget takes whatever is left. Across the strip a docked widget
// always spans the free space.
//
// The layout asks nothing of its parent: no minimum size, so a parent made
// smaller than its docked contents clips them instead of refusing to shrink.
#pragma once

#include <QLayout>
#include <QList>

enum class TDock { Left, Top, Bottom, Fill };

class TDockLayout : public QLayout {
 public:
  // The layout of `parent`, without margins or spacing.
  explicit TDockLayout(QWidget* parent);
  ~TDockLayout() override;

  void AddWidget(QWidget* widget, TDock dock);
  // Places the widgets in the parent's current geometry now, without waiting
  // for the event loop: for a parent that is not shown yet, or after a
  // docked widget changed its own size.
  void ArrangeNow();

  // QLayout. Items added by Qt itself fill.
  void addItem(QLayoutItem* item) override;
  int count() const override;
  QLayoutItem* itemAt(int index) const override;
  QLayoutItem* takeAt(int index) override;
  QSize sizeHint() const override;
  QSize minimumSize() const override;
  void setGeometry(const QRect& rect) override;

 private:
  struct TEntry {
    QLayoutItem* Item;
    TDock Dock;
  };
  QList<TEntry> Entries;
};
