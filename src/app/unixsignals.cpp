#include "app/unixsignals.h"

#include <QWidget>

#ifdef Q_OS_UNIX

#include <QSocketNotifier>

#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <iterator>
#include <sys/socket.h>
#include <unistd.h>

namespace {

const int TerminationSignals[] = {SIGTERM, SIGINT, SIGHUP};

// The handler only writes a byte into this pair; the event loop reads it from the other end.
int signalPair[2] = {-1, -1};
// What the signals did before, for when the last window is gone.
struct sigaction previousActions[std::size(TerminationSignals)];
int windowsAnswering = 0;

void onSignal(int /*signal*/)
{
    const int savedErrno = errno;
    const char byte = 1;
    const ssize_t written = ::write(signalPair[0], &byte, 1);
    Q_UNUSED(written)
    errno = savedErrno;
}

void answerSignals()
{
    if (windowsAnswering++ > 0)
        return;
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < std::size(TerminationSignals); ++i)
        sigaction(TerminationSignals[i], &action, &previousActions[i]);
}

void restoreSignals()
{
    if (--windowsAnswering > 0)
        return;
    for (std::size_t i = 0; i < std::size(TerminationSignals); ++i)
        sigaction(TerminationSignals[i], &previousActions[i], nullptr);
}

} // namespace

void quitOnTerminationSignals(QWidget *window)
{
    if (signalPair[0] < 0) {
        if (::socketpair(AF_UNIX, SOCK_STREAM, 0, signalPair) != 0)
            return;
        for (const int fd : signalPair) {
            ::fcntl(fd, F_SETFD, FD_CLOEXEC);
            // A flood of signals must not block the handler once the pair is full.
            ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) | O_NONBLOCK);
        }
    }
    auto *notifier = new QSocketNotifier(signalPair[1], QSocketNotifier::Read, window);
    QObject::connect(notifier, &QSocketNotifier::activated, window, [window] {
        char bytes[64];
        ssize_t received = 0;
        for (ssize_t n = 0; (n = ::read(signalPair[1], bytes, sizeof bytes)) > 0;)
            received += n;
        // Each signal is a Quit: a second one ends a wait for a save, as a second Quit does.
        for (ssize_t i = 0; i < qMin<ssize_t>(received, 2); ++i)
            window->close();
    });
    // Once the window is gone nothing would answer: a signal does what it did before.
    QObject::connect(notifier, &QObject::destroyed, &restoreSignals);
    answerSignals();
}

#else

void quitOnTerminationSignals(QWidget *window)
{
    Q_UNUSED(window)
}

#endif
