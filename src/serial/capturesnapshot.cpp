#include "serial/capturesnapshot.h"

#include "serial/spoolfile.h"
#include "serial/spooltimeline.h"

#include <QDir>
#include <QMutexLocker>

namespace {

constexpr qint64 ReadBlock = 1 << 20;

} // namespace

CaptureSnapshot::CaptureSnapshot(const QList<QByteArray> &blocks)
    : memory(blocks)
{
    for (const QByteArray &block : blocks)
        memoryBytes += block.size();
}

CaptureSnapshot::CaptureSnapshot(const QSharedPointer<SpoolFile> &file, qint64 fileBytes,
                                 const QList<QByteArray> &blocks)
    : CaptureSnapshot(blocks)
{
    this->file = file;
    this->fileBytes = fileBytes;
}

CaptureSnapshot CaptureSnapshot::ofLeftover(const QString &path, qint64 size)
{
    CaptureSnapshot snapshot(SpoolFile::leftover(path), size, {});
    snapshot.leftoverPath = path;
    return snapshot;
}

CaptureTimeline CaptureSnapshot::timeline() const
{
    return leftoverPath.isEmpty() ? kept : SpoolTimeline::load(leftoverPath, fileBytes);
}

bool CaptureSnapshot::read(const std::function<bool(const QByteArray &)> &sink,
                           QString *reason) const
{
    if (fileBytes > 0) {
        const QMutexLocker lock(&file->readMutex);
        QFile &in = file->reader;
        const QString name = QDir::toNativeSeparators(in.fileName()) + QStringLiteral(": ");
        if ((!in.isOpen() && !in.open(QIODevice::ReadOnly)) || !in.seek(0)) {
            *reason = name + in.errorString();
            return false;
        }
        {
            // Cut short, the read below says so.
            const QMutexLocker writing(&file->writeMutex);
            FileStamp now;
            if (file->isWritten() && !file->isAsWritten(in, 0, &now) && now.size >= fileBytes) {
                *reason = name + tr("changed from outside");
                return false;
            }
        }
        // One buffer for all blocks: a fresh one each time would cost a mapping and its page
        // faults per MiB.
        QByteArray buffer(int(qMin(fileBytes, ReadBlock)), Qt::Uninitialized);
        for (qint64 left = fileBytes; left > 0;) {
            const qint64 n = in.read(buffer.data(), qMin(left, qint64(buffer.size())));
            if (n <= 0) {
                *reason = name
                    + (in.error() != QFile::NoError ? in.errorString()
                                                    : tr("the file was cut short"));
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
