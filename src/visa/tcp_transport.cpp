#include "tcp_transport.h"

#include <QtGlobal>

#include <cerrno>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <pthread.h>
#include <sys/socket.h>
#include <unistd.h>

namespace visa {
namespace {

constexpr size_t kReadChunk = 65536;

// getaddrinfo cannot be bounded, so a name lookup runs on a detached thread and is abandoned
// when the session's timeout ends first; the thread frees the result when it finishes late.
struct NameLookup
{
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
    bool abandoned = false;
    int result = EAI_FAIL;
    addrinfo *addresses = nullptr;
    std::string host;
    std::string service;
};

void *runLookup(void *argument)
{
    auto *holder = static_cast<std::shared_ptr<NameLookup> *>(argument);
    std::shared_ptr<NameLookup> lookup = *holder;
    delete holder;
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICSERV;
    addrinfo *addresses = nullptr;
    const int result =
        getaddrinfo(lookup->host.c_str(), lookup->service.c_str(), &hints, &addresses);
    std::lock_guard<std::mutex> lock(lookup->mutex);
    if (lookup->abandoned) {
        if (addresses)
            freeaddrinfo(addresses);
    } else {
        lookup->result = result;
        lookup->addresses = addresses;
    }
    lookup->done = true;
    lookup->finished.notify_all();
    return nullptr;
}

ViStatus resolve(const std::string &host, uint16_t port, const Deadline &deadline,
                 addrinfo **addresses)
{
    const std::string service = std::to_string(port);
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    if (getaddrinfo(host.c_str(), service.c_str(), &hints, addresses) == 0)
        return VI_SUCCESS;

    auto lookup = std::make_shared<NameLookup>();
    lookup->host = host;
    lookup->service = service;
    auto *holder = new std::shared_ptr<NameLookup>(lookup);
    pthread_t thread;
    if (pthread_create(&thread, nullptr, runLookup, holder) != 0) {
        delete holder;
        qWarning("VISA 无法启动主机名解析线程: %s", host.c_str());
        return VI_ERROR_ALLOC;
    }
    pthread_detach(thread);

    std::unique_lock<std::mutex> lock(lookup->mutex);
    if (deadline.infinite()) {
        lookup->finished.wait(lock, [&] { return lookup->done; });
    } else {
        const auto wait = std::chrono::milliseconds(deadline.remainingMs());
        if (!lookup->finished.wait_for(lock, wait, [&] { return lookup->done; })) {
            lookup->abandoned = true;
            qDebug("VISA 主机名解析超时: %s", host.c_str());
            return VI_ERROR_TMO;
        }
    }
    if (lookup->result != 0) {
        qDebug("VISA 未知主机: %s (%s)", host.c_str(), gai_strerror(lookup->result));
        return VI_ERROR_RSRC_NFOUND;
    }
    *addresses = lookup->addresses;
    lookup->addresses = nullptr;
    return VI_SUCCESS;
}

ViStatus connectOne(const addrinfo *address, const Deadline &deadline, int cancelFd, int *fdOut,
                    int *error)
{
    const int fd = socket(address->ai_family, address->ai_socktype | SOCK_NONBLOCK | SOCK_CLOEXEC,
                          address->ai_protocol);
    if (fd < 0) {
        *error = errno;
        return VI_ERROR_RSRC_NFOUND;
    }
    if (connect(fd, address->ai_addr, address->ai_addrlen) != 0 && errno != EINPROGRESS) {
        *error = errno;
        close(fd);
        return VI_ERROR_RSRC_NFOUND;
    }
    const WaitResult wait = waitForFd(fd, POLLOUT, cancelFd, deadline);
    if (wait != WaitResult::Ready) {
        close(fd);
        *error = ETIMEDOUT;
        return wait == WaitResult::Timeout ? VI_ERROR_TMO : VI_ERROR_IO;
    }
    int soError = 0;
    socklen_t length = sizeof soError;
    if (getsockopt(fd, SOL_SOCKET, SO_ERROR, &soError, &length) != 0 || soError != 0) {
        *error = soError;
        close(fd);
        return VI_ERROR_RSRC_NFOUND;
    }
    *fdOut = fd;
    return VI_SUCCESS;
}

} // namespace

ViStatus TcpTransport::open(const std::string &host, uint16_t port, const Deadline &deadline,
                            int cancelFd, std::unique_ptr<Transport> *out)
{
    addrinfo *addresses = nullptr;
    ViStatus status = resolve(host, port, deadline, &addresses);
    if (status != VI_SUCCESS)
        return status;
    int fd = -1;
    int error = 0;
    status = VI_ERROR_RSRC_NFOUND;
    // Every address of the host is tried in turn (IPv6 and IPv4), all within the one deadline.
    for (const addrinfo *address = addresses; address; address = address->ai_next) {
        status = connectOne(address, deadline, cancelFd, &fd, &error);
        if (status == VI_SUCCESS || status == VI_ERROR_TMO)
            break;
    }
    freeaddrinfo(addresses);
    if (status != VI_SUCCESS) {
        qDebug("VISA 无法连接 %s 端口 %u: %s", host.c_str(), static_cast<unsigned>(port),
               std::strerror(error));
        return status;
    }
    const int one = 1;
    setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    out->reset(new TcpTransport(fd, cancelFd));
    return VI_SUCCESS;
}

TcpTransport::TcpTransport(int fd, int cancelFd)
    : fd_(fd)
    , cancelFd_(cancelFd)
{
}

TcpTransport::~TcpTransport()
{
    close(fd_);
}

ViStatus TcpTransport::write(const ViByte *data, size_t size, size_t *written,
                             const Deadline &deadline)
{
    *written = 0;
    if (lost_)
        return VI_ERROR_CONN_LOST;
    const ViStatus status = writeAllBounded(fd_, data, size, written, cancelFd_, deadline, true);
    if (status == VI_ERROR_CONN_LOST)
        lost_ = true;
    return status;
}

ViStatus TcpTransport::readSome(std::vector<ViByte> &buffer, const Deadline &deadline,
                                bool *messageEnd)
{
    *messageEnd = false;
    if (lost_)
        return VI_ERROR_CONN_LOST;
    const ViStatus status = readSomeBounded(fd_, buffer, kReadChunk, cancelFd_, deadline, true);
    // The peer closed the connection or reset it.
    if (status == VI_ERROR_CONN_LOST)
        lost_ = true;
    return status;
}

ViStatus TcpTransport::setTcpOption(ViAttr attribute, bool enabled)
{
    const int value = enabled ? 1 : 0;
    int result = -1;
    if (attribute == VI_ATTR_TCPIP_NODELAY)
        result = setsockopt(fd_, IPPROTO_TCP, TCP_NODELAY, &value, sizeof value);
    else if (attribute == VI_ATTR_TCPIP_KEEPALIVE)
        result = setsockopt(fd_, SOL_SOCKET, SO_KEEPALIVE, &value, sizeof value);
    else
        return VI_ERROR_NSUP_ATTR;
    return result == 0 ? VI_SUCCESS : VI_ERROR_NSUP_ATTR_STATE;
}

} // namespace visa
