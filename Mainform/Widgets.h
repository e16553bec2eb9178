// The window's building blocks: panels, flat tool-bar buttons, and actions
// whose keys their tooltips name.
#pragma once

#include <QAction>
#include <QFrame>
#include <QKeySequence>
#include <QRect>
#include <QSize>
#include <QString>
#include <QToolButton>

#include "Session/Captions.h"

enum class TBevel { None, Raised };

// A panel, with a 1-px raised bevel or none.
QFrame* MakePanel(QWidget* parent, TBevel bevel);

// A flat tool-bar button: raised edge only under the mouse, never focused.
QToolButton* MakeButton(QWidget* parent, const QString& caption, const QRect& geometry);

// Gives `button` the image `resource`, shown at `size` in `style`.
void SetImage(QToolButton* button, const QString& resource, const QSize& size,
              Qt::ToolButtonStyle style);

// "hint (Ctrl+K)": a tooltip that names the keys.
QString HintWithKeys(const QString& hint, const QKeySequence& keys);

// An action of `window` with `keys`, its tooltip naming them.
QAction* MakeAction(QWidget* window, const QString& text, const QKeySequence& keys,
                    const QString& hint);

// `button` does `action`: its caption stays, the action's tooltip (with the
// shortcut) shows.
void AttachAction(QToolButton* button, QAction* action);

// Gives a button of the designed tool bars a shortcut and says it in its tooltip.
void SetButtonShortcut(QToolButton* button, const QKeySequence& keys, const QString& hint);

// A control's words (Session/Captions.h) as the window uses them.
inline QString Caption(const TControlText& control) { return QString::fromUtf8(control.Caption); }
inline QString Tip(const TControlText& control) { return QString::fromUtf8(control.Tip); }
inline QKeySequence Keys(const TControlText& control) {
  return QKeySequence(QString::fromLatin1(control.Key), QKeySequence::PortableText);
}
