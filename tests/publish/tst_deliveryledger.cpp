// The delivery ledger without a broker, a store or a thread: the place moves over the
// acknowledged front only, is saved per 1000 acknowledged samples or half a second, goes back
// before samples stored behind it when the wall clock is set back, and the backlog counts each
// sample once however often it is read.
#include "deliveryledger.h"
#include "placefile.h"

#include <QTemporaryDir>
#include <QtTest>

#include <algorithm>
#include <vector>

namespace {

const QList<int> channels = {101, 102, 103};
// 2026-03-29 00:59:59.900 UTC, a tenth of a second before Europe/Berlin springs forward: the
// ledger deals in milliseconds since the epoch only, whatever the zone.
constexpr qint64 base = 1774745999900;

// One scan per 100 ms: channels 101 and 102 share the scan's time stamp, 103 follows 1 ms later.
std::vector<PublishedSample> scans(int first, int count)
{
    std::vector<PublishedSample> samples;
    for (int scan = first; scan < first + count; ++scan) {
        const qint64 t = base + scan * 100;
        samples.push_back({t, 101, scan + 0.5});
        samples.push_back({t, 102, scan + 0.25});
        samples.push_back({t + 1, 103, scan + 0.125});
    }
    return samples;
}

// Opened on a fresh recording and the samples read, as a pass would.
void openAndRead(DeliveryLedger &ledger, const std::vector<PublishedSample> &samples)
{
    PublishPlace fresh;
    fresh.recording = base - 5000;
    ledger.open(fresh, channels, 0);
    ledger.read(samples);
}

} // namespace

class TestDeliveryLedger : public QObject
{
    Q_OBJECT

private slots:
    void placeMovesOverTheAcknowledgedFrontOnly();
    void acknowledgementBeforeTheMessageIsListed();
    void placeIsSavedPerThousandOrHalfASecond();
    void placeSavedIsWhereARestartResumes();
    void lostLinkSendsInFlightAgainAndCountsOnce();
    void readingStopsAtWhatTheStoreTold();
    void clockSetBackTakesThePlaceBack();
    void acknowledgementsFromBeforeTheStepDoNotMoveThePlace();
    void latestValueIsTheNewestByTime();
};

void TestDeliveryLedger::placeMovesOverTheAcknowledgedFrontOnly()
{
    DeliveryLedger ledger;
    const std::vector<PublishedSample> samples = scans(0, 3);
    openAndRead(ledger, samples);
    QCOMPARE(ledger.backlog(), qint64(9));
    for (int scan = 0; scan < 3; ++scan)
        ledger.handedOver(10 + scan, samples.data() + 3 * scan, 3, false);
    QVERIFY(!ledger.settle());
    QCOMPARE(ledger.inFlightCount(), size_t(3));

    // The broker confirms the second and third before the first: a restart from a place past
    // the first would skip it.
    QVERIFY(!ledger.acknowledge(12));
    QVERIFY(!ledger.acknowledge(11));
    QVERIFY(!ledger.acknowledge(99)); // a status or latest value: not a message of readings
    QVERIFY(ledger.place().acknowledged.isEmpty());
    QCOMPARE(ledger.backlog(), qint64(9));
    QVERIFY(!ledger.placeDue(10000, true));

    QVERIFY(ledger.acknowledge(10));
    QCOMPARE(ledger.inFlightCount(), size_t(0));
    QCOMPARE(ledger.backlog(), qint64(0));
    const PublishPlace place = ledger.place();
    QCOMPARE(place.recording, base - 5000);
    QCOMPARE(place.acknowledged.value(101), base + 200);
    QCOMPARE(place.acknowledged.value(102), base + 200);
    QCOMPARE(place.acknowledged.value(103), base + 201);
    QCOMPARE(ledger.unsavedAcknowledged(), qint64(9));
    // An acknowledgement that comes twice (a repeated PUBACK) changes nothing.
    QVERIFY(!ledger.acknowledge(10));
    QCOMPARE(ledger.backlog(), qint64(0));
}

