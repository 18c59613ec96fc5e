#ifndef EDFEXPORT_H
#define EDFEXPORT_H

#include "export/exportplan.h"
#include "export/exportwriter.h"

#include <QCoreApplication>
#include <QDateTime>
#include <QString>

#include <cstdint>
#include <vector>

// The samples as EDF+ or BDF+, written by EDFlib: one signal per channel, the markers and events
// as annotations. Integers that fit the format's samples are kept as they are, other values
// scaled to their range. Written under a temporary name, renamed once complete.
class EdfExport : public ExportWriter
{
    Q_DECLARE_TR_FUNCTIONS(EdfExport)

public:
    enum class Kind { Edf, Bdf };

    EdfExport(const QString &fileName, Kind kind, const ExportPlan &plan,
              const QDateTime &startedUtc);
    ~EdfExport() override;

    bool open(QString *reason) override;
    bool add(const SampleReader::Sample &sample, const QVector<const CaptureEvent *> &events,
             QString *reason) override;
    bool finish(QString *reason) override;
    QStringList notes() const override { return said; }

    // The rate the file states: samples per record over the record's duration.
    double rate() const;
    // The largest value with at most 8 characters of text no greater (or, up, no less) than
    // value, as EDF's header holds them; false when none is near enough.
    static bool headerNumber(double value, bool up, double *result);

private:
    struct Signal
    {
        bool lossless = false;
        double physicalMin = 0;
        double physicalMax = 0;
        double step = 1;
        std::vector<int> record;
        std::int64_t gapStart = -1; // the first sample of the gap the channel is in
    };

    int digital(const Signal &signal, double value) const;
    // onset and length in samples.
    bool annotate(std::int64_t sample, std::int64_t length, const QString &text, QString *reason);
    bool writeRecord(QString *reason);
    void closeGap(int channel, std::int64_t end, QString *reason);
    void discard();

    QString target;
    QString temporary;
    Kind kind;
    const ExportPlan &plan;
    QDateTime start;
    int handle = -1;
    int digitalMin = 0;
    int digitalMax = 0;
    // Samples per record and the record's length in units of 10 µs.
    int perRecord = 1;
    int duration = 100000;
    int filled = 0; // of the record being made
    std::int64_t written = 0; // samples of the grid, pauses' fill included
    int segment = 0; // of the sample written last
    std::int64_t pauseCount = 0;
    std::int64_t pauseFill = 0;
    std::int64_t gapNotes = 0;
    std::int64_t gapNoteLimit = 0;
    std::vector<Signal> channelSignals;
    QStringList said;
    bool failedAnnotation = false;
};

#endif // EDFEXPORT_H
