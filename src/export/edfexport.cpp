#include "export/edfexport.h"

#include "serial/privatefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryFile>

#include <edflib.h>

#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>

#ifdef Q_OS_WIN
#include <qt_windows.h>
#endif

namespace {

// EDF+ asks that a data record hold at most 61,440 bytes.
constexpr int MaxRecordBytes = 61440;
// Gaps beyond these many are counted in one last annotation.
constexpr std::int64_t MaxGapNotes = 1000;
// What EDFlib keeps of an annotation's text.
constexpr int MaxAnnotationBytes = 40;

// The text in UTF-8, cut at a character's start so that no half character is left.
QByteArray utf8Within(const QString &text, int bytes)
{
    QByteArray utf8 = text.toUtf8();
    if (utf8.size() <= bytes)
        return utf8;
    int end = bytes;
    while (end > 0 && (uchar(utf8[end]) & 0xC0) == 0x80)
        --end;
    utf8.truncate(end);
    return utf8;
}

QString numberText(double value)
{
    return QString::number(value, 'g', 10);
}

// Replaces target with source, also where target exists.
bool replaceFile(const QString &source, const QString &target, QString *reason)
{
#ifdef Q_OS_WIN
    if (MoveFileExW(reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(source).utf16()),
                    reinterpret_cast<const wchar_t *>(QDir::toNativeSeparators(target).utf16()),
                    MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    *reason = qt_error_string(int(GetLastError()));
    return false;
#else
    if (std::rename(QFile::encodeName(source).constData(), QFile::encodeName(target).constData())
        == 0)
        return true;
    *reason = qt_error_string(errno);
    return false;
#endif
}

} // namespace

EdfExport::EdfExport(const QString &fileName, Kind kind, const ExportPlan &plan,
                     const QDateTime &startedUtc)
    : target(fileName)
    , kind(kind)
    , plan(plan)
    , start(startedUtc.isValid() ? startedUtc : QDateTime::currentDateTimeUtc())
{
    digitalMin = kind == Kind::Edf ? -32768 : -8388608;
    digitalMax = kind == Kind::Edf ? 32767 : 8388607;
}

EdfExport::~EdfExport()
{
    discard();
}

void EdfExport::discard()
{
    if (handle >= 0) {
        edfclose_file(handle);
        handle = -1;
    }
    if (!temporary.isEmpty()) {
        QFile::remove(temporary);
        temporary.clear();
    }
}

double EdfExport::rate() const
{
    return double(perRecord) * 1e5 / double(duration);
}

bool EdfExport::headerNumber(double value, bool up, double *result)
{
    for (int decimals = 7; decimals >= 0; --decimals) {
        const double scale = std::pow(10.0, decimals);
        const double rounded = (up ? std::ceil(value * scale) : std::floor(value * scale)) / scale;
        const QString text = QString::number(rounded, 'f', decimals);
        if (text.size() <= 8) {
            *result = text.toDouble();
            return true;
        }
    }
    return false;
}

bool EdfExport::open(QString *reason)
{
    const QFileInfo info(target);
    if (info.exists() && !info.isFile()) {
        *reason = tr("%1 is not a plain file").arg(QDir::toNativeSeparators(target));
        return false;
    }
    // Renaming over a link would replace the link, not the file it names.
    if (info.isSymLink())
        target = info.canonicalFilePath();
    const int channels = plan.channels.size();
    const int bytesPerSample = kind == Kind::Edf ? 2 : 3;
    const double r = 1.0 / plan.period;
    if (r >= 1) {
        // Records of about a second, as readers expect.
        const int fit = MaxRecordBytes / (channels * bytesPerSample);
        perRecord = int(std::min<long long>(std::llround(r), fit));
        perRecord = std::max(1, perRecord);
        duration = int(std::llround(perRecord / r * 1e5));
        if (duration < 100) {
            duration = 100;
            perRecord = std::max(1, int(std::llround(r / 1000)));
        }
    } else {
        perRecord = 1;
        if (1 / r > 60) {
            *reason = tr("EDF holds no rate below one sample a minute");
            return false;
        }
        duration = int(std::llround(1e5 / r));
    }

    for (const ExportPlan::Channel &channel : plan.channels) {
        Signal s;
        s.record.resize(std::size_t(perRecord));
        // The lowest digital value is the fill: a sample at it would read as no value.
        s.lossless = channel.integers && channel.min > digitalMin && channel.max <= digitalMax;
        if (s.lossless) {
            s.physicalMin = digitalMin;
            s.physicalMax = digitalMax;
            s.step = 1;
        } else {
            // The lowest digital value is kept for the fill, below every value of the data.
            const double levels = double(digitalMax) - double(digitalMin);
            double low = channel.min;
            double high = channel.max;
            if (high <= low) {
                low -= 1;
                high += 1;
            }
            bool ok = headerNumber(high, true, &s.physicalMax);
            double step = (high - low) / (levels - 1);
            ok = ok && headerNumber(low - step, false, &s.physicalMin);
            for (int i = 0; ok && i < 3; ++i) {
                step = (s.physicalMax - s.physicalMin) / levels;
                if (channel.min - s.physicalMin >= step)
                    break;
                ok = headerNumber(s.physicalMin - step, false, &s.physicalMin);
            }
            if (!ok) {
                *reason = tr("The values of %1 (%2 to %3) are beyond what EDF's header can say; "
                             "export them as CSV.")
                              .arg(channel.name, numberText(channel.min), numberText(channel.max));
                return false;
            }
            s.step = (s.physicalMax - s.physicalMin) / levels;
            said << tr("%1 scaled to %2 bits, step %3")
                        .arg(channel.name)
                        .arg(kind == Kind::Edf ? 16 : 24)
                        .arg(numberText(s.step));
        }
        channelSignals.push_back(std::move(s));
    }

    {
        QTemporaryFile reserve(info.absolutePath() + '/' + info.fileName()
                               + QStringLiteral(".XXXXXX.part"));
        reserve.setAutoRemove(false);
        if (!reserve.open()) {
            *reason = reserve.errorString();
            return false;
        }
        temporary = reserve.fileName();
    }
    handle = edfopen_file_writeonly(
        QFile::encodeName(temporary).constData(),
        kind == Kind::Edf ? EDFLIB_FILETYPE_EDFPLUS : EDFLIB_FILETYPE_BDFPLUS, channels);
    if (handle < 0) {
        *reason = tr("EDFlib could not open %1 (error %2)")
                      .arg(QDir::toNativeSeparators(temporary))
                      .arg(handle);
        handle = -1;
        return false;
    }

    // Sample 0 opens the file; its start is the capture's, to 100 µs.
    const qint64 startTicks
        = start.toMSecsSinceEpoch() * 10 + std::llround(plan.firstSeconds * 1e4);
    const qint64 wholeSeconds = startTicks >= 0 ? startTicks / 10000 : (startTicks - 9999) / 10000;
    const QDateTime first = QDateTime::fromSecsSinceEpoch(wholeSeconds, Qt::UTC);
    const int subsecond = int(startTicks - wholeSeconds * 10000) * 1000;

    const std::int64_t pauses = plan.segments.size() - 1;
    std::int64_t annotations = plan.events + pauses + 2;
    for (const ExportPlan::Channel &channel : plan.channels)
        annotations += channel.gaps;
    annotations = std::min(annotations, std::int64_t(plan.events) + pauses + MaxGapNotes + 2);
    const std::int64_t records = (plan.gridLength() + perRecord - 1) / perRecord;
    const int annotationSignals
        = int(std::clamp<std::int64_t>((annotations + records - 1) / records + 1, 1, 64));
    // EDFlib keeps what fits into the records' annotation signals and drops the rest unsaid:
    // markers and events must all fit, the notes of gaps as many as do.
    const std::int64_t capacity = records * annotationSignals;
    const std::int64_t needed = std::int64_t(plan.events) + pauses + 2;
    if (needed > capacity) {
        *reason = tr("EDF+ holds %1 annotations in a capture of this length, and this one has %2 "
                     "markers and events; export it as CSV.")
                      .arg(capacity)
                      .arg(plan.events);
        return false;
    }
    gapNoteLimit = std::min(MaxGapNotes, capacity - needed);

    bool ok = edf_set_datarecord_duration(handle, duration) == 0
        && edf_set_startdatetime(handle, first.date().year(), first.date().month(),
                                 first.date().day(), first.time().hour(), first.time().minute(),
                                 first.time().second())
            == 0
        && edf_set_subsecond_starttime(handle, subsecond) == 0
        && edf_set_number_of_annotation_signals(handle, annotationSignals) == 0
        && edf_set_equipment(handle, "Tarvex Terminal") == 0;
    for (int c = 0; ok && c < channels; ++c) {
        const Signal &s = channelSignals[std::size_t(c)];
        ok = edf_set_samplefrequency(handle, c, perRecord) == 0
            && edf_set_physical_maximum(handle, c, s.physicalMax) == 0
            && edf_set_physical_minimum(handle, c, s.physicalMin) == 0
            && edf_set_digital_maximum(handle, c, digitalMax) == 0
            && edf_set_digital_minimum(handle, c, digitalMin) == 0
            && edf_set_label(handle, c, plan.channels[c].name.left(16).toLatin1().constData()) == 0;
    }
    if (!ok) {
        *reason = first.date().year() < 1985 || first.date().year() > 2084
            ? tr("EDF holds no start before 1985 or after 2084")
            : tr("EDFlib refused the file's settings");
        return false;
    }
    return true;
}

int EdfExport::digital(const Signal &signal, double value) const
{
    if (signal.lossless)
        return int(value);
    const double d = double(digitalMin) + std::round((value - signal.physicalMin) / signal.step);
    return int(std::clamp(d, double(digitalMin) + 1, double(digitalMax)));
}

bool EdfExport::annotate(std::int64_t sample, std::int64_t length, const QString &text,
                         QString *reason)
{
    // In EDFlib's units of 100 µs, at the rate the file states (a record lasts duration × 10 µs).
    const auto ticks = [this](std::int64_t samples) {
        return (samples * duration + 5 * std::int64_t(perRecord)) / (10 * std::int64_t(perRecord));
    };
    if (edfwrite_annotation_utf8(handle, ticks(sample), length > 0 ? ticks(length) : -1,
                                 utf8Within(text, MaxAnnotationBytes).constData())
        != 0) {
        *reason = tr("EDFlib refused an annotation");
        return false;
    }
    return true;
}

void EdfExport::closeGap(int channel, std::int64_t end, QString *reason)
{
    Signal &s = channelSignals[std::size_t(channel)];
    if (s.gapStart < 0)
        return;
    if (gapNotes++ < gapNoteLimit) {
        const double fill = s.lossless ? digitalMin : s.physicalMin;
        if (!annotate(s.gapStart, end - s.gapStart,
                      tr("%1: no value, filled with %2")
                          .arg(plan.channels[channel].name, numberText(fill)),
                      reason))
            failedAnnotation = true;
    }
    s.gapStart = -1;
}

bool EdfExport::add(const SampleReader::Sample &sample, const QVector<const CaptureEvent *> &events,
                    QString *reason)
{
    // EDF+ holds a steady grid only: a pause in the capture is filled, and said so.
    const std::int64_t slot = sample.index + plan.segmentOf(sample.index, &segment).shift;
    if (slot > written) {
        if (!annotate(written, slot - written,
                      tr("pause: %1 samples of fill follow").arg(slot - written), reason))
            return false;
        pauseFill += slot - written;
        ++pauseCount;
        while (written < slot) {
            for (Signal &s : channelSignals)
                s.record[std::size_t(filled)] = digitalMin;
            ++written;
            if (++filled == perRecord && !writeRecord(reason))
                return false;
        }
    }
    for (const CaptureEvent *event : events) {
        const std::int64_t length = event->durationMicros > 0
            ? std::int64_t(std::llround(double(event->durationMicros) / 1e6 * rate()))
            : 0;
        if (!annotate(slot, length, ExportPlan::eventText(*event), reason))
            return false;
    }
    for (std::size_t c = 0; c < channelSignals.size(); ++c) {
        Signal &s = channelSignals[c];
        if (sample.present & (1u << c)) {
            closeGap(int(c), slot, reason);
            s.record[std::size_t(filled)] = digital(s, sample.values[c]);
        } else {
            if (s.gapStart < 0)
                s.gapStart = slot;
            s.record[std::size_t(filled)] = digitalMin;
        }
    }
    if (failedAnnotation)
        return false;
    ++written;
    return ++filled < perRecord || writeRecord(reason);
}

bool EdfExport::writeRecord(QString *reason)
{
    for (Signal &s : channelSignals) {
        if (edfwrite_digital_samples(handle, s.record.data()) != 0) {
            *reason = tr("Could not write %1").arg(QDir::toNativeSeparators(temporary));
            return false;
        }
    }
    filled = 0;
    return true;
}

bool EdfExport::finish(QString *reason)
{
    for (std::size_t c = 0; c < channelSignals.size(); ++c)
        closeGap(int(c), written, reason);
    if (pauseCount == 1)
        said << tr("a pause in the capture filled with %1 samples of the lowest value")
                    .arg(pauseFill);
    else if (pauseCount > 1)
        said << tr("%1 pauses in the capture filled with %2 samples of the lowest value")
                    .arg(pauseCount)
                    .arg(pauseFill);
    if (gapNotes > gapNoteLimit
        && !annotate(0, 0, tr("%1 more gaps are not annotated").arg(gapNotes - gapNoteLimit),
                     reason))
        return false;
    if (failedAnnotation)
        return false;
    if (filled > 0) {
        // EDF holds whole records: the last one is filled up, and says so.
        const int padding = perRecord - filled;
        if (!annotate(written, padding, tr("end of data: %1 samples of fill follow").arg(padding),
                      reason))
            return false;
        for (Signal &s : channelSignals)
            std::fill(s.record.begin() + filled, s.record.end(), digitalMin);
        said << tr("the last record is filled up with %1 samples of the lowest value").arg(padding);
        if (!writeRecord(reason))
            return false;
    }
    const int closed = edfclose_file(handle);
    handle = -1;
    if (closed != 0) {
        *reason = tr("Could not write %1").arg(QDir::toNativeSeparators(temporary));
        return false;
    }
    // On the disk before it takes the name: a power cut leaves the old file or the whole new one.
    QFile complete(temporary);
    if (!complete.open(QIODevice::ReadWrite) || !PrivateFile::sync(&complete, reason)) {
        if (reason->isEmpty())
            *reason = complete.errorString();
        return false;
    }
    complete.close();
    if (!replaceFile(temporary, target, reason))
        return false;
    temporary.clear();
    return true;
}