void TestDeliveryLedger::acknowledgementBeforeTheMessageIsListed()
{
    // With QoS 0 the library confirms inside the publish call, before its id is known here.
    DeliveryLedger ledger;
    const std::vector<PublishedSample> samples = scans(0, 2);
    openAndRead(ledger, samples);
    ledger.handedOver(1, samples.data(), 3, true);
    ledger.handedOver(2, samples.data() + 3, 3, false);
    QVERIFY(ledger.settle());
    QCOMPARE(ledger.place().acknowledged.value(103), base + 1);
    QCOMPARE(ledger.backlog(), qint64(3));
    QVERIFY(ledger.acknowledge(2));
    QCOMPARE(ledger.place().acknowledged.value(103), base + 101);
    QCOMPARE(ledger.backlog(), qint64(0));
}

void TestDeliveryLedger::placeIsSavedPerThousandOrHalfASecond()
{
    // 1200 samples in messages of 100, acknowledged one by one within a few milliseconds.
    DeliveryLedger ledger;
    const std::vector<PublishedSample> samples = scans(0, 400);
    openAndRead(ledger, samples);
    for (int message = 0; message < 12; ++message)
        ledger.handedOver(message + 1, samples.data() + 100 * message, 100, false);
    QVERIFY(!ledger.placeDue(1, false)); // nothing acknowledged: nothing to save, even forced
    QVERIFY(!ledger.placeDue(1, true));
    for (int message = 0; message < 9; ++message) {
        QVERIFY(ledger.acknowledge(message + 1));
        QVERIFY2(!ledger.placeDue(10 + message, false), qPrintable(QString::number(message)));
    }
    QVERIFY(ledger.placeDue(20, true));
    // The tenth message brings the unsaved acknowledged samples to 1000: saved at once, so that
    // a kill repeats fewer than 1000 of what the broker confirmed.
    QVERIFY(ledger.acknowledge(10));
    QCOMPARE(ledger.unsavedAcknowledged(), qint64(1000));
    QVERIFY(ledger.placeDue(20, false));
    ledger.placeSaved(20);
    QVERIFY(!ledger.placeDue(20, false));
    QCOMPARE(ledger.unsavedAcknowledged(), qint64(0));
    // A small step waits for the half second since the last save.
    QVERIFY(ledger.acknowledge(11));
    QVERIFY(!ledger.placeDue(519, false));
    QVERIFY(ledger.placeDue(520, false));
    ledger.placeSaved(520);
    // Nothing moved since: nothing due, however long it has been.
    QVERIFY(!ledger.placeDue(100000, false));
    QVERIFY(!ledger.acknowledge(11));
    QVERIFY(!ledger.placeDue(100000, false));
}

void TestDeliveryLedger::placeSavedIsWhereARestartResumes()
{
    QTemporaryDir dir;
    QVERIFY(dir.isValid());
    const QString path = PlaceFile::pathIn(dir.path());
    DeliveryLedger first;
    const std::vector<PublishedSample> samples = scans(0, 4);
    // Channel 103 never reaches the broker before the restart.
    std::vector<PublishedSample> without103;
    for (const PublishedSample &sample : samples) {
        if (sample.channel != 103)
            without103.push_back(sample);
    }
    openAndRead(first, without103);
    first.handedOver(7, without103.data(), without103.size(), false);
    first.acknowledge(7);
    QVERIFY(first.placeDue(0, true));
    QVERIFY(PlaceFile::write(path, first.place()));

    PublishPlace read;
    QVERIFY(PlaceFile::read(path, &read));
    QCOMPARE(read.recording, base - 5000);
    QVERIFY(!read.acknowledged.contains(103));
    DeliveryLedger second;
    second.open(read, channels, 0);
    QCOMPARE(second.recording(), base - 5000);
    QCOMPARE(second.sentUpTo(101), base + 300);
    QCOMPARE(second.sentUpTo(103), DeliveryLedger::nothing);
    QCOMPARE(second.backlog(), qint64(0));
    // Read again from the place: only what the broker had not confirmed is counted and sent.
    second.read(samples);
    QCOMPARE(second.backlog(), qint64(4));
    QCOMPARE(second.countedUpTo(103), base + 301);
    QVERIFY(!second.placeDue(100000, false));
}

