#include "serial/capturestore.h"

#include "serial/privatefile.h"
#include "serial/workerthread.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QLocale>
#include <QLockFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

#include <memory>

namespace {

// More than this waiting in memory is handed to the writer at once.
constexpr int FlushBytes = 1 << 20;
constexpr qint64 ReadBlock = 1 << 20;

} // namespace

// One capture's file and the lock that marks it as a running program's. Whoever lets go of it
// last, the store, its writer or a save still reading it, removes both from the disk.
class SpoolFile
{
public:
    SpoolFile(const QString &folder, quint64 generation, bool owned = true)
        : folder(folder)
        , generation(generation)
        , owned(owned)
    { }
    ~SpoolFile()
    {
        reader.close();
        const QString name = path();
        if (owned && !name.isEmpty())
            QFile::remove(name);
        // After the file: a file without its lock would be offered as a leftover.
        lock.reset();
    }
    SpoolFile(const SpoolFile &) = delete;
    SpoolFile &operator=(const SpoolFile &) = delete;

    QString path() const
    {
        const QMutexLocker lock(&mutex);
        return name;
    }
    void setPath(const QString &path, std::unique_ptr<QLockFile> heldLock = {})
    {
        {
            const QMutexLocker lock(&mutex);
            name = path;
        }
        lock = std::move(heldLock);
        // Opened at once: a capture whose file a cache cleaner removes can still be saved.
        const QMutexLocker lock(&readMutex);
        reader.setFileName(path);
        reader.open(QIODevice::ReadOnly);
    }
    // Another file took this one's name: it is not ours to remove.
    void forgetPath()
    {
        const QMutexLocker lock(&mutex);
        name.clear();
    }

    const QString folder;
    // Tells a late report about an earlier capture's file from one about this one.
    const quint64 generation;
    // One reader at a time: saves run one after another anyway.
    QMutex readMutex;
    QFile reader;
    // The modification time the writer's last write left, held across each write: a save
    // reads the file only if nobody else wrote it since.
    QMutex writeMutex;
    QDateTime writtenTime;

private:
    const bool owned;
    mutable QMutex mutex;
    QString name;
    std::unique_ptr<QLockFile> lock;
};

// Lives on the store's thread and writes each block it is handed to the capture's file.
class SpoolWriter : public QObject
{
public:
    explicit SpoolWriter(CaptureStore *store)
        : store(store)
        , syncTimer(new QTimer(this))
    {
        syncTimer->setSingleShot(true);
        syncTimer->setInterval(CaptureStore::SyncIntervalMs);
        connect(syncTimer, &QTimer::timeout, this, &SpoolWriter::sync);
    }

    // From now on blocks belong to file; the previous file is closed and let go.
    void use(const QSharedPointer<SpoolFile> &next)
    {
        syncTimer->stop();
        out.close();
        file = next;
        written = 0;
        broken = false;
    }

    void write(const QSharedPointer<SpoolFile> &target, const QByteArray &block);
    // Before the thread ends: its timer can be stopped only here.
    void stop() { syncTimer->stop(); }
    void setSyncInterval(int ms) { syncTimer->setInterval(ms); }

    CaptureStore::WriterProbe probe;
    bool syncs = true;

private:
    bool open(QString *reason);
    void sync();
    // False when someone else cut, wrote or replaced the file since our last write.
    bool unchanged(QString *reason, bool *contentLost);
    void fail(qint64 confirmedSize, const QString &reason, bool contentLost = false);
    void report(qint64 confirmedSize, const QString &reason = {}, bool contentLost = false);

    CaptureStore *const store;
    QSharedPointer<SpoolFile> file;
    // Declared after file, so that it is closed before the file may be removed.
    QFile out;
    QString outPath;
    // The file as our last write left it.
    qint64 written = 0;
    QDateTime modified;
    bool broken = false;
    // Started by a write when none is due, never pushed back: data that streams in is synced
    // at most this long after it was written, and a slow sync only delays the next.
    QTimer *syncTimer;
};

