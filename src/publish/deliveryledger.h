// The publisher's account of one recording's delivery: per channel what was read and handed to
// the broker, what the broker acknowledged (the place, saved so that a restart resumes), what
// is counted into the backlog, and the messages in flight. Pure bookkeeping: no broker, no
// store, no thread; the time is passed in.
#pragma once

#include "placefile.h"
#include "publishpayload.h"

#include <QList>

#include <deque>
#include <limits>
#include <map>
#include <vector>

class DeliveryLedger
{
public:
    // No sample of the channel acknowledged (read, counted) yet.
    static constexpr qint64 nothing = -1;
    static constexpr qint64 openEnd = std::numeric_limits<qint64>::max();
    // The place is saved at most this often while it moves by small steps (one message per
    // scan keeps the disk quiet), and at once when the acknowledged samples not yet saved reach
    // a full message: a kill then repeats fewer than that of what the broker confirmed.
    static constexpr qint64 placeSaveIntervalMs = 500;
    static constexpr qint64 unsavedLimit = 1000;

    // Takes a recording up at its place (an empty one: from its first sample).
    void open(const PublishPlace &place, const QList<int> &channels, qint64 nowMs);
    void close();
    bool isOpen() const { return opened; }
    qint64 recording() const { return recordingId; }
    // Samples counted and not acknowledged yet.
    qint64 backlog() const { return pending; }

    // The store told, per channel, the time stamp stored last and the earliest stored since it
    // last told. A sample stored at or before what was already counted (the wall clock was set
    // back) takes the channel's place back to just before it; everything after the place is
    // then read, counted and sent again and what is in flight is forgotten, since its
    // acknowledgements would carry the place past the samples stored behind it. True when
    // that happened: the place is then due at once (placeDue with force).
    bool storedUpTo(const std::map<int, qint64> &storedLast,
                    const std::map<int, qint64> &storedEarliest);
    // The time stamp the channel's samples are read up to: what the store told last, without
    // a limit before it told anything.
    qint64 readLimit(int channel) const;

    qint64 sentUpTo(int channel) const { return valueIn(sent, channel); }
    qint64 countedUpTo(int channel) const { return valueIn(counted, channel); }
    const std::map<int, qint64> &countedAll() const { return counted; }
    // Counted samples not read for sending yet.
    bool moreToSend() const;

    // Samples read from the store for sending, in time order; those past what was counted go
    // into the backlog.
    void read(const std::vector<PublishedSample> &samples);
    // count samples of channel after what was counted, up to time stamp upTo, counted in the
    // store without reading them.
    void countUnread(int channel, qint64 count, qint64 upTo);
    // The newest sample of each channel known, by time stamp (a span read again after the
    // clock was set back does not take it back): the retained latest values.
    void keepNewest(const PublishedSample &sample);
    const std::map<int, PublishedSample> &newest() const { return newestSamples; }

    // A message of count samples handed to the broker as mid; acknowledged when its
    // acknowledgement came before it was listed. settle() then moves the place.
    void handedOver(int mid, const PublishedSample *samples, size_t count, bool acknowledged);
    size_t inFlightCount() const { return inFlight.size(); }
    // The broker acknowledged mid (unknown ids are ignored); true when the place moved. The
    // place moves over the acknowledged front only: an earlier message still unconfirmed holds
    // it back, so that a restart never skips a sample.
    bool acknowledge(int mid);
    bool settle();
    // The link went down or came up: what was in flight is read again from the place on.
    void resendFromPlace();

    // The place is saved when it moved and either unsavedLimit acknowledged samples are not
    // saved yet or placeSaveIntervalMs passed since the last save; force: whenever it moved.
    bool placeDue(qint64 nowMs, bool force) const;
    PublishPlace place() const;
    void placeSaved(qint64 nowMs);
    qint64 unsavedAcknowledged() const { return unsaved; }

private:
    struct Message
    {
        int mid = 0;
        bool acknowledged = false;
        qint64 count = 0;
        std::vector<std::pair<int, qint64>> last; // channel -> newest time stamp in the message
    };

    static qint64 valueIn(const std::map<int, qint64> &values, int channel);

    bool opened = false;
    qint64 recordingId = 0;
    std::map<int, qint64> acknowledged; // the place
    std::map<int, qint64> sent;         // read and handed to the broker
    std::map<int, qint64> counted;      // counted into the backlog
    // Per channel the time stamp stored last, as the store told; reading goes no further, so
    // that samples stored later with earlier time stamps are still ahead of it. None for a
    // recording this process does not store.
    std::map<int, qint64> storedLast;
    std::map<int, PublishedSample> newestSamples;
    std::deque<Message> inFlight;
    qint64 pending = 0;
    bool placeMoved = false;
    qint64 unsaved = 0; // samples acknowledged since the place was last saved
    qint64 lastSave = 0;
};
