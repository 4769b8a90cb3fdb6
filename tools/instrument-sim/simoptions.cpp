#include "simoptions.h"

#include <QRegularExpression>

namespace {

bool parsePort(const QString &text, bool allowZero, int *port)
{
    if (text == QLatin1String("auto")) {
        *port = SimOptions::kAutoPort;
        return true;
    }
    // Digits only: toInt would also take "+5" or " 5".
    static const QRegularExpression digits(QStringLiteral("^[0-9]{1,5}$"));
    if (!digits.match(text).hasMatch())
        return false;
    const int value = text.toInt();
    if (value > 65535 || (value == 0 && !allowZero))
        return false;
    *port = value;
    return true;
}

bool parseSlots(const QString &text, QVector<int> *slotList)
{
    QVector<int> result;
    for (const QString &field : text.split(QLatin1Char(','))) {
        static const QRegularExpression digits(QStringLiteral("^[0-9]{1,2}$"));
        const QString f = field.trimmed();
        if (!digits.match(f).hasMatch())
            return false;
        const int slot = f.toInt();
        if (slot < 1 || slot > 99 || result.contains(slot))
            return false;
        result.append(slot);
    }
    *slotList = result;
    return true;
}

// An identification field must not break the comma-separated "*IDN?" reply or the line.
bool validIdentityField(const QString &text)
{
    if (text.isEmpty() || text.size() > 64)
        return false;
    for (const QChar c : text) {
        if (c == QLatin1Char(',') || c == QLatin1Char(';') || c.unicode() < 0x20 ||
            c.unicode() > 0x7E)
            return false;
    }
    return true;
}

} // namespace

SimCommandLine parseSimOptions(const QStringList &args, SimOptions *options, QString *why)
{
    SimOptions o;
    for (int i = 0; i < args.size(); ++i) {
        QString name = args.at(i);
        QString value;
        bool hasInlineValue = false;
        if (name.startsWith(QLatin1String("--")) && name.contains(QLatin1Char('='))) {
            const int eq = name.indexOf(QLatin1Char('='));
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasInlineValue = true;
        }

        if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            if (hasInlineValue) {
                *why = QStringLiteral("--help takes no value");
                return SimCommandLine::Error;
            }
            return SimCommandLine::Help;
        }
        if (name == QLatin1String("--measure-pty") || name == QLatin1String("--switch-pty")) {
            if (hasInlineValue) {
                *why = QStringLiteral("%1 takes no value").arg(name);
                return SimCommandLine::Error;
            }
            (name == QLatin1String("--measure-pty") ? o.measurePty : o.switchPty) = true;
            continue;
        }

        static const QStringList withValue{
            QStringLiteral("--measure-port"),  QStringLiteral("--switch-port"),
            QStringLiteral("--model"),         QStringLiteral("--serial"),
            QStringLiteral("--version"),       QStringLiteral("--maker"),
            QStringLiteral("--measure-model"), QStringLiteral("--measure-serial"),
            QStringLiteral("--slots"),         QStringLiteral("--seed"),
            QStringLiteral("--transcript"),    QStringLiteral("--bind"),
            QStringLiteral("--control-port"),  QStringLiteral("--clock")};
        if (!withValue.contains(name)) {
            *why = QStringLiteral("unknown argument '%1'").arg(args.at(i));
            return SimCommandLine::Error;
        }
        if (!hasInlineValue) {
            if (i + 1 >= args.size()) {
                *why = QStringLiteral("%1 needs a value").arg(name);
                return SimCommandLine::Error;
            }
            value = args.at(++i);
        }

        auto bad = [&](const QString &expected) {
            *why = QStringLiteral("bad value '%1' for %2: expected %3").arg(value, name, expected);
            return SimCommandLine::Error;
        };
        if (name == QLatin1String("--measure-port")) {
            if (!parsePort(value, true, &o.measurePort))
                return bad(QStringLiteral("0..65535 or 'auto'"));
        } else if (name == QLatin1String("--switch-port")) {
            if (!parsePort(value, true, &o.switchPort))
                return bad(QStringLiteral("0..65535 or 'auto'"));
        } else if (name == QLatin1String("--control-port")) {
            if (!parsePort(value, false, &o.controlPort))
                return bad(QStringLiteral("1..65535 or 'auto'"));
        } else if (name == QLatin1String("--slots")) {
            if (!parseSlots(value, &o.fittedSlots))
                return bad(QStringLiteral("distinct slot numbers 1..99 separated by commas"));
        } else if (name == QLatin1String("--seed")) {
            static const QRegularExpression digits(QStringLiteral("^[0-9]{1,20}$"));
            bool ok = false;
            const quint64 seed = value.toULongLong(&ok);
            if (!ok || !digits.match(value).hasMatch())
                return bad(QStringLiteral("an unsigned 64-bit integer"));
            o.seed = seed;
        } else if (name == QLatin1String("--clock")) {
            if (value == QLatin1String("real"))
                o.frozenClock = false;
            else if (value == QLatin1String("frozen"))
                o.frozenClock = true;
            else
                return bad(QStringLiteral("'real' or 'frozen'"));
        } else if (name == QLatin1String("--bind")) {
            QHostAddress address;
            if (!address.setAddress(value))
                return bad(QStringLiteral("a numeric IPv4 or IPv6 address"));
            o.bind = address;
        } else if (name == QLatin1String("--transcript")) {
            if (value.isEmpty())
                return bad(QStringLiteral("a file name"));
            o.transcriptPath = value;
        } else {
            if (!validIdentityField(value))
                return bad(QStringLiteral("1 to 64 printable ASCII characters without ',' or ';'"));
            if (name == QLatin1String("--model"))
                o.model = value;
            else if (name == QLatin1String("--serial"))
                o.serial = value;
            else if (name == QLatin1String("--version"))
                o.version = value;
            else if (name == QLatin1String("--maker"))
                o.maker = value;
            else if (name == QLatin1String("--measure-model"))
                o.measureModel = value;
            else
                o.measureSerial = value;
        }
    }
    if (!o.servesMeasure() && !o.servesSwitch()) {
        *why = QStringLiteral("nothing to serve: both ports are 0 and no --*-pty flag is given");
        return SimCommandLine::Error;
    }
    *options = o;
    return SimCommandLine::Run;
}

