// Registration of the compiled-in resource bundle (":/qss/styles.qss", ":/dark/...",
// ":/image/...") that lives in the static library "resources".
#pragma once

// Makes the bundle available to QFile, QIcon and the style sheet. Linking a static
// library drops its resource object unless something refers to it, so every program
// that uses the bundle calls this once (calling it again is harmless). Calling it
// anywhere links the bundle in, and the bundle then registers itself during static
// initialisation, so it is there before main runs. Returns whether the style sheet
// is reachable afterwards.
//
// In main, before the window is built:
//     initDataloggerResources();
// and once the window exists, the theme is applied from ":/qss/styles.qss":
//     QFile sheet(":/qss/styles.qss");
//     if (sheet.open(QIODevice::ReadOnly | QIODevice::Text))
//         app.setStyleSheet(QString::fromUtf8(sheet.readAll()));
bool initDataloggerResources();
