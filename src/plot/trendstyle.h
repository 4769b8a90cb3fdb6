// The trend plot's look in the window's dark theme: curve colours, the style sheet of the plot's
// parts, the local-time axis and the tab's icon.
#pragma once

#include <QColor>
#include <QIcon>
#include <QString>

class QwtLegend;
class QwtPlot;

namespace TrendStyle {

// Colour of the index-th curve: hues spread by the golden angle, so that neighbouring channels
// differ clearly and ninety of them stay distinguishable on the dark canvas.
QColor curveColour(int index);
QString styleSheet();
// Canvas, grid, axes (time in local clock time on the bottom) and their fonts and colours.
void applyTo(QwtPlot *plot);
// The frame around a shown curve's entry, in the dark theme's greys.
void applyToLegend(QwtLegend *legend);
QIcon tabIcon();

} // namespace TrendStyle
