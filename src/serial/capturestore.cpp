#include "serial/capturestore.h"

#include "serial/leftovers.h"
#include "serial/spoolfile.h"
#include "serial/workerthread.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

#include <algorithm>

namespace {

// More than this waiting in memory is handed to the writer at once.
constexpr int FlushBytes = 1 << 20;

} // namespace

CaptureStore::CaptureStore(const QString &folder, QObject *parent)
    : QObject(parent)
    , folderPath(folder)
    , thread(new WorkerThread(this))
    , writer(new SpoolWriter)
    , current(SpoolFile::create(folder, 1))
{
    writer->moveToThread(thread);
    connect(writer, &SpoolWriter::written, this, &CaptureStore::written);
    connect(writer, &SpoolWriter::failed, this, &CaptureStore::failed);
    thread->setObjectName(QStringLiteral("capture writer"));
    thread->start();
    flushTimer.setSingleShot(true);
    flushTimer.setInterval(FlushIntervalMs);
    connect(&flushTimer, &QTimer::timeout, this, &CaptureStore::flush);
    steady.start();
    kept.startUtc = QDateTime::currentDateTimeUtc();
}

CaptureStore::~CaptureStore()
{
    SpoolWriter *const to = writer;
    QMetaObject::invokeMethod(
        writer, [to] { to->stop(); }, Qt::BlockingQueuedConnection);
    thread->quit();
    thread->wait();
    // The thread is gone, so nothing else touches the writer; its file goes with it.
    delete writer;
}

QString CaptureStore::defaultFolder()
{
#ifdef Q_OS_WIN
    // %LOCALAPPDATA%\tarvex-terminal\capture: local, as a capture can be large and must not roam
    // with the profile; not the cache folder that Qt shares among its programs there, nor %TEMP%,
    // which Windows empties by itself.
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation);
    const QString name = QStringLiteral("/tarvex-terminal/capture");
#else
    QString base = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    const QString name = QStringLiteral("/tarvex-terminal");
#endif
    if (base.isEmpty())
        base = QDir::tempPath();
    return base + name;
}

void CaptureStore::append(const QByteArray &bytes)
{
    if (bytes.isEmpty())
        return;
    const qint64 now = steadyMicros();
    if (starting) {
        appendSinceStart(bytes);
        since.times.add(TimePoint{sinceStartBytes, now - sinceStartMicros});
    }
    // Before the bytes: a flush they bring about hands over their time with them.
    kept.times.add(TimePoint{total + bytes.size(), now - startMicros});
    appendBytes(bytes);
}

void CaptureStore::appendSinceStart(const QByteArray &bytes)
{
    // A block that a snapshot shares is left as it is: growing it would copy it whole, on the
    // event loop, however long the start has waited.
    if (sinceStart.isEmpty() || sinceStart.constLast().size() >= FlushBytes
        || !sinceStart.constLast().isDetached())
        sinceStart.append(bytes);
    else
        sinceStart.last() += bytes;
    sinceStartBytes += bytes.size();
}

void CaptureStore::appendBytes(const QByteArray &bytes)
{
    pending += bytes;
    total += bytes.size();
    if (pending.size() >= FlushBytes)
        flush();
    else
        scheduleFlush();
}

void CaptureStore::scheduleFlush()
{
    if (!flushTimer.isActive())
        flushTimer.start();
}

void CaptureStore::flush()
{
    flushTimer.stop();
    if (pending.isEmpty() && unhanded.isEmpty())
        return;
    const QByteArray block = pending;
    pending = QByteArray();
    if (!block.isEmpty())
        unconfirmed.append(block);
    SpoolTimeline::Delta delta;
    delta.events = unhanded;
    unhanded.clear();
    if (diskFailed)
        return;
    delta.startUtc = kept.startUtc;
    const QVector<TimePoint> &settled = kept.times.settled();
    delta.settled = settled.mid(settledHanded);
    settledHanded = settled.size();
    delta.hasTail = kept.times.tail(&delta.tail);
    SpoolWriter *const to = writer;
    const QSharedPointer<SpoolFile> file = current;
    QMetaObject::invokeMethod(
        writer, [to, file, block, delta] { to->write(file, block, delta); }, Qt::QueuedConnection);
}

void CaptureStore::beginStart()
{
    starting = true;
    sinceStart.clear();
    sinceStartBytes = 0;
    since = CaptureTimeline();
    since.startUtc = QDateTime::currentDateTimeUtc();
    sinceStartMicros = steadyMicros();
    emit eventsReset();
}

void CaptureStore::confirmStart()
{
    if (!starting)
        return;
    const QList<QByteArray> blocks = sinceStart;
    const CaptureTimeline next = since;
    const qint64 nextStart = sinceStartMicros;
    reset();
    // What arrived since the press, with its times and events as they were placed.
    kept = next;
    startMicros = nextStart;
    unhanded = kept.events;
    for (const QByteArray &block : blocks) {
        // Handed over as they are: joined, they would be copied on the event loop.
        if (!pending.isEmpty())
            flush();
        appendBytes(block);
    }
    scheduleFlush();
    emit eventsReset();
}

void CaptureStore::putBack()
{
    const bool was = starting;
    starting = false;
    sinceStart.clear();
    sinceStartBytes = 0;
    since = CaptureTimeline();
    // The events placed meanwhile are in kept too, at their offsets in the whole capture.
    if (was)
        emit eventsReset();
}

void CaptureStore::clear()
{
    reset();
    emit eventsReset();
}

