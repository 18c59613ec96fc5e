#ifndef CSVEXPORT_H
#define CSVEXPORT_H

#include "export/exportplan.h"
#include "export/exportwriter.h"

#include <QSaveFile>

#include <string>

// The samples as CSV (RFC 4180, '.' decimal point): time_s, one column per channel, marker.
class CsvExport : public ExportWriter
{
public:
    CsvExport(const QString &fileName, const ExportPlan &plan);

    bool open(QString *reason) override;
    bool add(const SampleReader::Sample &sample, const QVector<const CaptureEvent *> &events,
             QString *reason) override;
    bool finish(QString *reason) override;

    // A field as RFC 4180 wants it: quoted when it holds a comma, a quote or a line end.
    static std::string field(const QString &text);

private:
    bool flush(QString *reason);

    QSaveFile file;
    const ExportPlan &plan;
    std::string buffer;
    int segment = 0; // of the sample written last
};

#endif // CSVEXPORT_H
