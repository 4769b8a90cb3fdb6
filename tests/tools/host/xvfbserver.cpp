#include "xvfbserver.h"

#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

XvfbServer::~XvfbServer()
{
    stop();
}

bool XvfbServer::start(const char *screen)
{
    // Xvfb writes the number of the display it opened to this pipe (-displayfd): no guessing
    // of free numbers, no race with other tests starting servers at the same time.
    int fds[2];
    if (::pipe(fds) != 0) {
        error = QStringLiteral("pipe: %1").arg(QString::fromLocal8Bit(std::strerror(errno)));
        return false;
    }
    // Only the write end goes to Xvfb; the server is started before any other thread exists.
    ::fcntl(fds[0], F_SETFD, FD_CLOEXEC);
    const QByteArray fdText = QByteArray::number(fds[1]);
    const char *argv[] = {"Xvfb",      "-displayfd", fdText.constData(), "-screen", "0", screen,
                          "-nolisten", "tcp",        "-noreset",         nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
    const int rc =
        ::posix_spawnp(&pid, "Xvfb", &actions, nullptr, const_cast<char **>(argv), environ);
    posix_spawn_file_actions_destroy(&actions);
    ::close(fds[1]);
    if (rc != 0) {
        ::close(fds[0]);
        pid = -1;
        error =
            QStringLiteral("cannot run Xvfb: %1").arg(QString::fromLocal8Bit(std::strerror(rc)));
        return false;
    }

    QByteArray number;
    timespec start{};
    ::clock_gettime(CLOCK_MONOTONIC, &start);
    for (;;) {
        timespec now{};
        ::clock_gettime(CLOCK_MONOTONIC, &now);
        const long elapsedMs =
            (now.tv_sec - start.tv_sec) * 1000 + (now.tv_nsec - start.tv_nsec) / 1000000;
        if (elapsedMs > 10000 || number.endsWith('\n'))
            break;
        pollfd pfd{fds[0], POLLIN, 0};
        if (::poll(&pfd, 1, int(10000 - elapsedMs)) <= 0)
            continue;
        char buffer[32];
        const ssize_t got = ::read(fds[0], buffer, sizeof buffer);
        if (got <= 0)
            break;
        number.append(buffer, int(got));
    }
    ::close(fds[0]);
    number = number.trimmed();
    if (number.isEmpty()) {
        error = QStringLiteral("Xvfb did not report a display");
        stop();
        return false;
    }
    displayName = ':' + number;
    return true;
}

void XvfbServer::stop()
{
    if (pid <= 0)
        return;
    ::kill(pid, SIGTERM);
    int status = 0;
    for (int i = 0; i < 50; ++i) {
        if (::waitpid(pid, &status, WNOHANG) == pid) {
            pid = -1;
            return;
        }
        ::usleep(100 * 1000);
    }
    ::kill(pid, SIGKILL);
    ::waitpid(pid, &status, 0);
    pid = -1;
}
