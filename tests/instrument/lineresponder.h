// Throw-away instrument stand-ins for tests: a loopback TCP listener or a pseudo-terminal that
// answers each received line through a callback, so tests do not depend on one peer only.
#pragma once

#include <QByteArray>
#include <QString>
#include <atomic>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class LineResponder
{
public:
    // Returns the bytes to send for one received line (without its line end); empty sends nothing.
    using Handler = std::function<QByteArray(const QByteArray &line)>;

    explicit LineResponder(Handler handler);
    ~LineResponder();

    bool listenTcp();          // loopback, ephemeral port
    bool openPseudoTerminal(); // serves on the master side of a new pseudo-terminal

    quint16 port() const { return tcpPort; }
    QString resourceName() const;
    // The slave side's terminal file descriptor (pseudo-terminal only), for reading its settings.
    int slaveFd() const { return slave; }
    QString devicePath() const { return slavePath; }
    std::vector<QByteArray> receivedLines() const;

private:
    void serveTcp();
    void serveStream(int fd);

    Handler handler;
    int listener = -1;
    int master = -1;
    int slave = -1;
    QString slavePath;
    quint16 tcpPort = 0;
    int wakePipe[2] = {-1, -1};
    std::thread worker;
    mutable std::mutex mutex;
    std::vector<QByteArray> lines;
};
