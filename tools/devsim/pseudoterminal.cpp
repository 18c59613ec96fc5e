#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <termios.h>
#include <unistd.h>
#if defined(__APPLE__)
#include <util.h>
#elif defined(__FreeBSD__)
#include <libutil.h>
#else
#include <pty.h>
#endif

namespace pty {

namespace {

std::string errnoText(const char *what)
{
    return std::string(what) + ": " + std::strerror(errno);
}

bool setFlags(int fd, bool nonBlocking)
{
    const int fdFlags = ::fcntl(fd, F_GETFD);
    if (fdFlags < 0 || ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) != 0)
        return false;
    if (!nonBlocking)
        return true;
    const int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0;
}

bool makeRaw(int fd)
{
    termios tio{};
    if (::tcgetattr(fd, &tio) != 0)
        return false;
    ::cfmakeraw(&tio);
    return ::tcsetattr(fd, TCSANOW, &tio) == 0;
}

} // namespace

bool openPair(int *master, int *slave, std::string *path, std::string *error)
{
    int m = -1;
    int s = -1;
    if (::openpty(&m, &s, nullptr, nullptr, nullptr) != 0) {
        *error = errnoText("cannot open a pseudo-terminal");
        return false;
    }
    char name[256];
    std::string problem;
    if (::ttyname_r(s, name, sizeof name) != 0)
        problem = errnoText("cannot name the pseudo-terminal");
    else if (!setFlags(m, true) || !setFlags(s, false) || !makeRaw(m) || !makeRaw(s))
        problem = errnoText("cannot set up the pseudo-terminal");
    if (!problem.empty()) {
        closeFd(&m);
        closeFd(&s);
        *error = problem;
        return false;
    }
    *master = m;
    *slave = s;
    *path = name;
    return true;
}

bool openWakePipe(int fds[2], std::string *error)
{
    int p[2] = {-1, -1};
    if (::pipe(p) != 0 || !setFlags(p[0], true) || !setFlags(p[1], true)) {
        *error = errnoText("cannot create the wake-up pipe");
        closeFd(&p[0]);
        closeFd(&p[1]);
        return false;
    }
    fds[0] = p[0];
    fds[1] = p[1];
    return true;
}

void wake(int writeFd)
{
    if (writeFd < 0)
        return;
    const char byte = 0;
    // A full pipe is awake already.
    [[maybe_unused]] const ssize_t ignored = ::write(writeFd, &byte, 1);
}

void drain(int readFd)
{
    char bytes[64];
    while (::read(readFd, bytes, sizeof bytes) > 0) { }
}

void closeFd(int *fd)
{
    if (*fd >= 0)
        ::close(*fd);
    *fd = -1;
}

} // namespace pty
