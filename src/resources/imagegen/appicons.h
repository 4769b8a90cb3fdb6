// Painters for the window's own icons (":/image/..."): logging button, export
// button and the two tabs.
#pragma once

#include <QImage>
#include <QString>

namespace imagegen {

// Paints the icon called name (as "start"); a null image when the name is unknown.
QImage paintAppIcon(const QString &name);

} // namespace imagegen
