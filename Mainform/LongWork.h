// Work that can take seconds, such as populating a species of many millions
// of molecules, done off the window's thread so that the window stays
// painted; once it has taken half a second a progress bar shows, with Cancel.
#pragma once

#include <QString>
#include <functional>

class QWidget;

// Reports the share of the work done (0 to 1); false once the user cancelled.
using TWorkProgress = std::function<bool(double done)>;

// Runs `work` on a worker thread and returns when it ends. Until the bar
// shows, clicks and keys wait; once it shows it is modal. `work` must leave
// everything as it was when it throws after a cancel (the engine does).
// Returns false when cancelled; rethrows any other failure of the work.
bool RunLongWork(QWidget* parent, const QString& label,
                 const std::function<void(const TWorkProgress& progress)>& work);

// How long work runs before the bar shows: half a second unless set (tests
// show it at once to press its Cancel).
void SetLongWorkQuietTime(int milliseconds);
