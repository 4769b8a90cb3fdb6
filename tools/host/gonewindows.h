// Quiets the X errors about an adopted window whose process has ended: letting go of the
// container unmaps a window the X server has already destroyed, which is expected.
#pragma once

#include <QtGlobal>

// From now on the "BadWindow" errors that name this window id are dropped from the message
// log; every other message passes to the handler that was installed before.
void forgetGoneWindow(quint64 windowId);
