#include "export/captureexporter.h"

#include "serial/workerthread.h"

struct CaptureExporter::Job
{
    QString fileName;
    CaptureExport::Format format = CaptureExport::Format::Csv;
    double nominalRate = 0;
    ExportPlan::Input input;
    CaptureExport::Control control;
};

CaptureExporter::CaptureExporter(QObject *parent)
    : QObject(parent)
    , thread(new WorkerThread(this))
    , worker(new QObject)
{
    worker->moveToThread(thread);
    thread->setObjectName(QStringLiteral("capture exporter"));
    thread->start();
}

CaptureExporter::~CaptureExporter()
{
    cancel();
    thread->quit();
    thread->wait();
    delete worker;
}

bool CaptureExporter::start(const QString &fileName, CaptureExport::Format format,
                            double nominalRate, const ExportPlan::Input &input)
{
    if (job)
        return false;
    job = QSharedPointer<Job>::create();
    job->fileName = fileName;
    job->format = format;
    job->nominalRate = nominalRate;
    job->input = input;
    clock.start();
    const QSharedPointer<Job> running = job;
    QMetaObject::invokeMethod(
        worker,
        [this, running] {
            const CaptureExport::Outcome outcome
                = CaptureExport::run(running->fileName, running->format, running->nominalRate,
                                     running->input, &running->control);
            QMetaObject::invokeMethod(
                this,
                [this, running, outcome] {
                    if (job == running)
                        job.reset();
                    emit finished(running->fileName, outcome);
                },
                Qt::QueuedConnection);
        },
        Qt::QueuedConnection);
    emit started();
    return true;
}

void CaptureExporter::cancel()
{
    if (job)
        job->control.cancelled = true;
}

QString CaptureExporter::fileName() const
{
    return job ? job->fileName : QString();
}

double CaptureExporter::progress() const
{
    if (!job)
        return 0;
    const qint64 total = 2 * job->input.capture.size();
    return total > 0 ? double(job->control.done.load()) / double(total) : 0;
}
