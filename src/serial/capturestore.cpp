#include "serial/capturestore.h"

#include "serial/spoolfile.h"
#include "serial/workerthread.h"

#include <QDir>
#include <QFileInfo>
#include <QLocale>
#include <QStandardPaths>

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
    startUtc = QDateTime::currentDateTimeUtc();
    sinceStartClock.start();
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
    if (starting)
        sinceStart += bytes;
    pending += bytes;
    total += bytes.size();
    timeRecord.append(TimePoint{size(), elapsedMicros()});
    if (pending.size() >= FlushBytes)
        flush();
    else if (!flushTimer.isActive())
        flushTimer.start();
}

void CaptureStore::flush()
{
    flushTimer.stop();
    if (pending.isEmpty())
        return;
    const QByteArray block = pending;
    pending = QByteArray();
    unconfirmed.append(block);
    if (diskFailed)
        return;
    SpoolWriter *const to = writer;
    const QSharedPointer<SpoolFile> file = current;
    QMetaObject::invokeMethod(
        writer, [to, file, block] { to->write(file, block); }, Qt::QueuedConnection);
}

void CaptureStore::beginStart()
{
    starting = true;
    sinceStart = QByteArray();
}

void CaptureStore::confirmStart()
{
    if (!starting)
        return;
    const QByteArray since = sinceStart;
    clear();
    append(since);
}

void CaptureStore::putBack()
{
    starting = false;
    sinceStart = QByteArray();
}

void CaptureStore::clear()
{
    starting = false;
    sinceStart = QByteArray();
    flushTimer.stop();
    pending = QByteArray();
    unconfirmed.clear();
    onDisk = 0;
    total = 0;
    diskFailed = false;
    startUtc = QDateTime::currentDateTimeUtc();
    sinceStartClock.start();
    recorded.clear();
    timeRecord.clear();
    emit eventsReset();
    // A new file rather than emptying the old one: a save may still be reading it.
    startFile();
}

CaptureEvent CaptureStore::record(CaptureEvent::Type type, const QString &label, int number,
                                  qint64 durationMicros)
{
    CaptureEvent event;
    event.id = nextEventId++;
    event.type = type;
    event.number = number;
    event.label = label;
    event.offset = size();
    event.micros = elapsedMicros();
    event.durationMicros = durationMicros;
    recorded.append(event);
    emit eventRecorded(event);
    return event;
}

bool CaptureStore::relabel(qint64 id, const QString &label)
{
    for (CaptureEvent &event : recorded) {
        if (event.id == id) {
            event.label = label;
            emit eventRecorded(event);
            return true;
        }
    }
    return false;
}

qint64 CaptureStore::sizeInMemory() const
{
    if (!diskFailed)
        return 0;
    return starting ? sinceStart.size() : total - onDisk;
}

CaptureSnapshot CaptureStore::snapshot() const
{
    if (starting)
        return CaptureSnapshot({sinceStart});
    QList<QByteArray> memory = unconfirmed;
    if (!pending.isEmpty())
        memory.append(pending);
    return CaptureSnapshot(current, onDisk, memory);
}

QString CaptureStore::filePath() const
{
    return current->path();
}

bool CaptureStore::isOwnFile(const QString &path) const
{
    const QFileInfo target(path);
    const QString own = QFileInfo(filePath()).canonicalFilePath();
    if (!own.isEmpty() && target.canonicalFilePath() == own)
        return true;
    const QString folder = QFileInfo(folderPath).canonicalFilePath();
    // A lock saved over is removed with its capture.
    QString name = target.fileName();
    if (name.endsWith(QLatin1String(".lock")))
        name.chop(5);
    return !folder.isEmpty() && QFileInfo(target.absolutePath()).canonicalFilePath() == folder
        && SpoolFile::looksLikeCapture(name);
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
    current = SpoolFile::create(folderPath, current->generation + 1);
    SpoolWriter *const to = writer;
    const QSharedPointer<SpoolFile> file = current;
    QMetaObject::invokeMethod(
        writer, [to, file] { to->use(file); }, Qt::QueuedConnection);
}
