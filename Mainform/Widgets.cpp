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
