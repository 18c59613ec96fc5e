#include "serial/capturesaver.h"

#include "serial/workerthread.h"

struct CaptureSaver::Job
{
    QString fileName;
    CaptureSnapshot capture;
    CaptureFile::SaveControl control;
};

CaptureSaver::CaptureSaver(QObject *parent)
    : QObject(parent)
    , thread(new WorkerThread(this))
    , worker(new QObject)
{
    worker->moveToThread(thread);
    thread->setObjectName(QStringLiteral("capture saver"));
    thread->start();
}

CaptureSaver::~CaptureSaver()
{
    cancelAll();
    thread->quit();
    thread->wait();
    delete worker;
}

void CaptureSaver::save(const QString &fileName, const CaptureSnapshot &capture)
{
    const auto job = QSharedPointer<Job>::create();
    job->fileName = fileName;
    job->capture = capture;
    if (jobs.isEmpty())
        frontStarted.start();
    jobs.append(job);
    // Saves queue up on the one thread, so a second never writes over the first.
    QMetaObject::invokeMethod(
        worker,
        [this, job] {
            const CaptureFile::SaveOutcome outcome
                = CaptureFile::save(job->fileName, job->capture, &job->control);
            QMetaObject::invokeMethod(
                this, [this, job, outcome] { jobDone(job, outcome); }, Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
}

void CaptureSaver::cancel()
{
    if (!jobs.isEmpty())
        jobs.first()->control.cancelled = true;
}

void CaptureSaver::cancelAll()
{
    for (const QSharedPointer<Job> &job : qAsConst(jobs))
        job->control.cancelled = true;
}

QString CaptureSaver::fileName() const
{
    return jobs.isEmpty() ? QString() : jobs.first()->fileName;
}

qint64 CaptureSaver::written() const
{
    return jobs.isEmpty() ? 0 : jobs.first()->control.written.load();
}

qint64 CaptureSaver::toWrite() const
{
    return jobs.isEmpty() ? 0 : jobs.first()->capture.size();
}

qint64 CaptureSaver::elapsedMs() const
{
    return jobs.isEmpty() ? 0 : frontStarted.elapsed();
}

void CaptureSaver::jobDone(const QSharedPointer<Job> &job, const CaptureFile::SaveOutcome &outcome)
{
    jobs.removeOne(job);
    frontStarted.start();
    emit finished(job->fileName, outcome);
    if (jobs.isEmpty())
        emit allDone();
}
