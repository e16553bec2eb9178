#include "Mainform/ValueList.h"

#include <QFontMetrics>
#include <QHeaderView>
#include <QLineEdit>
#include <QPalette>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyledItemDelegate>

namespace {

constexpr int GridRowHeight = 18;  // px, title row and value rows

// Hands every keystroke to the table at once, so that a handler reads the
// text on screen even while its cell is still being edited.
class TValueDelegate : public QStyledItemDelegate {
 public:
  using QStyledItemDelegate::QStyledItemDelegate;

  QWidget* createEditor(QWidget* parent, const QStyleOptionViewItem& option,
                        const QModelIndex& index) const override {
    QWidget* editor = QStyledItemDelegate::createEditor(parent, option, index);
    if (auto* line = qobject_cast<QLineEdit*>(editor)) {
      auto* self = const_cast<TValueDelegate*>(this);
      connect(line, &QLineEdit::textEdited, self, [self, line] { emit self->commitData(line); });
    }
    return editor;
  }

  // Each committed keystroke comes straight back here as a change of the
  // cell. Writing the same text into the editor again would move its cursor
  // to the end and drop its selection and undo history, so only a text the
  // program wrote into the cell reaches an open editor.
  void setEditorData(QWidget* editor, const QModelIndex& index) const override {
    const auto* line = qobject_cast<QLineEdit*>(editor);
    if (line && line->text() == index.data(Qt::EditRole).toString()) return;
    QStyledItemDelegate::setEditorData(editor, index);
  }
};

}  // namespace

TValueList::TValueList(QWidget* parent, const QString& keyTitle, const QString& valueTitle,
                       int keyWidth, int valueWidth)
    : QTableWidget(0, 2, parent) {
  setHorizontalHeaderLabels({keyTitle, valueTitle});
  verticalHeader()->hide();
  verticalHeader()->setMinimumSectionSize(1);
  verticalHeader()->setDefaultSectionSize(GridRowHeight);
  QHeaderView* header = horizontalHeader();
  header->setMinimumSectionSize(1);
  header->setFixedHeight(GridRowHeight);
  header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
  header->setHighlightSections(false);
  header->setSectionResizeMode(QHeaderView::Interactive);
  header->resizeSection(0, keyWidth);
  header->resizeSection(1, valueWidth);
  setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  setSelectionMode(QAbstractItemView::SingleSelection);
  setSelectionBehavior(QAbstractItemView::SelectItems);
  // The value editor opens as soon as a value cell becomes current.
  setEditTriggers(QAbstractItemView::AllEditTriggers);
  setItemDelegateForColumn(1, new TValueDelegate(this));
  setWordWrap(false);
  setCornerButtonEnabled(false);
  QPalette colours = palette();
  colours.setColor(QPalette::Base, colours.color(QPalette::Button));
  setPalette(colours);
  connect(header, &QHeaderView::sectionResized, this, &TValueList::UpdateCutTexts);
  connect(this, &QTableWidget::itemChanged, this, &TValueList::UpdateCutTexts);
  UpdateCutTexts();
}

void TValueList::UpdateCutTexts() {
  // The room a cell's text has: its column less the margins the style draws
  // on both sides.
  const int margin = 2 * (style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, this) + 1);
  const auto tip = [](const QFontMetrics& metrics, const QString& text, int room) {
    return metrics.horizontalAdvance(text) > room ? text : QString();
  };
  const QFontMetrics cellText(font());
  const QFontMetrics headerText(horizontalHeader()->font());
  for (int column = 0; column < columnCount(); ++column) {
    const int room = columnWidth(column) - margin;
    if (QTableWidgetItem* title = horizontalHeaderItem(column)) {
      const QString full = tip(headerText, title->text(), room - margin);
      if (title->toolTip() != full) title->setToolTip(full);
    }
    for (int row = 0; row < rowCount(); ++row) {
      QTableWidgetItem* cell = item(row, column);
      if (!cell) continue;
      const QString full = tip(cellText, cell->text(), room);
      if (cell->toolTip() != full) {
        const QSignalBlocker quiet(this);  // a tooltip is no change of the value
        cell->setToolTip(full);
      }
    }
  }
}

void TValueList::AppendRow(const QString& key, const QString& value) {
  const int row = rowCount();
  insertRow(row);
  auto* keyItem = new QTableWidgetItem(key);
  keyItem->setData(Qt::UserRole, key);
  keyItem->setFlags(Qt::ItemIsEnabled);  // fixed: neither selected nor edited
  setItem(row, 0, keyItem);
  auto* valueItem = new QTableWidgetItem(value);
  valueItem->setFlags(Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsEditable);
  setItem(row, 1, valueItem);
  UpdateCutTexts();
}

int TValueList::FindRow(const QString& key) const {
  for (int row = 0; row < rowCount(); ++row)
    if (Key(row) == key) return row;
  return -1;
}

QString TValueList::Key(int row) const {
  const QTableWidgetItem* keyItem = item(row, 0);
  return keyItem ? keyItem->data(Qt::UserRole).toString() : QString();
}

void TValueList::SetKeyDesc(const QString& key, const QString& caption) {
  const int row = FindRow(key);
  if (row >= 0) item(row, 0)->setText(caption);
  UpdateCutTexts();
}

QString TValueList::Value(const QString& key) const {
  const int row = FindRow(key);
  return row >= 0 ? item(row, 1)->text() : QString();
}

void TValueList::SetValue(const QString& key, const QString& text) {
  const int row = FindRow(key);
  if (row >= 0)
    item(row, 1)->setText(text);
  else
    AppendRow(key, text);
}
