// Translation of VISA serial settings into termios flags (raw mode, no echo).
#pragma once

#include "transport.h"

#include <termios.h>

namespace visa {

// Rewrites tio for the settings. VI_SUCCESS, VI_WARN_NSUP_ATTR_STATE when 1.5 stop bits are
// approximated by two, VI_ERROR_NSUP_ATTR_STATE (tio unchanged) for a value termios cannot
// express: a non-standard rate, 5..8 data bits exceeded, DTR/DSR flow control.
ViStatus applySerialSettings(const SerialSettings &settings, termios *tio);

// The control flags applySerialSettings decides; a port that does not keep them after tcsetattr
// did not take the setting.
constexpr tcflag_t kSerialControlFlags = CSIZE | PARENB | PARODD | CMSPAR | CSTOPB | CRTSCTS;

} // namespace visa
