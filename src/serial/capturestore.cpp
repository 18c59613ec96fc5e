#include "serial/capturestore.h"

#include "serial/workerthread.h"

#include <QAtomicInt>
#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QMutex>
#include <QMutexLocker>
#include <QStandardPaths>

namespace {

// More than this waiting in memory is handed to the writer at once.
constexpr int FlushBytes = 1 << 20;
constexpr qint64 ReadBlock = 1 << 20;

} // namespace

// One capture's file. Whoever lets go of it last, the store, its writer or a save still reading
// it, removes it from the disk.
class SpoolFile
{
public:
    SpoolFile(const QString &folder, quint64 generation)
        : folder(folder)
        , generation(generation)
    { }
    ~SpoolFile()
    {
        reader.close();
        const QString name = path();
        if (!name.isEmpty())
            QFile::remove(name);
    }
    SpoolFile(const SpoolFile &) = delete;
    SpoolFile &operator=(const SpoolFile &) = delete;

    QString path() const
    {
        const QMutexLocker lock(&mutex);
        return name;
    }
    void setPath(const QString &path)
    {
        {
            const QMutexLocker lock(&mutex);
            name = path;
        }
        // Opened at once: a capture whose file a cache cleaner removes can still be saved.
        const QMutexLocker lock(&readMutex);
        reader.setFileName(path);
        reader.open(QIODevice::ReadOnly);
    }

    const QString folder;
    // Tells a late report about an earlier capture's file from one about this one.
    const quint64 generation;
    // One reader at a time: saves run one after another anyway.
    QMutex readMutex;
    QFile reader;

private:
    mutable QMutex mutex;
    QString name;
};

// Lives on the store's thread and writes each block it is handed to the capture's file.
class SpoolWriter : public QObject
{
public:
    explicit SpoolWriter(CaptureStore *store)
        : store(store)
    { }

    // From now on blocks belong to file; the previous file is closed and let go.
    void use(const QSharedPointer<SpoolFile> &next)
    {
        out.close();
        file = next;
        written = 0;
        broken = false;
    }

    void write(const QSharedPointer<SpoolFile> &target, const QByteArray &block);

private:
    bool open(QString *reason);
    void report(qint64 confirmedSize, const QString &reason = {});

    CaptureStore *const store;
    QSharedPointer<SpoolFile> file;
    // Declared after file, so that it is closed before the file may be removed.
    QFile out;
    qint64 written = 0;
    bool broken = false;
};

bool SpoolWriter::open(QString *reason)
{
    // Only the user may look into the folder, whatever the umask.
    QDir().mkpath(file->folder);
    QFile::setPermissions(file->folder, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    static QAtomicInt counter;
    const QString stem = QStringLiteral("%1/capture-%2-")
                             .arg(file->folder)
                             .arg(QCoreApplication::applicationPid());
    for (;;) {
        // Never over a file that another run left behind: it may be a capture to rescue.
        out.setFileName(stem + QString::number(counter.fetchAndAddRelaxed(1) + 1) + ".txt");
        if (out.open(QIODevice::WriteOnly | QIODevice::NewOnly | QIODevice::Unbuffered))
            break;
        if (!out.exists()) {
            *reason = QDir::toNativeSeparators(file->folder) + ": " + out.errorString();
            return false;
        }
    }
    out.setPermissions(QFile::ReadOwner | QFile::WriteOwner);
    file->setPath(out.fileName());
    return true;
}

void SpoolWriter::write(const QSharedPointer<SpoolFile> &target, const QByteArray &block)
{
    if (target != file)
        use(target);
    if (broken)
        return;
    QString reason;
    if (!out.isOpen() && !open(&reason)) {
        broken = true;
        report(0, reason);
        return;
    }
    qint64 done = 0;
    while (done < block.size()) {
        const qint64 n = out.write(block.constData() + done, block.size() - done);
        if (n <= 0) {
            broken = true;
            report(written + done, out.errorString());
            return;
        }
        done += n;
    }
    written += done;
    report(written);
}

void SpoolWriter::report(qint64 confirmedSize, const QString &reason)
{
    const quint64 which = file->generation;
    CaptureStore *const to = store;
    if (reason.isEmpty())
        QMetaObject::invokeMethod(
            store, [to, which, confirmedSize] { to->written(which, confirmedSize); },
            Qt::QueuedConnection);
    else
        QMetaObject::invokeMethod(
            store, [to, which, confirmedSize, reason] { to->failed(which, confirmedSize, reason); },
            Qt::QueuedConnection);
}

CaptureSnapshot::CaptureSnapshot(const QList<QByteArray> &blocks)
    : memory(blocks)
{
    for (const QByteArray &block : blocks)
        memoryBytes += block.size();
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
    , folder(folder)
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
    thread->quit();
    thread->wait();
    // The thread is gone, so nothing else touches the writer; its file goes with it.
    delete writer;
}

QString CaptureStore::defaultFolder()
{
    QString cache = QStandardPaths::writableLocation(QStandardPaths::GenericCacheLocation);
    if (cache.isEmpty())
        cache = QDir::tempPath();
    return cache + QStringLiteral("/tarvex-terminal");
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
    current = QSharedPointer<SpoolFile>::create(folder, current->generation + 1);
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

void CaptureStore::written(quint64 generation, qint64 confirmedSize)
{
    if (generation == current->generation)
        dropConfirmed(confirmedSize);
}

void CaptureStore::failed(quint64 generation, qint64 confirmedSize, const QString &reason)
{
    if (generation != current->generation || diskFailed)
        return;
    dropConfirmed(confirmedSize);
    diskFailed = true;
    emit storageFailed(reason);
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
