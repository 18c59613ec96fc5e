#ifndef WORKERTHREAD_H
#define WORKERTHREAD_H

#include <QThread>

// A thread for file work. A reader that closed its pipe, or a file that reached the system's
// size limit, fails the write with the system's reason instead of killing the whole program.
class WorkerThread : public QThread
{
    Q_OBJECT

public:
    explicit WorkerThread(QObject *parent = nullptr);

protected:
    void run() override;
};

#endif // WORKERTHREAD_H
