#include "faults.h"

#include <QByteArrayList>

QByteArray FaultSet::describe() const
{
    QByteArrayList parts;
    if (silent)
        parts << "silent";
    if (slowMs > 0)
        parts << "slow " + QByteArray::number(slowMs);
    if (badStatus)
        parts << "badstatus";
    if (body == Body::Garbage)
        parts << "garbage";
    else if (body == Body::NonUtf8)
        parts << "nonutf8";
    else if (body == Body::Overlong)
        parts << "overlong " + QByteArray::number(overlongBytes);
    if (noLf)
        parts << "nolf";
    return parts.isEmpty() ? QByteArrayLiteral("none") : parts.join(", ");
}

namespace {

bool parseWholeNumber(const QByteArray &text, qint64 max, qint64 *number)
{
    if (text.isEmpty() || text.size() > 12)
        return false;
    for (char c : text) {
        if (c < '0' || c > '9')
            return false;
    }
    const qint64 value = text.toLongLong();
    if (value > max)
        return false;
    *number = value;
    return true;
}

} // namespace

bool parseControlLine(const QByteArray &line, ControlCommand *command, QString *why)
{
    const QByteArrayList words = line.simplified().split(' ');
    const QByteArray verb = words.value(0);
    ControlCommand c;
    if (verb == "status") {
        if (words.size() != 1) {
            *why = QStringLiteral("status takes no argument");
            return false;
        }
        *command = c;
        return true;
    }
    if (verb != "fault" && verb != "clear") {
        *why = QStringLiteral("unknown control command '%1' (fault, clear, status)")
                   .arg(QString::fromUtf8(verb));
        return false;
    }
    c.target = words.value(1);
    if (c.target != "measure" && c.target != "switch" && c.target != "all") {
        *why = QStringLiteral("target must be measure, switch or all");
        return false;
    }
    if (verb == "clear") {
        if (words.size() != 2) {
            *why = QStringLiteral("usage: clear <measure|switch|all>");
            return false;
        }
        c.action = ControlCommand::Action::Clear;
        *command = c;
        return true;
    }

    c.action = ControlCommand::Action::Fault;
    c.kind = words.value(2);
    const QByteArray arg = words.value(3);
    static const QByteArrayList plain{"silent", "badstatus", "drop", "garbage", "nonutf8", "nolf"};
    if (plain.contains(c.kind)) {
        if (words.size() != 3) {
            *why = QStringLiteral("fault %1 takes no argument").arg(QString::fromUtf8(c.kind));
            return false;
        }
    } else if (c.kind == "slow") {
        if (words.size() != 4 || !parseWholeNumber(arg, 600000, &c.number)) {
            *why = QStringLiteral("usage: fault <target> slow MS (0..600000)");
            return false;
        }
    } else if (c.kind == "overlong") {
        if (words.size() != 4 || !parseWholeNumber(arg, kMaxOverlongBytes, &c.number)) {
            *why =
                QStringLiteral("usage: fault <target> overlong N (0..%1)").arg(kMaxOverlongBytes);
            return false;
        }
    } else if (c.kind == "refuse") {
        bool ok = false;
        c.seconds = QString::fromUtf8(arg).toDouble(&ok);
        if (words.size() != 4 || !ok || !(c.seconds > 0 && c.seconds <= 3600)) {
            *why =
                QStringLiteral("usage: fault <target> refuse SECONDS (more than 0, at most 3600)");
            return false;
        }
    } else {
        *why = QStringLiteral("unknown fault '%1' (silent, slow, badstatus, drop, refuse, garbage, "
                              "nonutf8, overlong, nolf)")
                   .arg(QString::fromUtf8(c.kind));
        return false;
    }
    *command = c;
    return true;
}

void applyFault(FaultSet *faults, const ControlCommand &command)
{
    if (command.kind == "silent") {
        faults->silent = true;
    } else if (command.kind == "slow") {
        faults->slowMs = static_cast<int>(command.number);
    } else if (command.kind == "badstatus") {
        faults->badStatus = true;
    } else if (command.kind == "garbage") {
        faults->body = FaultSet::Body::Garbage;
    } else if (command.kind == "nonutf8") {
        faults->body = FaultSet::Body::NonUtf8;
    } else if (command.kind == "overlong") {
        faults->body = FaultSet::Body::Overlong;
        faults->overlongBytes = command.number;
    } else if (command.kind == "nolf") {
        faults->noLf = true;
    }
}

QByteArray shapeReply(const QByteArray &reply, const FaultSet &faults, QRandomGenerator *random)
{
    QByteArray body;
    switch (faults.body) {
    case FaultSet::Body::Normal:
        body = reply;
        break;
    case FaultSet::Body::Garbage: {
        // Printable, but no digit, sign, point or comma, so it never reads as a number.
        static const QByteArray alphabet = QByteArrayLiteral(
            "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz!#$%&()*/:;<=>?@[]^_{|}~");
        const int length = 8 + random->bounded(56);
        for (int i = 0; i < length; ++i)
            body.append(alphabet.at(random->bounded(alphabet.size())));
        break;
    }
    case FaultSet::Body::NonUtf8:
        // A lone continuation byte, an overlong encoding, a truncated sequence, 0xFE and 0xFF.
        body = QByteArrayLiteral("\x80\xC0\xAF\xE2\x82\xFE\xFF");
        break;
    case FaultSet::Body::Overlong: {
        static const QByteArray pattern = QByteArrayLiteral("ABCDEFGHIJKLMNOPQRSTUVWXYZ");
        body.reserve(faults.overlongBytes + 1);
        while (body.size() < faults.overlongBytes)
            body.append(pattern.left(static_cast<int>(
                qMin<qint64>(pattern.size(), faults.overlongBytes - body.size()))));
        break;
    }
    }
    if (!faults.noLf)
        body.append('\n');
    return body;
}
