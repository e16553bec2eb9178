#include "Mainform/Widgets.h"

#include <QIcon>

QFrame* MakePanel(QWidget* parent, TBevel bevel) {
  auto* panel = new QFrame(parent);
  if (bevel == TBevel::Raised) {
    panel->setFrameStyle(QFrame::Panel | QFrame::Raised);
    panel->setLineWidth(1);
  } else {
    panel->setFrameStyle(QFrame::NoFrame);
  }
  return panel;
}

QToolButton* MakeButton(QWidget* parent, const QString& caption, const QRect& geometry) {
  auto* button = new QToolButton(parent);
  button->setAutoRaise(true);
  button->setFocusPolicy(Qt::NoFocus);
  button->setText(caption);
  button->setToolButtonStyle(Qt::ToolButtonTextOnly);
  button->setGeometry(geometry);
  return button;
}

void SetImage(QToolButton* button, const QString& resource, const QSize& size,
              Qt::ToolButtonStyle style) {
  button->setIcon(QIcon(resource));
  button->setIconSize(size);
  button->setToolButtonStyle(style);
}

QString HintWithKeys(const QString& hint, const QKeySequence& keys) {
  return hint + QStringLiteral(" (") + keys.toString(QKeySequence::NativeText) +
         QStringLiteral(")");
}

QAction* MakeAction(QWidget* window, const QString& text, const QKeySequence& keys,
                    const QString& hint) {
  auto* action = new QAction(text, window);
  action->setShortcut(keys);
  action->setShortcutContext(Qt::WindowShortcut);
  action->setToolTip(HintWithKeys(hint, keys));
  window->addAction(action);
  return action;
}

void AttachAction(QToolButton* button, QAction* action) {
  const QString caption = button->text();
  button->setDefaultAction(action);
  button->setText(caption);
}

void SetButtonShortcut(QToolButton* button, const QKeySequence& keys, const QString& hint) {
  button->setShortcut(keys);
  button->setToolTip(HintWithKeys(hint, keys));
}
