#include "linelink.h"

LineLink::LineLink(QObject *parent)
    : QObject(parent)
{
    sendTimer.setSingleShot(true);
    connect(&sendTimer, &QTimer::timeout, this, &LineLink::sendDue);
    clock.start();
}

void LineLink::queueReply(const QByteArray &bytes, int delayMs, const QByteArray &logText)
{
    if (pending.isEmpty() && delayMs <= 0) {
        emit replySending(logText);
        writeBytes(bytes);
        return;
    }
    qint64 due = clock.elapsed() + delayMs;
    if (!pending.isEmpty() && pending.last().dueMs > due)
        due = pending.last().dueMs;
    pending.enqueue({due, bytes, logText});
    if (!sendTimer.isActive())
        sendTimer.start(static_cast<int>(qMax<qint64>(0, pending.head().dueMs - clock.elapsed())));
}

void LineLink::discardPending()
{
    pending.clear();
    sendTimer.stop();
    partialLine.clear();
    skippingLongLine = false;
    ++inputEpoch;
}

void LineLink::sendDue()
{
    while (!pending.isEmpty() && pending.head().dueMs <= clock.elapsed()) {
        const PendingReply reply = pending.dequeue();
        emit replySending(reply.logText);
        writeBytes(reply.bytes);
    }
    if (!pending.isEmpty())
        sendTimer.start(static_cast<int>(qMax<qint64>(0, pending.head().dueMs - clock.elapsed())));
}

void LineLink::feed(const QByteArray &data)
{
    const quint64 epoch = inputEpoch;
    int start = 0;
    while (start < data.size()) {
        const int lf = data.indexOf('\n', start);
        if (lf < 0) {
            if (!skippingLongLine)
                partialLine.append(data.mid(start));
            // A client that never sends a line feed must not grow our memory without bound.
            if (partialLine.size() > kMaxLineBytes) {
                emit lineTooLong(partialLine.size());
                partialLine.clear();
                skippingLongLine = true;
            }
            return;
        }
        if (skippingLongLine) {
            skippingLongLine = false;
            start = lf + 1;
            continue;
        }
        partialLine.append(data.constData() + start, lf - start);
        start = lf + 1;
        QByteArray line;
        line.swap(partialLine);
        if (line.endsWith('\r'))
            line.chop(1);
        if (line.size() > kMaxLineBytes) {
            emit lineTooLong(line.size());
            continue;
        }
        emit lineReceived(line);
        if (epoch != inputEpoch)
            return;
    }
}
