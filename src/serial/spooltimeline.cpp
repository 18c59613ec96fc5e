#include "serial/spooltimeline.h"

#include "serial/privatefile.h"
#include "serial/spoolfile.h"
#include "timeline/sidecars.h"

#include <QDir>
#include <QFileInfo>
#include <QHash>
#include <QtEndian>

#include <algorithm>
#include <cmath>

namespace {

// The times file: this, the start in ms since the epoch, then the points, 16 bytes each.
const QByteArray Magic("TVXTIME1");
constexpr qint64 HeaderBytes = 16;
constexpr qint64 PointBytes = 16;
// Far beyond what a capture's time record and events reach (well under 1 MB an hour).
constexpr qint64 MaxCompanionBytes = qint64(1) << 30;

// Only a plain file of ours is read back: a pipe would block the reading for good, and a link
// could name anything.
bool isCompanion(const QString &path)
{
    const QFileInfo info(path);
    return info.isFile() && !info.isSymLink() && info.size() <= MaxCompanionBytes;
}

void put(QByteArray *out, qint64 value)
{
    char bytes[8];
    qToLittleEndian<qint64>(value, bytes);
    out->append(bytes, 8);
}

qint64 take(const char *at)
{
    return qFromLittleEndian<qint64>(at);
}

bool writeAll(QFile *file, const QByteArray &bytes, QString *reason)
{
    for (qint64 done = 0; done < bytes.size();) {
        const qint64 n = file->write(bytes.constData() + done, bytes.size() - done);
        if (n <= 0) {
            *reason = QDir::toNativeSeparators(file->fileName()) + QStringLiteral(": ")
                + file->errorString();
            return false;
        }
        done += n;
    }
    return true;
}

bool openNew(QFile *file, const QString &path, QString *reason)
{
    file->setFileName(path);
    // A companion under this name belongs to no capture: the capture file's name was new.
    if (!file->open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Unbuffered)) {
        *reason = QDir::toNativeSeparators(path) + QStringLiteral(": ") + file->errorString();
        return false;
    }
    file->setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    return true;
}

QByteArray eventLine(const CaptureEvent &event)
{
    return QByteArray::number(event.id) + '\t' + CaptureEvent::typeName(event.type).toUtf8() + '\t'
        + QByteArray::number(event.number) + '\t' + QByteArray::number(event.offset) + '\t'
        + QByteArray::number(event.micros) + '\t' + QByteArray::number(event.durationMicros) + '\t'
        + Sidecars::escape(event.label).toUtf8() + '\n';
}

bool parseEvent(const QByteArray &line, CaptureEvent *event)
{
    static const QHash<QString, CaptureEvent::Type> types = [] {
        QHash<QString, CaptureEvent::Type> byName;
        for (int t = int(CaptureEvent::Type::Marker); t <= int(CaptureEvent::Type::PutBack); ++t)
            byName.insert(CaptureEvent::typeName(CaptureEvent::Type(t)), CaptureEvent::Type(t));
        return byName;
    }();
    const QList<QByteArray> cells = line.split('\t');
    if (cells.size() != 7 || !types.contains(QString::fromUtf8(cells.at(1))))
        return false;
    bool ok[5] = {};
    event->id = cells.at(0).toLongLong(&ok[0]);
    event->type = types.value(QString::fromUtf8(cells.at(1)));
    event->number = cells.at(2).toInt(&ok[1]);
    event->offset = cells.at(3).toLongLong(&ok[2]);
    event->micros = cells.at(4).toLongLong(&ok[3]);
    event->durationMicros = cells.at(5).toLongLong(&ok[4]);
    event->label = Sidecars::unescape(QString::fromUtf8(cells.at(6)));
    return std::all_of(std::begin(ok), std::end(ok), [](bool b) { return b; });
}

} // namespace

bool SpoolTimeline::open(const QString &capturePath, QString *reason)
{
    close();
    if (!openNew(&times, SpoolFile::timesPath(capturePath), reason)
        || !openNew(&events, SpoolFile::eventsPath(capturePath), reason)) {
        close();
        return false;
    }
    return true;
}

void SpoolTimeline::close()
{
    times.close();
    events.close();
    started = false;
    settledWritten = 0;
}

bool SpoolTimeline::write(const Delta &delta, QString *reason)
{
    if (!isOpen())
        return false;
    QByteArray points;
    if (!started) {
        points = Magic;
        put(&points, delta.startUtc.toMSecsSinceEpoch());
    }
    for (const TimePoint &point : delta.settled) {
        put(&points, point.offset);
        put(&points, point.micros);
    }
    if (delta.hasTail) {
        put(&points, delta.tail.offset);
        put(&points, delta.tail.micros);
    }
    // Over the latest point written last time, which was not settled then.
    if (!points.isEmpty()
        && (!times.seek(started ? HeaderBytes + settledWritten * PointBytes : 0)
            || !writeAll(&times, points, reason)))
        return false;
    started = true;
    settledWritten += delta.settled.size();
    QByteArray lines;
    for (const CaptureEvent &event : delta.events)
        lines += eventLine(event);
    return lines.isEmpty() || writeAll(&events, lines, reason);
}

bool SpoolTimeline::sync(QString *reason)
{
    return PrivateFile::sync(&times, reason) && PrivateFile::sync(&events, reason);
}

CaptureTimeline SpoolTimeline::load(const QString &capturePath, qint64 size)
{
    CaptureTimeline timeline;
    QFile timesFile(SpoolFile::timesPath(capturePath));
    if (isCompanion(timesFile.fileName()) && timesFile.open(QIODevice::ReadOnly)) {
        const QByteArray all = timesFile.readAll();
        if (all.size() >= HeaderBytes && all.startsWith(Magic)) {
            timeline.startUtc = QDateTime::fromMSecsSinceEpoch(take(all.constData() + 8), Qt::UTC);
            QVector<TimePoint> points;
            // A point cut short by a crash is left out; fromPoints drops any out of order.
            for (qint64 at = HeaderBytes; at + PointBytes <= all.size(); at += PointBytes) {
                const TimePoint point{take(all.constData() + at), take(all.constData() + at + 8)};
                if (point.offset <= size) {
                    points.append(point);
                    continue;
                }
                // Written ahead of bytes that a crash kept from the file: the capture's end
                // lies on the way to it.
                const TimePoint from = points.isEmpty() ? TimePoint{} : points.constLast();
                // In doubles: hours apart at 4 Mbaud, the product overflows 64 bits.
                if (size > from.offset && point.offset > from.offset)
                    points.append({size,
                                   from.micros
                                       + std::llround(double(point.micros - from.micros)
                                                      * (double(size - from.offset)
                                                         / double(point.offset - from.offset)))});
                break;
            }
            timeline.times = TimeRecord::fromPoints(points);
        }
    }
    QFile eventsFile(SpoolFile::eventsPath(capturePath));
    if (isCompanion(eventsFile.fileName()) && eventsFile.open(QIODevice::ReadOnly)) {
        const QList<QByteArray> lines = eventsFile.readAll().split('\n');
        // The last piece has no line end: empty, or a line a crash cut short.
        for (int i = 0; i + 1 < lines.size(); ++i) {
            CaptureEvent event;
            if (parseEvent(lines.at(i), &event) && event.offset <= size)
                timeline.put(event);
        }
    }
    return timeline;
}
