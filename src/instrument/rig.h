// The instruments of one logger: the measuring instrument's and the switch main frame's
// sessions, their resources, the frame's identity, and what the logger says to each as named
// operations. The only place that spells SCPI. Created by main (or a test) and handed on.
#pragma once

#include <QList>
#include <QString>
#include <QStringList>

#include "frameidentity.h"
#include "identifyquery.h"

#include <memory>
#include <mutex>

class CDeviceVisa;

class Rig
{
public:
    // The identification query; also the marker a session re-synchronises with.
    static constexpr const char *IdentifyQuery = Scpi::IdentifyQuery;
    // The frame's resource until the search has found one.
    static const QString DefaultSwitchResource;

    enum class Speed
    {
        Fast,
        Slow
    };

    explicit Rig(const QString &measureResource = QString(),
                 const QString &switchResource = DefaultSwitchResource);
    ~Rig();
    Rig(const Rig &) = delete;
    Rig &operator=(const Rig &) = delete;

    QString measureResource() const;
    void setMeasureResource(const QString &resource);
    QString switchResource() const;

    // The measuring instrument
    // Opens the session, clears its status and asks for its identity; true when it answers.
    bool linkMeasure();
    // Drops the session, or opens it again after a pause, for the reconnect cycle.
    void dropMeasure();
    void reopenMeasure();
    // True when it answers the identification query.
    bool measureIdentifies();
    QString fetchReading();
    // True when the last failed exchange lost the connection (rather than timed out).
    bool measureConnectionLost() const;
    void setSpeed(Speed speed);

    // The switch main frame
    // Supported frames found by the resource search, in discovery order.
    QStringList findSwitchMainFrames() const;
    // Opens the frame at resource and keeps its identity; true when it identified itself.
    bool linkSwitch(const QString &resource);
    // Not known before a frame identified itself.
    FrameIdentity identity() const;
    void setIdentity(const FrameIdentity &identity);
    // The frame's answer listing its fitted module slots.
    QString moduleSlots();
    void closeChannel(int channel);
    // True when the frame answers its status query.
    bool switchAnswers();
    void dropSwitch();
    void reopenSwitch();

    CDeviceVisa &measureSession() { return *measure; }
    CDeviceVisa &switchSession() { return *frame; }

private:
    // The resources and the identity are written on the GUI thread and read by the scan
    // thread's reconnect cycle.
    mutable std::mutex textMutex;
    QString measureResourceText;
    QString switchResourceText;
    FrameIdentity frameIdentity;
    std::unique_ptr<CDeviceVisa> measure;
    std::unique_ptr<CDeviceVisa> frame;
};