void TestDeliveryLedger::lostLinkSendsInFlightAgainAndCountsOnce()
{
    DeliveryLedger ledger;
    const std::vector<PublishedSample> samples = scans(0, 4);
    openAndRead(ledger, std::vector<PublishedSample>(samples.begin(), samples.begin() + 6));
    ledger.handedOver(1, samples.data(), 3, false);
    ledger.handedOver(2, samples.data() + 3, 3, false);
    ledger.acknowledge(1);
    QCOMPARE(ledger.backlog(), qint64(3));
    QVERIFY(!ledger.moreToSend());

    // The broker goes away with the second message unconfirmed; meanwhile more is stored,
    // counted in the store without being read.
    ledger.resendFromPlace();
    QCOMPARE(ledger.inFlightCount(), size_t(0));
    QCOMPARE(ledger.sentUpTo(101), base);
    QVERIFY(ledger.moreToSend());
    ledger.countUnread(101, 2, base + 300);
    ledger.countUnread(102, 2, base + 300);
    ledger.countUnread(103, 2, base + 301);
    ledger.countUnread(999, 5, base + 300); // not a channel of the recording
    QCOMPARE(ledger.backlog(), qint64(9));
    // An acknowledgement of the lost session's message is not one of this session's.
    QVERIFY(!ledger.acknowledge(2));
    QCOMPARE(ledger.backlog(), qint64(9));

    // Back, the second message and what followed are read again: counted once.
    ledger.read(std::vector<PublishedSample>(samples.begin() + 3, samples.end()));
    QCOMPARE(ledger.backlog(), qint64(9));
    QCOMPARE(ledger.sentUpTo(103), base + 301);
    QVERIFY(!ledger.moreToSend());
    ledger.handedOver(3, samples.data() + 3, 9, false);
    QVERIFY(ledger.acknowledge(3));
    QCOMPARE(ledger.backlog(), qint64(0));
    QCOMPARE(ledger.place().acknowledged.value(103), base + 301);
}

void TestDeliveryLedger::readingStopsAtWhatTheStoreTold()
{
    DeliveryLedger ledger;
    openAndRead(ledger, {});
    // Before the store told anything (a recording resumed after a restart), no limit.
    QCOMPARE(ledger.readLimit(101), DeliveryLedger::openEnd);
    QVERIFY(!ledger.storedUpTo({{101, base}, {999, base}}, {{101, base}, {999, base}}));
    QCOMPARE(ledger.readLimit(101), base);
    QCOMPARE(ledger.readLimit(102), DeliveryLedger::openEnd);
    QCOMPARE(ledger.readLimit(999), DeliveryLedger::openEnd);
    QVERIFY(!ledger.storedUpTo({{101, base + 100}}, {{101, base + 100}}));
    QCOMPARE(ledger.readLimit(101), base + 100);
}