bool SpoolWriter::open(QString *reason)
{
    const QString &folder = file->folder;
    if (!PrivateFile::makeFolder(folder, reason) || !PrivateFile::checkFolder(folder, reason))
        return false;
    // Only the user may look into the folder.
    QFile::setPermissions(folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    static QAtomicInt counter;
    // Joined, not arg(): a folder name may hold "%1".
    const QString stem = folder + QStringLiteral("/capture-")
        + QString::number(QCoreApplication::applicationPid()) + QLatin1Char('-');
    for (;;) {
        const QString path
            = stem + QString::number(counter.fetchAndAddRelaxed(1) + 1) + QStringLiteral(".txt");
        // The lock first: a file without a lock that holds would be a leftover to another run.
        auto lock = std::make_unique<QLockFile>(path + QStringLiteral(".lock"));
        lock->setStaleLockTime(0);
        if (!lock->tryLock(0)) {
            if (lock->error() == QLockFile::LockFailedError)
                continue;
            *reason = QDir::toNativeSeparators(path) + QStringLiteral(".lock: ")
                + QCoreApplication::translate("MainWindow", "could not be made");
            return false;
        }
        QFile::setPermissions(path + QStringLiteral(".lock"), QFile::ReadOwner | QFile::WriteOwner);
        bool exists = false;
        QString why;
        // Never over a file that another run left behind: it may be a capture to rescue.
        if (PrivateFile::create(&out, path, &exists, &why)) {
            outPath = path;
            modified = out.fileTime(QFileDevice::FileModificationTime);
            file->setPath(path, std::move(lock));
            return true;
        }
        if (!exists) {
            *reason = QDir::toNativeSeparators(path) + QStringLiteral(": ") + why;
            return false;
        }
    }
}

bool SpoolWriter::unchanged(QString *reason, bool *contentLost)
{
    // size() asks the system afresh; fileTime() then reads what it learned.
    const qint64 size = out.size();
    const QDateTime time = out.fileTime(QFileDevice::FileModificationTime);
    const QString name = QDir::toNativeSeparators(outPath) + QStringLiteral(": ");
    if (size != written || time != modified) {
        *contentLost = true;
        *reason = name + QCoreApplication::translate("MainWindow", "changed from outside");
        return false;
    }
    // Removed is fine: the handles still reach it. Another file in its place is not ours.
    const QFileInfo atPath(outPath);
    if (atPath.exists() && (atPath.size() != size || atPath.lastModified() != time)) {
        *contentLost = false;
        *reason = name + QCoreApplication::translate("MainWindow", "replaced from outside");
        file->forgetPath();
        return false;
    }
    return true;
}

void SpoolWriter::write(const QSharedPointer<SpoolFile> &target, const QByteArray &block)
{
    if (target != file)
        use(target);
    if (broken)
        return;
    QString reason;
    bool contentLost = false;
    if (!out.isOpen()) {
        if (!open(&reason))
            return fail(0, reason);
    } else if (!unchanged(&reason, &contentLost)) {
        return fail(written, reason, contentLost);
    }
    if (probe)
        probe(CaptureStore::WriterStep::Writing, written);
    const QMutexLocker writing(&file->writeMutex);
    qint64 done = 0;
    while (done < block.size()) {
        const qint64 n = out.write(block.constData() + done, block.size() - done);
        if (n <= 0) {
            // The front of the block is in the file, and ours: a save reads it.
            const QString reason = out.errorString();
            out.size();
            file->writtenTime = out.fileTime(QFileDevice::FileModificationTime);
            return fail(written + done, reason);
        }
        done += n;
    }
    // Appending: a file cut short meanwhile got the block at its new end, not after a hole.
    if (out.size() != written + done) {
        return fail(written,
                    QDir::toNativeSeparators(outPath) + QStringLiteral(": ")
                        + QCoreApplication::translate("MainWindow", "changed from outside"),
                    true);
    }
    written += done;
    modified = out.fileTime(QFileDevice::FileModificationTime);
    file->writtenTime = modified;
    report(written);
    if (syncs && !syncTimer->isActive())
        syncTimer->start();
}

void SpoolWriter::sync()
{
    if (broken || !out.isOpen())
        return;
    if (probe)
        probe(CaptureStore::WriterStep::Syncing, written);
    QString reason;
    if (!PrivateFile::sync(&out, &reason))
        return fail(written, QDir::toNativeSeparators(outPath) + QStringLiteral(": ") + reason);
    if (probe)
        probe(CaptureStore::WriterStep::Synced, written);
}

void SpoolWriter::fail(qint64 confirmedSize, const QString &reason, bool contentLost)
{
    broken = true;
    syncTimer->stop();
    report(confirmedSize, reason, contentLost);
}

void SpoolWriter::report(qint64 confirmedSize, const QString &reason, bool contentLost)
{
    const quint64 which = file->generation;
    CaptureStore *const to = store;
    if (reason.isEmpty())
        QMetaObject::invokeMethod(
            store, [to, which, confirmedSize] { to->written(which, confirmedSize); },
            Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(
            store,
            [to, which, confirmedSize, reason, contentLost] {
                to->failed(which, confirmedSize, reason, contentLost);
            },
            Qt::QueuedConnection);
}

CaptureSnapshot::CaptureSnapshot(const QList<QByteArray> &blocks)
    : memory(blocks)
{
    for (const QByteArray &block : blocks)
        memoryBytes += block.size();
}

CaptureSnapshot CaptureSnapshot::ofLeftover(const QString &path, qint64 size)
{
    CaptureSnapshot s;
    s.file = QSharedPointer<SpoolFile>::create(QFileInfo(path).path(), 0, false);
    s.file->setPath(path);
    s.fileBytes = size;
    return s;
}

bool CaptureSnapshot::read(const std::function<bool(const QByteArray &)> &sink,
                           QString *reason) const
{
    if (fileBytes > 0) {
        const QMutexLocker lock(&file->readMutex);
        QFile &in = file->reader;
        if ((!in.isOpen() && !in.open(QIODevice::ReadOnly)) || !in.seek(0)) {
            *reason = QDir::toNativeSeparators(in.fileName()) + ": " + in.errorString();
            return false;
        }
        {
            // Cut short, the read below says so; written into, only the time tells.
            const QMutexLocker writing(&file->writeMutex);
            if (in.size() >= fileBytes && file->writtenTime.isValid()
                && in.fileTime(QFileDevice::FileModificationTime) != file->writtenTime) {
                *reason = QDir::toNativeSeparators(in.fileName()) + ": "
                    + QCoreApplication::translate("MainWindow", "changed from outside");
                return false;
            }
        }
        // One buffer for all blocks: a fresh one each time would cost a mapping and its page
        // faults per MiB.
        QByteArray buffer(int(qMin(fileBytes, ReadBlock)), Qt::Uninitialized);
        for (qint64 left = fileBytes; left > 0;) {
            const qint64 n = in.read(buffer.data(), qMin(left, qint64(buffer.size())));
            if (n <= 0) {
                *reason = QDir::toNativeSeparators(in.fileName()) + ": "
                    + (in.error() != QFile::NoError
                           ? in.errorString()
                           : QCoreApplication::translate("MainWindow", "the file was cut short"));
                return false;
            }
            left -= n;
            if (!sink(QByteArray::fromRawData(buffer.constData(), int(n))))
                return true;
        }
    }
    for (const QByteArray &block : memory) {
        if (!block.isEmpty() && !sink(block))
            return true;
    }
    return true;
}

QByteArray CaptureSnapshot::readAll() const
{
    QByteArray all;
    QString reason;
    read(
        [&all](const QByteArray &block) {
            all += block;
            return true;
        },
        &reason);
    return all;
}

CaptureStore::CaptureStore(const QString &folder, QObject *parent)
    : QObject(parent)
    , folderPath(folder)
    , thread(new WorkerThread(this))
    , writer(new SpoolWriter(this))
    , current(QSharedPointer<SpoolFile>::create(folder, 1))
{
    writer->moveToThread(thread);
    thread->setObjectName(QStringLiteral("capture writer"));
    thread->start();
    flushTimer.setSingleShot(true);
    flushTimer.setInterval(FlushIntervalMs);
    connect(&flushTimer, &QTimer::timeout, this, &CaptureStore::flush);
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
    // A new file rather than emptying the old one: a save may still be reading it.
    current = QSharedPointer<SpoolFile>::create(folderPath, current->generation + 1);
    SpoolWriter *const to = writer;
    const QSharedPointer<SpoolFile> file = current;
    QMetaObject::invokeMethod(
        writer, [to, file] { to->use(file); }, Qt::QueuedConnection);
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
    CaptureSnapshot s;
    s.file = current;
    s.fileBytes = onDisk;
    s.memory = unconfirmed;
    if (!pending.isEmpty())
        s.memory.append(pending);
    s.memoryBytes = total - onDisk;
    return s;
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
    return !folder.isEmpty() && QFileInfo(target.absolutePath()).canonicalFilePath() == folder
        && target.fileName().startsWith(QLatin1String("capture-"))
        && target.fileName().endsWith(QLatin1String(".txt"));
}

void CaptureStore::setSyncInterval(int ms)
{
    SpoolWriter *const to = writer;
    QMetaObject::invokeMethod(
        writer,
        [to, ms] {
            to->syncs = ms >= 0;
            to->stop();
            to->setSyncInterval(qMax(ms, 0));
        },
        Qt::BlockingQueuedConnection);
}

void CaptureStore::setWriterProbe(const WriterProbe &probe)
{
    SpoolWriter *const to = writer;
    QMetaObject::invokeMethod(
        writer, [to, probe] { to->probe = probe; }, Qt::BlockingQueuedConnection);
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
    current = QSharedPointer<SpoolFile>::create(folderPath, current->generation + 1);
    SpoolWriter *const to = writer;
    const QSharedPointer<SpoolFile> file = current;
    QMetaObject::invokeMethod(
        writer, [to, file] { to->use(file); }, Qt::QueuedConnection);
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
