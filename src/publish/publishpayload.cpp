#include "publishpayload.h"

#include "readingvalue.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonValue>

#include <charconv>
#include <cmath>
#include <cstring>

namespace {

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

// The widest a sample's fields can be: the names, two 64-bit integers, a double in its
// shortest form and the invalid mark.
constexpr int maxSampleText = 126;

template <size_t N>
char *put(char *p, const char (&text)[N])
{
    std::memcpy(p, text, N - 1);
    return p + N - 1;
}

// One sample's fields written at p (at most maxSampleText characters); returns the end.
char *putSampleFields(char *p, const PublishedSample &sample)
{
    char *const end = p + maxSampleText;
    p = put(p, "\"channel\":");
    p = std::to_chars(p, end, sample.channel).ptr;
    p = put(p, ",\"t\":");
    p = std::to_chars(p, end, sample.t).ptr;
    p = put(p, ",\"value\":");
    double value = sample.value;
    if (!std::isfinite(value))
        value = std::signbit(value) ? -ReadingValue::Overload : ReadingValue::Overload;
    p = std::to_chars(p, end, value).ptr;
    if (PublishPayload::isInvalid(sample.value))
        p = put(p, ",\"invalid\":true");
    return p;
}

void appendSampleFields(QByteArray &out, const PublishedSample &sample)
{
    char buffer[maxSampleText];
    out.append(buffer, int(putSampleFields(buffer, sample) - buffer));
}

} // namespace

namespace PublishPayload {

bool isInvalid(double value)
{
    return !ReadingValue::isMeasured(value);
}

QByteArray readings(const QString &serial, qint64 recording, const PublishedSample *samples,
                    size_t count)
{
    QByteArray out;
    out.append("{\"serial\":");
    appendString(out, serial);
    out.append(",\"recording\":");
    appendInteger(out, recording);
    out.append(",\"samples\":[");
    // The samples are written straight into room made for the widest, then cut to length.
    const int head = out.size();
    out.resize(head + int(count) * (maxSampleText + 3) + 2);
    char *const begin = out.data() + head;
    char *p = begin;
    for (size_t i = 0; i < count; ++i) {
        if (i)
            *p++ = ',';
        *p++ = '{';
        p = putSampleFields(p, samples[i]);
        *p++ = '}';
    }
    p = put(p, "]}");
    out.resize(head + int(p - begin));
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
