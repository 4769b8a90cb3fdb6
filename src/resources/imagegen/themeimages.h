// Painters for the images of the dark theme (":/dark/..."): arrows, branch marks,
// check boxes and radio buttons.
#pragma once

#include <QImage>
#include <QString>

namespace imagegen {

// Paints the theme image called name (as "arrow_up_focus"); a null image when the
// name is unknown.
QImage paintThemeImage(const QString &name);

} // namespace imagegen
