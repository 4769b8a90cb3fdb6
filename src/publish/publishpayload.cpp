#include "publishpayload.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <charconv>
#include <cmath>

namespace {

constexpr double invalidThreshold = 9.9e37;

void appendString(QByteArray &out, const QString &text)
{
    // QJsonDocument escapes what JSON needs; an array of one string is the shortest way to it.
    const QByteArray array =
        QJsonDocument(QJsonArray{QJsonValue(text)}).toJson(QJsonDocument::Compact);
    out.append(array.constData() + 1, array.size() - 2);
}

void appendInteger(QByteArray &out, qint64 number)
{
    char buffer[24];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, number);
    out.append(buffer, int(result.ptr - buffer));
}

void appendValue(QByteArray &out, double value)
{
    // JSON has no infinities: an infinite reading goes out as the invalid marker it stands for.
    if (!std::isfinite(value))
        value = std::signbit(value) ? -invalidThreshold : invalidThreshold;
    // The shortest text that reads back as the same double.
    char buffer[32];
    const auto result = std::to_chars(buffer, buffer + sizeof buffer, value);
    out.append(buffer, int(result.ptr - buffer));
}

void appendSampleFields(QByteArray &out, const PublishedSample &sample)
{
    out.append("\"channel\":");
    appendInteger(out, sample.channel);
    out.append(",\"t\":");
    appendInteger(out, sample.t);
    out.append(",\"value\":");
    appendValue(out, sample.value);
    if (PublishPayload::isInvalid(sample.value))
        out.append(",\"invalid\":true");
}

} // namespace

namespace PublishPayload {

bool isInvalid(double value)
{
    return !(std::fabs(value) < invalidThreshold);
}

QByteArray readings(const QString &serial, qint64 recording, const PublishedSample *samples,
                    size_t count)
{
    QByteArray out;
    out.reserve(int(64 + count * 56));
    out.append("{\"serial\":");
    appendString(out, serial);
    out.append(",\"recording\":");
    appendInteger(out, recording);
    out.append(",\"samples\":[");
    for (size_t i = 0; i < count; ++i) {
        if (i)
            out.append(',');
        out.append('{');
        appendSampleFields(out, samples[i]);
        out.append('}');
    }
    out.append("]}");
    return out;
}

QByteArray latest(const QString &serial, const PublishedSample &sample)
{
    QByteArray out;
    out.append("{\"serial\":");
    appendString(out, serial);
    out.append(',');
    appendSampleFields(out, sample);
    out.append('}');
    return out;
}

QByteArray status(const QString &serial, const QString &state, const QString &identity,
                  const QList<int> &channels, qint64 recording, qint64 backlog)
{
    QByteArray out;
    out.append("{\"serial\":");
    appendString(out, serial);
    out.append(",\"state\":");
    appendString(out, state);
    out.append(",\"identity\":");
    appendString(out, identity);
    out.append(",\"channels\":[");
    for (int i = 0; i < channels.size(); ++i) {
        if (i)
            out.append(',');
        appendInteger(out, channels.at(i));
    }
    out.append("],\"recording\":");
    appendInteger(out, recording);
    out.append(",\"backlog\":");
    appendInteger(out, backlog);
    out.append('}');
    return out;
}

QByteArray will(const QString &serial)
{
    QByteArray out;
    out.append("{\"serial\":");
    appendString(out, serial);
    out.append(",\"state\":\"offline\"}");
    return out;
}

} // namespace PublishPayload
