#include "storeclock.h"

#include <atomic>
#include <limits>

namespace {
// One atomic word: the frozen instant, or "unset" to follow the system clock. A single word
// keeps readers on other threads from ever seeing a half-written override.
constexpr qint64 systemTime = std::numeric_limits<qint64>::min();
std::atomic<qint64> frozenMs{systemTime};
} // namespace

namespace StoreClock {

qint64 nowMs()
{
    const qint64 frozen = frozenMs.load(std::memory_order_acquire);
    return frozen == systemTime ? QDateTime::currentMSecsSinceEpoch() : frozen;
}

QDateTime nowLocal()
{
    return QDateTime::fromMSecsSinceEpoch(nowMs());
}

void setFixedNow(qint64 ms)
{
    frozenMs.store(ms, std::memory_order_release);
}

void advance(qint64 ms)
{
    setFixedNow(nowMs() + ms);
}

void useSystemTime()
{
    frozenMs.store(systemTime, std::memory_order_release);
}

} // namespace StoreClock
