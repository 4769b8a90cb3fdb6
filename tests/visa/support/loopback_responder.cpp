#include "loopback_responder.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>

void ResponderConnection::send(const std::string &bytes)
{
    size_t sent = 0;
    while (fd_ >= 0 && sent < bytes.size()) {
        const ssize_t n = ::send(fd_, bytes.data() + sent, bytes.size() - sent, MSG_NOSIGNAL);
        if (n <= 0)
            return;
        sent += static_cast<size_t>(n);
    }
}

void ResponderConnection::sendInPieces(const std::vector<std::string> &pieces, int pauseMs)
{
    for (size_t i = 0; i < pieces.size(); ++i) {
        if (i > 0)
            std::this_thread::sleep_for(std::chrono::milliseconds(pauseMs));
        send(pieces[i]);
    }
}

void ResponderConnection::close()
{
    if (fd_ >= 0)
        ::shutdown(fd_, SHUT_RDWR);
    fd_ = -1;
}

LoopbackResponder::LoopbackResponder(Handler handler, const std::string &address)
    : handler_(std::move(handler))
    , address_(address)
{
}

LoopbackResponder::~LoopbackResponder()
{
    stopping_ = true;
    if (wakeFds_[1] >= 0) {
        const char byte = 0;
        (void)::write(wakeFds_[1], &byte, 1);
    }
    if (acceptThread_.joinable())
        acceptThread_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> lock(mutex_);
        workers.swap(workers_);
    }
    for (std::thread &worker : workers)
        worker.join();
    for (int fd : {listenFd_, wakeFds_[0], wakeFds_[1]}) {
        if (fd >= 0)
            ::close(fd);
    }
}

bool LoopbackResponder::start()
{
    const bool v6 = address_.find(':') != std::string::npos;
    listenFd_ = socket(v6 ? AF_INET6 : AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listenFd_ < 0 || pipe(wakeFds_) != 0)
        return false;
    const int one = 1;
    setsockopt(listenFd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_storage storage{};
    socklen_t length = 0;
    if (v6) {
        auto *addr = reinterpret_cast<sockaddr_in6 *>(&storage);
        addr->sin6_family = AF_INET6;
        if (inet_pton(AF_INET6, address_.c_str(), &addr->sin6_addr) != 1)
            return false;
        length = sizeof *addr;
    } else {
        auto *addr = reinterpret_cast<sockaddr_in *>(&storage);
        addr->sin_family = AF_INET;
        if (inet_pton(AF_INET, address_.c_str(), &addr->sin_addr) != 1)
            return false;
        length = sizeof *addr;
    }
    if (bind(listenFd_, reinterpret_cast<sockaddr *>(&storage), length) != 0 ||
        listen(listenFd_, 8) != 0)
        return false;
    length = sizeof storage;
    getsockname(listenFd_, reinterpret_cast<sockaddr *>(&storage), &length);
    port_ = ntohs(v6 ? reinterpret_cast<sockaddr_in6 *>(&storage)->sin6_port
                     : reinterpret_cast<sockaddr_in *>(&storage)->sin_port);
    acceptThread_ = std::thread(&LoopbackResponder::acceptLoop, this);
    return true;
}

std::string LoopbackResponder::resourceName() const
{
    const bool v6 = address_.find(':') != std::string::npos;
    const std::string host = v6 ? "[" + address_ + "]" : address_;
    return "TCPIP0::" + host + "::" + std::to_string(port_) + "::SOCKET";
}

std::vector<std::string> LoopbackResponder::lines()
{
    std::lock_guard<std::mutex> lock(mutex_);
    return lines_;
}

void LoopbackResponder::acceptLoop()
{
    while (!stopping_) {
        pollfd fds[2] = {{listenFd_, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) <= 0 || fds[1].revents)
            return;
        const int fd = accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0)
            continue;
        ++connections_;
        std::lock_guard<std::mutex> lock(mutex_);
        workers_.emplace_back(&LoopbackResponder::serve, this, fd);
    }
}

void LoopbackResponder::serve(int fd)
{
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    ResponderConnection connection(fd);
    std::string received;
    char buffer[4096];
    while (!stopping_ && !connection.closed()) {
        pollfd fds[2] = {{fd, POLLIN, 0}, {wakeFds_[0], POLLIN, 0}};
        if (poll(fds, 2, -1) <= 0 || fds[1].revents)
            break;
        const ssize_t n = ::recv(fd, buffer, sizeof buffer, 0);
        if (n <= 0)
            break;
        received.append(buffer, static_cast<size_t>(n));
        size_t end;
        while (!connection.closed() && (end = received.find('\n')) != std::string::npos) {
            std::string line = received.substr(0, end);
            received.erase(0, end + 1);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            {
                std::lock_guard<std::mutex> lock(mutex_);
                lines_.push_back(line);
            }
            handler_(line, connection);
        }
    }
    ::close(fd);
}
