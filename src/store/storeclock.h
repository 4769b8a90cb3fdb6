// The one place where the store asks what time it is. Tests freeze or move this clock to
// exercise midnight, the six-hour slices and day switching deterministically.
#pragma once

#include <QDateTime>
#include <QtGlobal>

namespace StoreClock {

// Milliseconds since the epoch: the system clock unless a test has frozen the clock.
qint64 nowMs();
// nowMs() as a local date-time.
QDateTime nowLocal();
// Freezes the clock at the given instant (any thread may read it meanwhile).
void setFixedNow(qint64 ms);
// Moves a frozen clock forward (or back with a negative step); freezes it at now first if needed.
void advance(qint64 ms);
// Returns to the system clock.
void useSystemTime();

} // namespace StoreClock
