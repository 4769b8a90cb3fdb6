// The plot's mouse picker: a rectangle dragged with the left button to zoom into, and a tracker
// showing the local time and value under the cursor.
#pragma once

#include <qwt_plot_picker.h>

class QWidget;

class TrendPicker : public QwtPlotPicker
{
    Q_OBJECT
public:
    explicit TrendPicker(QWidget *canvas);

protected:
    QwtText trackerTextF(const QPointF &position) const override;
};