QString simUsage()
{
    return QStringLiteral(
        "Usage: instrument-sim [options]\n"
        "\n"
        "Simulates the two instruments of the data logger in one process: a SCPI multimeter\n"
        "(the measuring instrument) and a switch main frame with 10-channel multiplexer\n"
        "modules. \"FETC?\" reads the channel last closed with \"ROUT:CLOS (@n)\":\n"
        "n + 0.25*sin(2*pi*t/60 + phase(seed, n)), t in seconds since start, so the rounded\n"
        "reading is always the channel number; near 0 when no channel is closed.\n"
        "\n"
        "On start it prints one line per served instrument, 'measure <VISA resource>' and\n"
        "'switch <VISA resource>', then 'ready', and runs until SIGTERM or Ctrl+C.\n"
        "\n"
        "Serving:\n"
        "  --measure-port N|auto   TCP port of the multimeter (default 5025; 0: not served,\n"
        "                          auto: a free port)\n"
        "  --switch-port N|auto    TCP port of the switch main frame (default 5026)\n"
        "  --measure-pty           serve the multimeter on a pseudo-terminal instead of TCP\n"
        "  --switch-pty            serve the switch main frame on a pseudo-terminal instead\n"
        "  --bind ADDR             address to listen on (default 127.0.0.1)\n"
        "\n"
        "Identity (\"*IDN?\" replies MAKER,MODEL,SERIAL,VERSION):\n"
        "  --maker TEXT            maker of both instruments (default DATALOGGER-SIM)\n"
        "  --model TEXT            switch main frame model (default VSK3307)\n"
        "  --serial TEXT           switch main frame serial number (default SIM0001)\n"
        "  --version TEXT          firmware version of both instruments (default 1.0)\n"
        "  --measure-model TEXT    multimeter model (default DMM-SIM)\n"
        "  --measure-serial TEXT   multimeter serial number (default DMM0001)\n"
        "  --slots LIST            fitted module slots, e.g. 1,3 (default 1,3); channel\n"
        "                          numbers are slot*100 + 1..10\n"
        "\n"
        "Signal:\n"
        "  --seed K                seed of the channel phases (default 1)\n"
        "  --clock real|frozen     frozen keeps t at 0 for exact, repeatable readings\n"
        "                          (default real)\n"
        "\n"
        "SCPI commands (one per line, LF or CR LF; keywords in short or long form, any case):\n"
        "  both:        *IDN?  *OPC?  *CLS  SYST:ERR?\n"
        "  multimeter:  FETC? (\"<value>,+0\")  APER MED  APER SLOW2\n"
        "  switch:      SYST:CTYP?  STAT:OPER:EVEN?  ROUT:CLOS (@n)  ROUT:OPEN (@n)\n"
        "               ROUT:OPEN:ALL\n"
        "  Anything else is not answered and queues an error for SYST:ERR?.\n"
        "\n"
        "Recording and faults:\n"
        "  --transcript FILE       write every command and reply to FILE:\n"
        "                          '<role> <- <command>', '<role> -> <reply>', '<role> !! "
        "<event>'\n"
        "  --control-port P|auto   also take control lines on 127.0.0.1:P (answered 'ok' or\n"
        "                          'error <why>'); with auto a line 'control <port>' is printed\n"
        "                          before 'ready'\n"
        "  -h, --help              show this text\n"
        "\n"
        "Control lines (on standard input, acknowledged on standard error, or the control port):\n"
        "  fault <measure|switch|all> <kind> [arg]   inject a fault; kinds:\n"
        "      silent          read commands, answer nothing\n"
        "      slow MS         delay each reply by MS milliseconds\n"
        "      badstatus       \"FETC?\" status field +1 instead of +0\n"
        "      drop            close the current connections now\n"
        "      refuse SECONDS  drop connections and refuse new ones for SECONDS\n"
        "      garbage         reply random printable non-SCPI bytes\n"
        "      nonutf8         reply invalid UTF-8 bytes\n"
        "      overlong N      reply N bytes\n"
        "      nolf            reply without the terminating line feed\n"
        "  clear <measure|switch|all>                remove every fault\n"
        "  status                                    print the state on standard error\n"
        "  On a pseudo-terminal, drop discards unsent replies and unread input, and refuse\n"
        "  ignores commands for SECONDS.\n"
        "\n"
        "Example: instrument-sim --switch-pty --transcript sim.log\n"
        "\n"
        "Exit codes: 0 after SIGTERM/SIGINT or --help, 1 when serving could not start,\n"
        "2 for bad arguments.\n");
}
