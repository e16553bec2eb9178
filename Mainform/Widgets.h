// The window's building blocks: panels and flat tool-bar buttons.
#pragma once

#include <QFrame>
#include <QRect>
#include <QSize>
#include <QString>
#include <QToolButton>

enum class TBevel { None, Raised };

// A panel, with a 1-px raised bevel or none.
QFrame* MakePanel(QWidget* parent, TBevel bevel);

// A flat tool-bar button: raised edge only under the mouse, never focused.
QToolButton* MakeButton(QWidget* parent, const QString& caption, const QRect& geometry);

// Gives `button` the image `resource`, shown at `size` in `style`.
void SetImage(QToolButton* button, const QString& resource, const QSize& size,
              Qt::ToolButtonStyle style);
