#ifndef CAPTURESAVER_H
#define CAPTURESAVER_H

#include "serial/capturefile.h"
#include "serial/capturestore.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QSharedPointer>

class WorkerThread;

// Saves captures on a thread of its own, one after another, so that the window keeps reading
// and answering however long the disk or a pipe's reader takes.
class CaptureSaver : public QObject
{
    Q_OBJECT

public:
    explicit CaptureSaver(QObject *parent = nullptr);
    // Cancels what is still to be saved and waits for the save that runs to stop.
    ~CaptureSaver() override;

    // Runs once the saves asked for earlier are done.
    void save(const QString &fileName, const CaptureSnapshot &capture);
    bool isBusy() const { return !jobs.isEmpty(); }
    // Stops the save that runs now: a plain file keeps its old content.
    void cancel();
    // Stops the save that runs now and drops those that wait.
    void cancelAll();

    // Of the save that runs now.
    QString fileName() const;
    qint64 written() const;
    qint64 toWrite() const;
    qint64 elapsedMs() const;

signals:
    void finished(const QString &fileName, const CaptureFile::SaveOutcome &outcome);
    // Nothing left to save.
    void allDone();

private:
    struct Job;
    void jobDone(const QSharedPointer<Job> &job, const CaptureFile::SaveOutcome &outcome);

    WorkerThread *thread = nullptr;
    QObject *worker = nullptr;
    // The first runs now; the others wait for it.
    QList<QSharedPointer<Job>> jobs;
    QElapsedTimer frontStarted;
};

#endif // CAPTURESAVER_H
