// The keyboard for a window of another process: Qt's focus chain ends at our own windows, so
// the X server is asked directly.
#pragma once

#include <QtGlobal>

// Gives the X input focus to the window with the given id; false when there is no X display
// or the request failed (the window is gone).
bool giveInputFocus(quint64 windowId);
