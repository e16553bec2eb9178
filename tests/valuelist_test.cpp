// The key/value grid: rows addressed by key, captions in place of keys, and
// in-place editing. Runs on Qt's offscreen platform.
#include "Mainform/ValueList.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QKeyEvent>
#include <QLineEdit>
#include <string>

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
    return List.findChild<QLineEdit*>();
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