void TestDeliveryLedger::clockSetBackTakesThePlaceBack()
{
    DeliveryLedger ledger;
    const std::vector<PublishedSample> samples = scans(0, 10);
    PublishPlace fresh;
    fresh.recording = base;
    ledger.open(fresh, channels, 0);
    ledger.storedUpTo({{101, base + 900}, {102, base + 900}, {103, base + 901}},
                      {{101, base}, {102, base}, {103, base + 1}});
    ledger.read(samples);
    ledger.handedOver(1, samples.data(), 15, false);
    ledger.handedOver(2, samples.data() + 15, 15, false);
    QVERIFY(ledger.acknowledge(1));
    ledger.placeSaved(0);
    QCOMPARE(ledger.place().acknowledged.value(101), base + 400);

    // Samples stored after what was counted: no step back.
    QVERIFY(!ledger.storedUpTo({{101, base + 1000}}, {{101, base + 1000}}));
    QCOMPARE(ledger.inFlightCount(), size_t(1));

    // The wall clock goes back 650 ms: channel 101 stores at base + 350, inside what was
    // acknowledged, and 103 at base + 651, inside what is in flight.
    QVERIFY(ledger.storedUpTo({{101, base + 350}, {103, base + 651}},
                              {{101, base + 350}, {103, base + 651}}));
    PublishPlace place = ledger.place();
    QCOMPARE(place.acknowledged.value(101), base + 349);
    QCOMPARE(place.acknowledged.value(102), base + 400);
    QCOMPARE(place.acknowledged.value(103), base + 401);
    // Everything after the place is counted and sent again; the place goes to disk at once.
    QCOMPARE(ledger.inFlightCount(), size_t(0));
    QCOMPARE(ledger.backlog(), qint64(0));
    QCOMPARE(ledger.sentUpTo(101), base + 349);
    QCOMPARE(ledger.countedUpTo(103), base + 401);
    QVERIFY(ledger.placeDue(1, true));
    QCOMPARE(ledger.readLimit(101), base + 350);
    QCOMPARE(ledger.readLimit(103), base + 651);

    // Read again up to the limits: the repeated span and the new sample, counted once each.
    std::vector<PublishedSample> again;
    for (const PublishedSample &sample : samples) {
        if (sample.t > place.acknowledged.value(sample.channel) &&
            sample.t <= ledger.readLimit(sample.channel))
            again.push_back(sample);
    }
    again.push_back({base + 350, 101, -1.0});
    std::stable_sort(again.begin(), again.end(),
                     [](const PublishedSample &a, const PublishedSample &b) { return a.t < b.t; });
    ledger.read(again);
    QCOMPARE(ledger.backlog(), qint64(again.size()));
    QVERIFY(!ledger.moreToSend());
}

void TestDeliveryLedger::acknowledgementsFromBeforeTheStepDoNotMoveThePlace()
{
    DeliveryLedger ledger;
    const std::vector<PublishedSample> samples = scans(0, 4);
    PublishPlace fresh;
    fresh.recording = base;
    ledger.open(fresh, channels, 0);
    ledger.storedUpTo({{101, base + 300}}, {{101, base}});
    ledger.read(samples);
    ledger.handedOver(1, samples.data(), 6, false);
    ledger.handedOver(2, samples.data() + 6, 6, false);
    QVERIFY(ledger.acknowledge(1));
    QCOMPARE(ledger.place().acknowledged.value(101), base + 100);
    // The step back arrives while the second message is in flight; its acknowledgement comes
    // after and would carry the place past the sample stored at base + 50.
    QVERIFY(ledger.storedUpTo({{101, base + 50}}, {{101, base + 50}}));
    QVERIFY(!ledger.acknowledge(2));
    QCOMPARE(ledger.place().acknowledged.value(101), base + 49);
    QCOMPARE(ledger.place().acknowledged.value(103), base + 101);
    QCOMPARE(ledger.backlog(), qint64(0));
    QCOMPARE(ledger.sentUpTo(103), base + 101);
}

void TestDeliveryLedger::latestValueIsTheNewestByTime()
{
    DeliveryLedger ledger;
    openAndRead(ledger, scans(0, 5));
    QCOMPARE(ledger.newest().at(102).t, base + 400);
    QCOMPARE(ledger.newest().at(102).value, 4.25);
    // A span read again after the clock was set back, and an older value found counting.
    ledger.keepNewest({base + 100, 102, 7.0});
    ledger.resendFromPlace();
    ledger.read(scans(1, 2));
    QCOMPARE(ledger.newest().at(102).t, base + 400);
    QCOMPARE(ledger.newest().at(102).value, 4.25);
    ledger.keepNewest({base + 500, 102, 5.25});
    QCOMPARE(ledger.newest().at(102).value, 5.25);
    ledger.close();
    QVERIFY(ledger.newest().empty());
    QVERIFY(!ledger.isOpen());
    QCOMPARE(ledger.backlog(), qint64(0));
}

QTEST_GUILESS_MAIN(TestDeliveryLedger)
#include "tst_deliveryledger.moc"
