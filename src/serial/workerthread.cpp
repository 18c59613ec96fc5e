#include "serial/workerthread.h"

#ifdef Q_OS_UNIX
#include <csignal>
#include <pthread.h>
#endif

WorkerThread::WorkerThread(QObject *parent)
    : QThread(parent)
{ }

void WorkerThread::run()
{
#ifdef Q_OS_UNIX
    // Both signals are sent to the thread whose write caused them; blocked here, they stay
    // pending on this thread alone and the write returns EPIPE or EFBIG.
    sigset_t fileSignals;
    sigemptyset(&fileSignals);
    sigaddset(&fileSignals, SIGPIPE);
    sigaddset(&fileSignals, SIGXFSZ);
    pthread_sigmask(SIG_BLOCK, &fileSignals, nullptr);
#endif
    exec();
}