void CaptureStore::reset()
{
    starting = false;
    sinceStart.clear();
    sinceStartBytes = 0;
    since = CaptureTimeline();
    flushTimer.stop();
    pending = QByteArray();
    unconfirmed.clear();
    onDisk = 0;
    total = 0;
    diskFailed = false;
    kept = CaptureTimeline();
    kept.startUtc = QDateTime::currentDateTimeUtc();
    startMicros = steadyMicros();
    // A new file rather than emptying the old one: a save may still be reading it.
    startFile();
}

CaptureEvent CaptureStore::record(CaptureEvent::Type type, const QString &label, int number,
                                  qint64 durationMicros)
{
    return recordAt(type, size(), elapsedMicros(), label, number, durationMicros);
}

CaptureEvent CaptureStore::recordAt(CaptureEvent::Type type, qint64 offset, qint64 micros,
                                    const QString &label, int number, qint64 durationMicros)
{
    CaptureEvent event;
    event.id = nextEventId++;
    event.type = type;
    event.number = number;
    event.label = label;
    event.offset = offset;
    event.micros = micros;
    event.durationMicros = durationMicros;
    CaptureEvent whole = event;
    if (starting) {
        since.put(event);
        whole = CaptureTimeline::shifted(event, total - sinceStartBytes,
                                         sinceStartMicros - startMicros);
    }
    kept.put(whole);
    unhanded.append(whole);
    scheduleFlush();
    emit eventRecorded(event);
    return event;
}

bool CaptureStore::relabel(qint64 id, const QString &label)
{
    bool found = false;
    for (CaptureTimeline *timeline : {&kept, &since}) {
        for (CaptureEvent &event : timeline->events) {
            if (event.id != id)
                continue;
            event.label = label;
            found = true;
            if (timeline == &kept) {
                unhanded.append(event);
                scheduleFlush();
            }
            // Told only of the events the capture seems to hold.
            if (timeline == &view())
                emit eventRecorded(event);
        }
    }
    return found;
}

bool CaptureStore::holds(qint64 id) const
{
    const auto has = [id](const CaptureTimeline &timeline) {
        return std::any_of(timeline.events.begin(), timeline.events.end(),
                           [id](const CaptureEvent &event) { return event.id == id; });
    };
    return has(kept) || has(since);
}

qint64 CaptureStore::sizeInMemory() const
{
    if (!diskFailed)
        return 0;
    return starting ? sinceStartBytes : total - onDisk;
}

CaptureSnapshot CaptureStore::snapshot() const
{
    CaptureSnapshot taken;
    if (starting) {
        taken = CaptureSnapshot(sinceStart);
    } else {
        QList<QByteArray> memory = unconfirmed;
        if (!pending.isEmpty())
            memory.append(pending);
        taken = CaptureSnapshot(current, onDisk, memory);
    }
    taken.setTimeline(view());
    return taken;
}

QString CaptureStore::filePath() const
{
    return current->path();
}

bool CaptureStore::isOwnFile(const QString &path) const
{
    const QString own = QFileInfo(filePath()).canonicalFilePath();
    return (!own.isEmpty() && QFileInfo(path).canonicalFilePath() == own)
        || Leftovers::isCaptureFile(folderPath, path);
}

void CaptureStore::setSyncInterval(int ms)
{
    SpoolWriter *const to = writer;
    QMetaObject::invokeMethod(
        writer, [to, ms] { to->setSyncInterval(ms); }, Qt::BlockingQueuedConnection);
}

void CaptureStore::setWriterProbe(const WriterProbe &probe)
{
    SpoolWriter *const to = writer;
    QMetaObject::invokeMethod(
        writer, [to, probe] { to->setProbe(probe); }, Qt::BlockingQueuedConnection);
}

void CaptureStore::written(quint64 generation, qint64 confirmedSize)
{
    if (generation == current->generation)
        dropConfirmed(confirmedSize);
}

void CaptureStore::failed(quint64 generation, qint64 confirmedSize, const QString &reason,
                          bool contentLost)
{
    if (generation != current->generation || diskFailed)
        return;
    dropConfirmed(confirmedSize);
    diskFailed = true;
    if (!contentLost || onDisk == 0) {
        emit storageFailed(reason);
        return;
    }
    // What the file held is gone: a save must neither read it nor count it.
    const qint64 lost = onDisk;
    total -= lost;
    kept.dropFront(lost);
    onDisk = 0;
    startFile();
    emit storageFailed(reason + '\n'
                       + tr("The first %1 bytes of the capture were in it and are lost.")
                             .arg(QLocale().toString(lost)));
}

void CaptureStore::dropConfirmed(qint64 confirmedSize)
{
    while (!unconfirmed.isEmpty() && onDisk + unconfirmed.first().size() <= confirmedSize) {
        onDisk += unconfirmed.first().size();
        unconfirmed.removeFirst();
    }
    // A write that failed part-way kept the front of its block.
    if (confirmedSize > onDisk && !unconfirmed.isEmpty()) {
        unconfirmed.first().remove(0, int(confirmedSize - onDisk));
        onDisk = confirmedSize;
    }
}

void CaptureStore::startFile()
{
    // The new file's companions get the whole timeline.
    settledHanded = 0;
    unhanded = kept.events;
    current = SpoolFile::create(folderPath, current->generation + 1);
    SpoolWriter *const to = writer;
    const QSharedPointer<SpoolFile> file = current;
    QMetaObject::invokeMethod(
        writer, [to, file] { to->use(file); }, Qt::QueuedConnection);
}
