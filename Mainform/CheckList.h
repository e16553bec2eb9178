// The species list: a single-selection list of checkable items that keeps
// one item selected while it has any, and says once per user action which
// item the user chose.
#pragma once

#include <QListWidget>

class TCheckList : public QListWidget {
  Q_OBJECT

 public:
  explicit TCheckList(QWidget* parent);

 signals:
  // The user chose an item: a click (also on the item already selected) or a
  // selection moved with the keyboard, once per action. (Code that selects
  // items itself blocks the list's signals while it does.)
  void Chosen();

 protected:
  // Refuses what would leave no item selected: a Ctrl+click or Ctrl+Space on
  // the selected item, a click beside the items.
  QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                       const QEvent* event) const override;
  void mousePressEvent(QMouseEvent* event) override;

 private:
  // Whether the selection moved since the mouse button went down: then the
  // click that follows has been answered already.
  bool SelectionMovedSincePress = false;
};
