#ifndef EXPORTWRITER_H
#define EXPORTWRITER_H

#include "export/samplereader.h"
#include "timeline/captureevent.h"

#include <QString>
#include <QStringList>
#include <QVector>

// One format of export: takes the samples in order and replaces its file only once complete.
// Destroyed before finish(), it leaves the file as it was.
class ExportWriter
{
public:
    virtual ~ExportWriter() = default;

    virtual bool open(QString *reason) = 0;
    // A sample with the markers and events that belong to it; false with *reason on failure.
    virtual bool add(const SampleReader::Sample &sample,
                     const QVector<const CaptureEvent *> &events, QString *reason)
        = 0;
    virtual bool finish(QString *reason) = 0;
    // What the user should know of how the values were written, for the report.
    virtual QStringList notes() const { return {}; }
};

#endif // EXPORTWRITER_H
