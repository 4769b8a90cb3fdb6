// Where the plot suites leave their screenshots, and the window's dark theme for them.
#pragma once

#include <QString>

class QWidget;

namespace PlotTest {

// Applies the application's style sheet from the resource bundle; false if it is missing.
bool applyDarkTheme();
// Saves a picture of the widget as <name>.png in $DATALOGGER_SCREENSHOT_DIR (nothing when the
// variable is not set); returns the path written, or an empty string.
QString saveScreenshot(QWidget *widget, const QString &name);

} // namespace PlotTest
