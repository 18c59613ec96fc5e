#include "serial/spoolwriter.h"

#include "serial/privatefile.h"
#include "serial/spoolfile.h"

#include <QDir>
#include <QMutexLocker>
#include <QTimer>

SpoolWriter::SpoolWriter(std::function<qint64()> clock)
    : now(std::move(clock))
    , syncTimer(new QTimer(this))
{
    if (!now) {
        elapsed.start();
        now = [this] { return elapsed.elapsed(); };
    }
    syncTimer->setSingleShot(true);
    connect(syncTimer, &QTimer::timeout, this, &SpoolWriter::syncIfDue);
}

void SpoolWriter::use(const QSharedPointer<SpoolFile> &next)
{
    syncTimer->stop();
    syncDueMs = -1;
    out.close();
    companions.close();
    companionsBroken = false;
    file = next;
    writtenSize = 0;
    broken = false;
}

void SpoolWriter::stop()
{
    syncTimer->stop();
    syncDueMs = -1;
}

void SpoolWriter::setSyncInterval(int ms)
{
    stop();
    syncInterval = ms;
}

QString SpoolWriter::named(const QString &text) const
{
    return QDir::toNativeSeparators(outPath) + QStringLiteral(": ") + text;
}

bool SpoolWriter::unchanged(QString *reason, bool *contentLost)
{
    if (!file->isAsWritten(out)) {
        *contentLost = true;
        *reason = named(tr("changed from outside"));
        return false;
    }
    if (!file->isAtItsName()) {
        *contentLost = false;
        *reason = named(tr("replaced from outside"));
        file->forgetPath();
        return false;
    }
    return true;
}

void SpoolWriter::write(const QSharedPointer<SpoolFile> &target, const QByteArray &block,
                        const SpoolTimeline::Delta &timeline)
{
    if (target != file)
        use(target);
    if (broken)
        return;
    QString reason;
    bool contentLost = false;
    if (!out.isOpen()) {
        if (!file->make(&out, &reason))
            return fail(0, reason);
        outPath = file->path();
    } else if (!unchanged(&reason, &contentLost)) {
        return fail(writtenSize, reason, contentLost);
    }
    // Before the block: a kill between the two leaves the timeline ahead of the capture, which
    // reading it back cuts to the capture, never behind it.
    if (!timeline.isEmpty() && !companionsBroken) {
        QString why;
        companionsBroken = !(companions.isOpen() || companions.open(outPath, &why))
            || !companions.write(timeline, &why);
    }
    if (probe)
        probe(Step::Writing, writtenSize);
    const QMutexLocker writing(&file->writeMutex);
    qint64 done = 0;
    while (done < block.size()) {
        const qint64 n = out.write(block.constData() + done, block.size() - done);
        if (n <= 0) {
            // The front of the block is in the file, and ours: a save reads it.
            const QString reason = out.errorString();
            file->recordWrite(PrivateFile::stamp(out));
            return fail(writtenSize + done, reason);
        }
        done += n;
    }
    // Appending: a file cut short meanwhile got the block at its new end, not after a hole.
    FileStamp stamp;
    if (!file->isAsWritten(out, done, &stamp))
        return fail(writtenSize, named(tr("changed from outside")), true);
    writtenSize += done;
    file->recordWrite(stamp);
    emit written(file->generation, writtenSize);
    if (syncInterval >= 0 && syncDueMs < 0) {
        syncDueMs = now() + syncInterval;
        syncTimer->start(syncInterval);
    }
}

void SpoolWriter::syncIfDue()
{
    if (syncDueMs < 0)
        return;
    // A coarse timer may wake a little early.
    const qint64 left = syncDueMs - now();
    if (left > 0) {
        syncTimer->start(int(left));
        return;
    }
    syncDueMs = -1;
    sync();
}

void SpoolWriter::sync()
{
    if (broken || !out.isOpen())
        return;
    if (probe)
        probe(Step::Syncing, writtenSize);
    QString reason;
    if (!PrivateFile::sync(&out, &reason))
        return fail(writtenSize, named(reason));
    // After the capture: its timeline says nothing without it.
    if (!companionsBroken && companions.isOpen() && !companions.sync(&reason))
        companionsBroken = true;
    if (probe)
        probe(Step::Synced, writtenSize);
}

void SpoolWriter::fail(qint64 confirmedSize, const QString &reason, bool contentLost)
{
    broken = true;
    stop();
    emit failed(file->generation, confirmedSize, reason, contentLost);
}
