// The host's look: dark like the logger it frames, so the two read as one window. The launcher
// dialog shares it.
#pragma once

class QApplication;

void applyHostLook(QApplication &app);
