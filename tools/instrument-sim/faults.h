// Faults injected into a running simulated instrument, the control lines that set them, and
// how an active fault reshapes a reply.
#pragma once

#include <QByteArray>
#include <QRandomGenerator>
#include <QString>

// Faults that last until cleared. drop and refuse are one-off actions of the endpoint.
struct FaultSet
{
    enum class Body
    {
        Normal,
        Garbage,
        NonUtf8,
        Overlong
    };

    bool silent = false;
    int slowMs = 0;
    bool badStatus = false;
    Body body = Body::Normal; // the last of garbage, nonutf8 and overlong wins
    qint64 overlongBytes = 0;
    bool noLf = false;

    bool isEmpty() const
    {
        return !silent && slowMs == 0 && !badStatus && body == Body::Normal && !noLf;
    }
    QByteArray describe() const;
};

struct ControlCommand
{
    enum class Action
    {
        Fault,
        Clear,
        Status
    };

    Action action = Action::Status;
    QByteArray target;  // measure, switch or all
    QByteArray kind;    // fault kind, e.g. slow
    qint64 number = 0;  // slow: ms, overlong: bytes
    double seconds = 0; // refuse
};

constexpr qint64 kMaxOverlongBytes = 64 * 1024 * 1024;

// Parses "fault <measure|switch|all> <kind> [arg]", "clear <target>" or "status".
bool parseControlLine(const QByteArray &line, ControlCommand *command, QString *why);

// Sets a lasting fault (not drop or refuse) from a parsed command.
void applyFault(FaultSet *faults, const ControlCommand &command);

// The bytes to send for a reply under the faults, line feed included unless nolf.
QByteArray shapeReply(const QByteArray &reply, const FaultSet &faults, QRandomGenerator *random);
