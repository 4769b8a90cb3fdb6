// Registration of the compiled-in resource bundle (":/qss/styles.qss", ":/dark/...",
// ":/image/...") that lives in the static library "resources".
#pragma once

// Makes the bundle available to QFile, QIcon and the style sheet. Linking a static
// library drops its resource object unless something refers to it, so every program
// that uses the bundle calls this once, before loading a resource (calling it again
// is harmless). Returns whether the style sheet is reachable afterwards.
bool initDataloggerResources();
