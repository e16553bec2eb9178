#include "Mainform/CheckList.h"

#include <QMouseEvent>

TCheckList::TCheckList(QWidget* parent) : QListWidget(parent) {
  setSelectionMode(QAbstractItemView::SingleSelection);
  setUniformItemSizes(true);
  // A press that selects another item answers at once; the click that
  // follows on release would answer a second time.
  connect(this, &QListWidget::itemSelectionChanged, this, [this] {
    SelectionMovedSincePress = true;
    if (!selectedItems().isEmpty()) emit Chosen();
  });
  connect(this, &QListWidget::itemClicked, this, [this] {
    if (!SelectionMovedSincePress) emit Chosen();
  });
}

QItemSelectionModel::SelectionFlags TCheckList::selectionCommand(const QModelIndex& index,
                                                                 const QEvent* event) const {
  const QItemSelectionModel::SelectionFlags command = QListWidget::selectionCommand(index, event);
  const bool deselects =
      command.testFlag(QItemSelectionModel::Deselect) ||
      (command.testFlag(QItemSelectionModel::Toggle) && selectionModel()->isSelected(index)) ||
      (command.testFlag(QItemSelectionModel::Clear) && !index.isValid());
  return deselects && count() > 0 ? QItemSelectionModel::NoUpdate : command;
}

void TCheckList::mousePressEvent(QMouseEvent* event) {
  SelectionMovedSincePress = false;
  QListWidget::mousePressEvent(event);
}
