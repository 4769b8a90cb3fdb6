// The SCPI command set of one simulated instrument: turns one received line into an optional
// reply, keeps the instrument's error queue, and closes relays on the shared rig.
#pragma once

#include "rigstate.h"
#include "simrole.h"

#include <QByteArray>
#include <QList>

struct ScpiIdentity
{
    QByteArray maker;
    QByteArray model;
    QByteArray serial;
    QByteArray version;
};

struct ScpiOutcome
{
    bool hasReply = false;
    QByteArray reply; // without line feed
    QByteArray error; // the error queued by this command, e.g. -113,"Undefined header"
};

class ScpiResponder
{
public:
    ScpiResponder(SimRole role, const ScpiIdentity &identity, RigState *rig);

    // badStatus: a reading is reported with the status field "+1".
    ScpiOutcome execute(const QByteArray &line, bool badStatus);

    // True when the header (e.g. "stat:oper:even?") matches a pattern in SCPI notation:
    // upper-case letters are the short form, [brackets] mark an optional node.
    static bool headerMatches(const QByteArray &header, const char *pattern);

    int queuedErrors() const { return errors.size(); }

private:
    ScpiOutcome executeMeasure(const QByteArray &header, const QByteArray &params, bool badStatus);
    ScpiOutcome executeSwitch(const QByteArray &header, const QByteArray &params);
    ScpiOutcome fail(const QByteArray &error);
    static bool parseChannel(const QByteArray &params, int *channel);

    SimRole role;
    ScpiIdentity identity;
    RigState *rig;
    QList<QByteArray> errors;
};
