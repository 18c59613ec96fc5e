#include "export/captureexport.h"

#include "export/csvexport.h"
#include "export/edfexport.h"

#include <QLocale>

#include <algorithm>
#include <memory>

namespace {

// The texts of an export.
class ExportTexts
{
    Q_DECLARE_TR_FUNCTIONS(CaptureExport)
};

} // namespace

namespace CaptureExport {

Format formatOf(const QString &fileName)
{
    if (fileName.endsWith(QStringLiteral(".edf"), Qt::CaseInsensitive))
        return Format::Edf;
    if (fileName.endsWith(QStringLiteral(".bdf"), Qt::CaseInsensitive))
        return Format::Bdf;
    return Format::Csv;
}

Outcome run(const QString &fileName, Format format, double nominalRate,
            const ExportPlan::Input &input, Control *control)
{
    Control unwatched;
    if (!control)
        control = &unwatched;
    ExportPlan plan;
    QString reason;
    if (!plan.survey(input, nominalRate, &control->done, &control->cancelled, &reason))
        return plan.stopped ? Outcome{Result::Cancelled, {}, {}}
                            : Outcome{Result::Failed, reason, {}};

    std::unique_ptr<ExportWriter> writer;
    EdfExport *edf = nullptr;
    if (format == Format::Csv) {
        writer = std::make_unique<CsvExport>(fileName, plan);
    } else {
        edf = new EdfExport(fileName,
                            format == Format::Edf ? EdfExport::Kind::Edf : EdfExport::Kind::Bdf,
                            plan, input.startedUtc);
        writer.reset(edf);
    }
    if (!writer->open(&reason))
        return {Result::Failed, reason, {}};

    // Each event belongs to the sample whose line was arriving when it happened; those after
    // the last line, to the last sample.
    QVector<CaptureEvent> events = input.events;
    std::stable_sort(
        events.begin(), events.end(),
        [](const CaptureEvent &a, const CaptureEvent &b) { return a.offset < b.offset; });
    int nextEvent = 0;
    QVector<const CaptureEvent *> here;
    bool writeFailed = false;
    SampleReader reader;
    reader.setCuts(ExportPlan::cuts(input.events));
    const bool read = reader.read(
        input.capture,
        [&](const SampleReader::Sample &sample) {
            here.clear();
            const bool last = sample.index == plan.samples - 1;
            while (nextEvent < events.size()
                   && (last || events[nextEvent].offset < sample.endOffset))
                here.append(&events[nextEvent++]);
            if (!writer->add(sample, here, &reason)) {
                writeFailed = true;
                return false;
            }
            return true;
        },
        &control->done, &control->cancelled, &reason);
    if (!read || writeFailed)
        return {Result::Failed, reason, {}};
    if (reader.wasCancelled())
        return {Result::Cancelled, {}, {}};
    if (reader.samples() != plan.samples)
        return {Result::Failed, ExportTexts::tr("The capture changed while it was exported."), {}};
    if (!writer->finish(&reason))
        return {Result::Failed, reason, {}};

    const QLocale locale;
    const double rate = edf ? edf->rate() : 1.0 / plan.period;
    QString report
        = ExportTexts::tr("%1 samples, %2 channels, %3 lines skipped, %4 samples/s %5")
              .arg(locale.toString(qlonglong(plan.samples)))
              .arg(plan.channels.size())
              .arg(locale.toString(qlonglong(plan.skippedLines)))
              .arg(locale.toString(rate, 'f', rate < 10 ? 4 : 3))
              .arg(plan.measured ? ExportTexts::tr("(measured)") : ExportTexts::tr("(as typed)"));
    QStringList notes = writer->notes();
    if (reader.overflowed())
        notes.prepend(ExportTexts::tr("more than %1 channels: only the first %1 exported")
                          .arg(ChannelMap::maxChannels));
    if (!notes.isEmpty())
        report += "; " + notes.join(QStringLiteral("; "));
    return {Result::Exported, {}, report};
}

} // namespace CaptureExport
