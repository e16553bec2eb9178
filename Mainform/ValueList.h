// A two-column key/value grid. The key column is read-only and shows each
// row's caption (its key description) in place of the key; the value column
// is edited in place. Handlers address rows by key only, never by position.
// Typed text reaches the table at every keystroke, so a handler run from a
// tool button (which takes no focus) reads what is on screen.
#pragma once

#include <QString>
#include <QTableWidget>

class TValueList : public QTableWidget {
 public:
  TValueList(QWidget* parent, const QString& keyTitle, const QString& valueTitle, int keyWidth,
             int valueWidth);

  // Adds a row (key, value) at the end; its caption is the key until set.
  void AppendRow(const QString& key, const QString& value);
  // Sets the caption drawn for the row of `key`; nothing when there is none.
  void SetKeyDesc(const QString& key, const QString& caption);
  // The value text of `key`, or an empty text when no row has that key.
  QString Value(const QString& key) const;
  // Replaces the value text of `key`; appends (key, text) when no row has it.
  void SetValue(const QString& key, const QString& text);

  // The row of `key`, or -1.
  int FindRow(const QString& key) const;
  // The key of `row`, or an empty text.
  QString Key(int row) const;

 private:
  // A caption or text cut short by its column shows in full as a tooltip;
  // one that fits has none.
  void UpdateCutTexts();
};
