// The key/value grid: rows addressed by key, captions in place of keys, and
// in-place editing. Runs on Qt's offscreen platform.
#include "Mainform/ValueList.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <string>

#include "tests/qt_test_support.h"

namespace {

// A grid with the rows of the simulation table's last two keys.
class ValueListTest : public ::testing::Test {
 protected:
  ValueListTest() : List(nullptr, "Simulation Parameters", "Value", 121, 88) {
    List.AppendRow("SIM_T", "293.15");
    List.AppendRow("SIM_DT", "0.0001");
    List.resize(215, 117);
  }

  // The value editor of `key`'s row, open as when the user clicks the cell.
  QLineEdit* OpenEditor(const QString& key) {
    List.show();
    List.setCurrentCell(List.FindRow(key), 1);
    // The editor of a cell left earlier may not be deleted yet.
    for (QLineEdit* editor : List.findChildren<QLineEdit*>())
      if (editor->isVisible()) return editor;
    return nullptr;
  }

  // Typing as the keyboard does: one key event per character.
  static void Type(QLineEdit* editor, const std::string& text) {
    for (const char c : text) {
      const int key = c >= '0' && c <= '9' ? Qt::Key_0 + (c - '0') : Qt::Key_unknown;
      QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, QString(QChar(c)));
      QApplication::sendEvent(editor, &press);
    }
  }

  TValueList List;
};

}  // namespace

TEST_F(ValueListTest, RowsAreAddressedByKey) {
  EXPECT_EQ(List.Value("NO_SUCH"), QString());
  EXPECT_EQ(List.FindRow("NO_SUCH"), -1);
  List.SetValue("SIM_T", "300");
  EXPECT_EQ(List.Value("SIM_T"), QStringLiteral("300"));
  EXPECT_EQ(List.rowCount(), 2);
  // Writing a missing key appends a row, shown by its key until described.
  List.SetValue("SP_X", "1");
  ASSERT_EQ(List.rowCount(), 3);
  EXPECT_EQ(List.Key(2), QStringLiteral("SP_X"));
  EXPECT_EQ(List.item(2, 0)->text(), QStringLiteral("SP_X"));
  List.SetKeyDesc("SP_X", "Extra");
  EXPECT_EQ(List.item(2, 0)->text(), QStringLiteral("Extra"));
  EXPECT_EQ(List.Value("SP_X"), QStringLiteral("1"));
  EXPECT_FALSE(List.item(2, 0)->flags() & Qt::ItemIsEditable);
}

TEST_F(ValueListTest, TextTypedInAnOpenEditorIsWhatAHandlerReads) {
  QLineEdit* editor = OpenEditor("SIM_T");
  ASSERT_NE(editor, nullptr);
  editor->selectAll();
  Type(editor, "300");
  ASSERT_TRUE(editor->isVisible());  // still editing, as when a tool button is pressed
  EXPECT_EQ(List.Value("SIM_T"), QStringLiteral("300"));
}

// Each typed character is committed to the cell at once; that must not send
// the cursor to the end (it did: "0.0001" with "25" typed before its last
// digit became "0.000215") nor drop the editor's undo history.
TEST_F(ValueListTest, TypingInsideAValueKeepsTheCursorAndUndo) {
  struct TCase {
    const char* key;
    int cursor;
    const char* typed;
    const char* result;
  };
  const TCase cases[] = {{"SIM_DT", 5, "25", "0.000251"}, {"SIM_T", 3, "12", "29312.15"}};
  for (const TCase& c : cases) {
    QLineEdit* editor = OpenEditor(c.key);
    ASSERT_NE(editor, nullptr) << c.key;
    const QString before = editor->text();
    editor->setCursorPosition(c.cursor);
    Type(editor, c.typed);
    EXPECT_EQ(editor->text(), QString::fromLatin1(c.result)) << c.key;
    EXPECT_EQ(List.Value(c.key), QString::fromLatin1(c.result)) << c.key;
    EXPECT_EQ(editor->cursorPosition(), c.cursor + 2) << c.key;
    QKeyEvent undo(QEvent::KeyPress, Qt::Key_Z, Qt::ControlModifier);
    QApplication::sendEvent(editor, &undo);
    EXPECT_EQ(editor->text(), before) << c.key;
  }
  // What the program writes into a cell still reaches its open editor.
  QLineEdit* editor = OpenEditor("SIM_T");
  List.SetValue("SIM_T", "300");
  EXPECT_EQ(editor->text(), QStringLiteral("300"));
}
