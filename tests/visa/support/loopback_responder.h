// A throw-away instrument for the VISA tests: a TCP listener on a loopback address whose
// connections are served line by line by a handler written in the test.
#pragma once

#include <atomic>
#include <cstdint>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

// One accepted connection, handed to the handler for each line received.
class ResponderConnection
{
public:
    explicit ResponderConnection(int fd)
        : fd_(fd)
    {
    }
    // Sends the bytes in one write.
    void send(const std::string &bytes);
    // Sends the pieces as separate TCP segments with a pause between them.
    void sendInPieces(const std::vector<std::string> &pieces, int pauseMs);
    // Ends the connection from the instrument's side.
    void close();
    bool closed() const { return fd_ < 0; }

private:
    int fd_;
};

class LoopbackResponder
{
public:
    using Handler = std::function<void(const std::string &line, ResponderConnection &connection)>;

    // address: "127.0.0.1" or "::1".
    explicit LoopbackResponder(Handler handler, const std::string &address = "127.0.0.1");
    ~LoopbackResponder();

    bool start();
    uint16_t port() const { return port_; }
    // "TCPIP0::127.0.0.1::<port>::SOCKET" (the IPv6 address in brackets).
    std::string resourceName() const;
    // Every line received so far on any connection, without its line feed.
    std::vector<std::string> lines();
    int connectionCount() const { return connections_.load(); }

private:
    void acceptLoop();
    void serve(int fd);

    Handler handler_;
    std::string address_;
    int listenFd_ = -1;
    int wakeFds_[2] = {-1, -1};
    uint16_t port_ = 0;
    std::thread acceptThread_;
    std::mutex mutex_;
    std::vector<std::thread> workers_;
    std::vector<std::string> lines_;
    std::atomic<int> connections_{0};
    std::atomic<bool> stopping_{false};
};
