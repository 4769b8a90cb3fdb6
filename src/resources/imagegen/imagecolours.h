// Colours shared by the painted images; they match the dark style sheet.
#pragma once

#include <QColor>

namespace imagegen {

inline const QColor kAccent(39, 158, 212);        // rgb(39,158,212), the theme's blue
inline const QColor kAccentHover(77, 182, 230);   // lighter blue of a hovered control
inline const QColor kAccentPressed(27, 111, 150); // darker blue of a pressed control
inline const QColor kMark(200, 200, 200);         // arrows and marks on dark ground
inline const QColor kMarkDisabled(90, 90, 90);
inline const QColor kFrame(140, 140, 140); // outline of an unticked box
inline const QColor kFrameDisabled(74, 74, 74);
inline const QColor kWell(23, 23, 23); // inside of boxes, #171717
inline const QColor kWellDisabled(38, 38, 38);
inline const QColor kBranchLine(80, 80, 80);
inline const QColor kStart(60, 179, 113);
inline const QColor kStop(224, 80, 77);

// The look of one control state, chosen by the file name's suffix.
enum class Variant
{
    Plain,
    Disabled,
    Focus,
    Pressed
};

} // namespace imagegen
