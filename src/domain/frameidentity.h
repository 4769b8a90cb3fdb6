// Who the switch main frame says it is: its answer to the identification query,
// "<maker>,<model>,<serial>,<version>", parsed once where the frame is linked and handed on.
// The reply is read word by word: its commas become spaces and every space separates a field,
// so a maker's name with a space in it shifts the later fields, and a missing field is empty.
#pragma once

#include <QString>

class FrameIdentity
{
public:
    // No frame has identified itself.
    FrameIdentity() = default;
    static FrameIdentity parse(const QString &idnReply);
    // A frame known only by the serial a stored data set is named after (no frame connected):
    // the fields it never told read "-".
    static FrameIdentity ofSerial(const QString &serial);

    // The frame answered the identification query.
    bool isKnown() const { return !words.isEmpty(); }
    QString maker() const { return makerField; }
    QString model() const { return modelField; }
    QString serial() const { return serialField; }
    QString version() const { return versionField; }
    // The reply with its commas as spaces, every word of it.
    QString text() const { return words; }
    // The identity a publisher announces: the words, single-spaced.
    QString statusText() const { return words.simplified(); }
    // The serial a publisher names its topics and messages after: the third of the announced
    // words, or "unknown" when there are fewer.
    QString topicSerial() const;

    bool operator==(const FrameIdentity &other) const { return words == other.words; }
    bool operator!=(const FrameIdentity &other) const { return !(*this == other); }

private:
    QString words;
    QString makerField;
    QString modelField;
    QString serialField;
    QString versionField;
};
