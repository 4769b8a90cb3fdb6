// The transcript file: one line per command received, reply sent or fault event, flushed at
// once so a test (or a person with tail -f) sees it while the simulator runs.
#pragma once

#include "simrole.h"

#include <QFile>
#include <QString>

class Transcript
{
public:
    // An empty path records nothing.
    bool open(const QString &path, QString *why);

    void received(SimRole role, const QByteArray &command) { write(role, "<-", command); }
    void sent(SimRole role, const QByteArray &reply) { write(role, "->", reply); }
    void event(SimRole role, const QByteArray &text) { write(role, "!!", text); }

    // Keeps a transcript line one printable line: control and non-ASCII bytes become \xHH,
    // and very long texts (overlong replies) are cut with their size noted.
    static QByteArray printable(const QByteArray &bytes);

private:
    void write(SimRole role, const char *arrow, const QByteArray &text);

    QFile file;
};
