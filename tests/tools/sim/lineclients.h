// Plain clients for the simulator's instruments, with nothing of the VISA layer in between:
// a TCP line client and a pseudo-terminal (serial) line client.
#pragma once

#include <QByteArray>
#include <QString>
#include <QTcpSocket>

class TcpLineClient
{
public:
    bool connectTo(quint16 port, int timeoutMs = 3000);
    void disconnect();
    bool isConnected() const;

    // Sends the bytes as they are (no line feed added).
    bool send(const QByteArray &bytes);
    // Sends command + LF and returns the reply line without its LF; null on timeout.
    QByteArray query(const QByteArray &command, int timeoutMs = 3000);
    // One line without its LF, or null after timeoutMs.
    QByteArray readLine(int timeoutMs = 3000);
    // Everything that arrives within ms.
    QByteArray readFor(int ms);
    // True when the simulator closes the connection within timeoutMs.
    bool waitClosed(int timeoutMs);

    QTcpSocket socket;
};

class PtyLineClient
{
public:
    ~PtyLineClient();
    // Opens the device as a serial port in raw mode, as a VISA serial session does.
    bool open(const QString &device);
    void close();

    bool send(const QByteArray &bytes);
    QByteArray query(const QByteArray &command, int timeoutMs = 3000);
    QByteArray readLine(int timeoutMs = 3000);
    QByteArray readFor(int ms);

private:
    int fd = -1;
    QByteArray pending;
};
