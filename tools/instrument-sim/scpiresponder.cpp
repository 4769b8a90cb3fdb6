#include "scpiresponder.h"

#include "simsignal.h"

#include <QRegularExpression>

namespace {

const QByteArray kUndefinedHeader = QByteArrayLiteral("-113,\"Undefined header\"");
const QByteArray kParameterNotAllowed = QByteArrayLiteral("-108,\"Parameter not allowed\"");
const QByteArray kMissingParameter = QByteArrayLiteral("-109,\"Missing parameter\"");
const QByteArray kIllegalParameter = QByteArrayLiteral("-224,\"Illegal parameter value\"");
const QByteArray kOutOfRange = QByteArrayLiteral("-222,\"Data out of range\"");
const QByteArray kQueueOverflow = QByteArrayLiteral("-350,\"Queue overflow\"");
constexpr int kErrorQueueSize = 10;

struct PatternNode
{
    QByteArray shortForm;
    QByteArray longForm;
    bool optional;
};

QList<PatternNode> patternNodes(const char *pattern)
{
    QList<PatternNode> nodes;
    QByteArray text(pattern);
    if (text.endsWith('?'))
        text.chop(1);
    // "STATus:OPERation[:EVENt]" -> STAT/STATUS, OPER/OPERATION, [EVEN/EVENT]
    int i = 0;
    while (i < text.size()) {
        bool optional = false;
        if (text.at(i) == '[') {
            optional = true;
            ++i;
        }
        if (i < text.size() && text.at(i) == ':')
            ++i;
        PatternNode node{{}, {}, optional};
        while (i < text.size() && text.at(i) != ':' && text.at(i) != '[' && text.at(i) != ']') {
            const char c = text.at(i);
            if (c >= 'a' && c <= 'z') {
                node.longForm.append(static_cast<char>(c - 'a' + 'A'));
            } else {
                if (node.longForm.size() == node.shortForm.size())
                    node.shortForm.append(c);
                node.longForm.append(c);
            }
            ++i;
        }
        if (i < text.size() && text.at(i) == ']')
            ++i;
        nodes.append(node);
    }
    return nodes;
}

bool nodesMatch(const QList<QByteArray> &header, int h, const QList<PatternNode> &pattern, int p)
{
    if (p == pattern.size())
        return h == header.size();
    const PatternNode &node = pattern.at(p);
    if (h < header.size() && (header.at(h) == node.shortForm || header.at(h) == node.longForm) &&
        nodesMatch(header, h + 1, pattern, p + 1))
        return true;
    return node.optional && nodesMatch(header, h, pattern, p + 1);
}

ScpiOutcome replyWith(const QByteArray &reply)
{
    ScpiOutcome out;
    out.hasReply = true;
    out.reply = reply;
    return out;
}

} // namespace

ScpiResponder::ScpiResponder(SimRole role, const ScpiIdentity &identity, RigState *rig)
    : role(role)
    , identity(identity)
    , rig(rig)
{
}

bool ScpiResponder::headerMatches(const QByteArray &header, const char *pattern)
{
    QByteArray h = header.toUpper();
    const bool query = h.endsWith('?');
    if (query != QByteArray(pattern).endsWith('?'))
        return false;
    if (query)
        h.chop(1);
    if (h.startsWith('*'))
        return h == QByteArray(pattern).toUpper().chopped(query ? 1 : 0);
    if (h.startsWith(':'))
        h.remove(0, 1);
    if (h.isEmpty())
        return false;
    return nodesMatch(h.split(':'), 0, patternNodes(pattern), 0);
}

ScpiOutcome ScpiResponder::execute(const QByteArray &line, bool badStatus)
{
    const QByteArray command = line.trimmed();
    // The header ends at white space or at an opening parenthesis ("ROUT:CLOS(@101)").
    int end = 0;
    while (end < command.size() && !QChar::isSpace(static_cast<uchar>(command.at(end))) &&
           command.at(end) != '(')
        ++end;
    const QByteArray header = command.left(end);
    const QByteArray params = command.mid(end).trimmed();

    if (headerMatches(header, "*IDN?")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        return replyWith(identity.maker + ',' + identity.model + ',' + identity.serial + ',' +
                         identity.version);
    }
    if (headerMatches(header, "SYSTem:ERRor[:NEXT]?")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        return replyWith(errors.isEmpty() ? QByteArrayLiteral("+0,\"No error\"")
                                          : errors.takeFirst());
    }
    if (headerMatches(header, "*OPC?")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        // Commands run as they arrive, so every earlier operation is complete.
        return replyWith(QByteArrayLiteral("1"));
    }
    if (headerMatches(header, "*CLS")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        errors.clear();
        return {};
    }
    return role == SimRole::Measure ? executeMeasure(header, params, badStatus)
                                    : executeSwitch(header, params);
}

ScpiOutcome ScpiResponder::executeMeasure(const QByteArray &header, const QByteArray &params,
                                          bool badStatus)
{
    if (headerMatches(header, "FETCh?")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        const double v = simsignal::value(rig->seed, rig->closedChannel, rig->seconds());
        return replyWith(QByteArray::fromStdString(simsignal::formatReading(v, !badStatus)));
    }
    if (headerMatches(header, "APERture")) {
        if (params.isEmpty())
            return fail(kMissingParameter);
        const QByteArray speed = params.toUpper();
        if (speed != "MED" && speed != "SLOW2")
            return fail(kIllegalParameter);
        return {};
    }
    return fail(kUndefinedHeader);
}

ScpiOutcome ScpiResponder::executeSwitch(const QByteArray &header, const QByteArray &params)
{
    if (headerMatches(header, "SYSTem:CTYPe?")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        QByteArrayList fields;
        for (int slot : qAsConst(rig->fittedSlots))
            fields.append(QByteArray::number(slot));
        return replyWith(fields.join(','));
    }
    if (headerMatches(header, "STATus:OPERation[:EVENt]?")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        return replyWith(QByteArrayLiteral("+0"));
    }
    if (headerMatches(header, "ROUTe:CLOSe") || headerMatches(header, "ROUTe:OPEN")) {
        if (params.isEmpty())
            return fail(kMissingParameter);
        int channel = 0;
        if (!parseChannel(params, &channel))
            return fail(kIllegalParameter);
        // An invalid channel leaves the relays as they were, as a real frame does.
        if (!rig->isChannel(channel))
            return fail(kOutOfRange);
        if (header.toUpper().contains("CLOS"))
            rig->closedChannel = channel;
        else if (rig->closedChannel == channel)
            rig->closedChannel = 0;
        return {};
    }
    if (headerMatches(header, "ROUTe:OPEN:ALL")) {
        if (!params.isEmpty())
            return fail(kParameterNotAllowed);
        rig->closedChannel = 0;
        return {};
    }
    return fail(kUndefinedHeader);
}

bool ScpiResponder::parseChannel(const QByteArray &params, int *channel)
{
    static const QRegularExpression list(QStringLiteral("^\\(\\s*@\\s*([0-9]{1,6})\\s*\\)$"));
    const QRegularExpressionMatch m = list.match(QString::fromLatin1(params));
    if (!m.hasMatch())
        return false;
    *channel = m.captured(1).toInt();
    return true;
}

ScpiOutcome ScpiResponder::fail(const QByteArray &error)
{
    // A full queue keeps its oldest entries and ends with an overflow marker, as SCPI asks.
    if (errors.size() < kErrorQueueSize - 1)
        errors.append(error);
    else if (errors.size() == kErrorQueueSize - 1)
        errors.append(kQueueOverflow);
    ScpiOutcome out;
    out.error = error;
    return out;
}
