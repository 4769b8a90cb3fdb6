#include "deliveryledger.h"

#include <algorithm>

void DeliveryLedger::open(const PublishPlace &place, const QList<int> &channels, qint64 nowMs)
{
    close();
    opened = true;
    recordingId = place.recording;
    for (int channel : channels)
        acknowledged[channel] = place.acknowledged.value(channel, nothing);
    sent = acknowledged;
    counted = acknowledged;
    lastSave = nowMs;
}

void DeliveryLedger::close()
{
    opened = false;
    recordingId = 0;
    acknowledged.clear();
    sent.clear();
    counted.clear();
    storedLast.clear();
    newestSamples.clear();
    inFlight.clear();
    pending = 0;
    placeMoved = false;
    unsaved = 0;
}

qint64 DeliveryLedger::valueIn(const std::map<int, qint64> &values, int channel)
{
    const auto found = values.find(channel);
    return found == values.end() ? nothing : found->second;
}

bool DeliveryLedger::storedUpTo(const std::map<int, qint64> &storedLastNow,
                                const std::map<int, qint64> &storedEarliestNow)
{
    bool behind = false;
    for (const auto &entry : storedEarliestNow) {
        const auto place = acknowledged.find(entry.first);
        // Before the first time stamp told, a channel is read without a limit: what it read
        // then was not stored behind anything.
        if (place == acknowledged.end() || !storedLast.count(entry.first) ||
            entry.second > countedUpTo(entry.first))
            continue;
        place->second = std::min(place->second, entry.second - 1);
        behind = true;
    }
    for (const auto &entry : storedLastNow) {
        if (acknowledged.count(entry.first))
            storedLast[entry.first] = entry.second;
    }
    if (!behind)
        return false;
    inFlight.clear();
    sent = acknowledged;
    counted = acknowledged;
    pending = 0;
    // On disk at once: a kill now must not leave the place ahead of them.
    placeMoved = true;
    return true;
}

qint64 DeliveryLedger::readLimit(int channel) const
{
    const auto limit = storedLast.find(channel);
    return limit == storedLast.end() ? openEnd : limit->second;
}

bool DeliveryLedger::moreToSend() const
{
    for (const auto &entry : counted) {
        const auto it = sent.find(entry.first);
        if (it != sent.end() && it->second < entry.second)
            return true;
    }
    return false;
}

void DeliveryLedger::read(const std::vector<PublishedSample> &samples)
{
    // Per channel the last sample read and how many read are newer than what was counted; a
    // channel's samples come in time order.
    std::map<int, std::pair<const PublishedSample *, qint64>> perChannel;
    for (const PublishedSample &sample : samples) {
        auto &entry = perChannel.try_emplace(sample.channel, nullptr, 0).first->second;
        entry.first = &sample;
        entry.second += sample.t > countedUpTo(sample.channel);
    }
    for (const auto &entry : perChannel) {
        const PublishedSample &last = *entry.second.first;
        if (!sent.count(last.channel))
            continue;
        sent[last.channel] = last.t;
        if (entry.second.second > 0) {
            pending += entry.second.second;
            counted[last.channel] = last.t;
            keepNewest(last);
        }
    }
}

void DeliveryLedger::countUnread(int channel, qint64 count, qint64 upTo)
{
    if (count <= 0 || !counted.count(channel))
        return;
    pending += count;
    counted[channel] = upTo;
}

void DeliveryLedger::keepNewest(const PublishedSample &sample)
{
    const auto known = newestSamples.find(sample.channel);
    if (known == newestSamples.end() || known->second.t < sample.t)
        newestSamples[sample.channel] = sample;
}

void DeliveryLedger::handedOver(int mid, const PublishedSample *samples, size_t count,
                                bool acknowledgedAlready)
{
    Message message;
    message.mid = mid;
    message.count = qint64(count);
    message.acknowledged = acknowledgedAlready;
    // The newest time stamp of each channel in the message (samples are in time order).
    std::map<int, qint64> last;
    for (size_t i = 0; i < count; ++i)
        last[samples[i].channel] = samples[i].t;
    message.last.assign(last.begin(), last.end());
    inFlight.push_back(std::move(message));
}

bool DeliveryLedger::acknowledge(int mid)
{
    for (Message &message : inFlight) {
        if (message.mid == mid) {
            message.acknowledged = true;
            break;
        }
    }
    return settle();
}

bool DeliveryLedger::settle()
{
    bool moved = false;
    while (!inFlight.empty() && inFlight.front().acknowledged) {
        const Message &front = inFlight.front();
        for (const auto &entry : front.last)
            acknowledged[entry.first] = entry.second;
        pending -= front.count;
        unsaved += front.count;
        inFlight.pop_front();
        moved = true;
    }
    placeMoved = placeMoved || moved;
    return moved;
}

void DeliveryLedger::resendFromPlace()
{
    inFlight.clear();
    sent = acknowledged;
}

bool DeliveryLedger::placeDue(qint64 nowMs, bool force) const
{
    if (!opened || !placeMoved)
        return false;
    return force || unsaved >= unsavedLimit || nowMs - lastSave >= placeSaveIntervalMs;
}

PublishPlace DeliveryLedger::place() const
{
    PublishPlace place;
    place.recording = recordingId;
    for (const auto &entry : acknowledged) {
        if (entry.second != nothing)
            place.acknowledged.insert(entry.first, entry.second);
    }
    return place;
}

void DeliveryLedger::placeSaved(qint64 nowMs)
{
    placeMoved = false;
    unsaved = 0;
    lastSave = nowMs;
}
