#ifndef CAPTUREEXPORTER_H
#define CAPTUREEXPORTER_H

#include "export/captureexport.h"

#include <QElapsedTimer>
#include <QObject>
#include <QSharedPointer>

class WorkerThread;

// Runs exports on a thread of its own, one at a time, so that the window keeps reading the line
// however long the capture is.
class CaptureExporter : public QObject
{
    Q_OBJECT

public:
    explicit CaptureExporter(QObject *parent = nullptr);
    // Cancels a running export and waits for it to stop: its file stays as it was.
    ~CaptureExporter() override;

    // False while another export runs.
    bool start(const QString &fileName, CaptureExport::Format format, double nominalRate,
               const ExportPlan::Input &input);
    bool isBusy() const { return job != nullptr; }
    void cancel();

    // Of the export that runs: its file, and how far it got, from 0 to 1.
    QString fileName() const;
    double progress() const;
    qint64 elapsedMs() const { return job ? clock.elapsed() : 0; }

signals:
    void started();
    void finished(const QString &fileName, const CaptureExport::Outcome &outcome);

private:
    struct Job;

    WorkerThread *thread = nullptr;
    QObject *worker = nullptr;
    QSharedPointer<Job> job;
    QElapsedTimer clock;
};

#endif // CAPTUREEXPORTER_H
