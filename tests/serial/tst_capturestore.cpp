#include "childmodes.h"
#include "serial/capturestore.h"
#include "serial/leftovers.h"
#include "serial/privatefile.h"
#include "serial/spoolfile.h"
#include "serial/spooltimeline.h"
#include "serial/spoolwriter.h"
#include "testfiles.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <QHash>
#include <QMutex>
#include <QScopeGuard>
#include <QSemaphore>
#include <QThread>

#include <algorithm>
#include <atomic>
#include <cerrno>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

using testfiles::fileBytes;
using testfiles::systemText;
using testfiles::writeFile;

namespace {

// The stream a killed child sends: every byte depends on its place, so a byte out of place, a
// zero that was never sent or a gap shows.
QByteArray streamBytes(qint64 from, int size)
{
    QByteArray bytes(size, Qt::Uninitialized);
    for (int i = 0; i < size; ++i) {
        const quint64 at = quint64(from + i);
        bytes[i] = char(((at ^ (at >> 8) ^ (at >> 16)) * 167 + 13) & 0xff);
    }
    return bytes;
}

// What a wait may take at most before its test fails: a few times what the slowest of them
// takes on a loaded machine, and well inside the test program's time limit, so that a fault
// that stops the store fails its test with a message instead of hanging the program.
constexpr int WaitMs = 10000;

// Events as "type@offset label", in order.
QStringList described(const QVector<CaptureEvent> &events)
{
    QStringList out;
    for (const CaptureEvent &event : events)
        out << CaptureEvent::typeName(event.type) + '@' + QString::number(event.offset) + ' '
                + event.label;
    return out;
}

constexpr QFile::Permissions OthersMay = QFile::ReadGroup | QFile::WriteGroup | QFile::ExeGroup
    | QFile::ReadOther | QFile::WriteOther | QFile::ExeOther;

} // namespace

// The capture's bytes on their way to the disk, and back out in order.
class TestCaptureStore : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

private slots:
    void snapshotsKeepWhatTheyHad();
    void snapshotsShareTheStartWait();
    void clearStartsAfresh_data();
    void clearStartsAfresh();
    void storageFaults_data();
    void storageFaults();
    void lateReportAboutEarlierFile();
    void streamReachesDiskWhileItFlows();
    void nextStartTriesDiskAgain();
    void syncsWhileDataArrives();
    void syncedWithinASecond_data();
    void syncedWithinASecond();
    void neverWritesIntoAnEarlierFile();
    void filesRemovedOffTheGuiThread_data();
    void filesRemovedOffTheGuiThread();
    void removedAtOnce();
    void changedFromOutside_data();
    void changedFromOutside();
    void privateUnderOpenUmask();
    void percentInFolderName();
    void ownFiles_data();
    void ownFiles();
    void killLeavesPrefix();
    void startKeepsTimelineEitherWay_data();
    void startKeepsTimelineEitherWay();
    void killKeepsTimeline_data();
    void killKeepsTimeline();
    void timelineCutToTheCapture_data();
    void timelineCutToTheCapture();
};

void TestCaptureStore::snapshotsKeepWhatTheyHad()
{
    const QString folder = dir.filePath("cache");
    auto store = std::make_unique<CaptureStore>(folder);
    QRandomGenerator random(3);
    QByteArray all;
    QList<CaptureSnapshot> snapshots;
    QList<QByteArray> expected;
    // Some bytes on disk, some on their way, some still waiting, whenever a snapshot is taken.
    for (int i = 0; i < 60; ++i) {
        QByteArray piece(i == 30 ? (1 << 20) + 5 : int(random.bounded(3000)), Qt::Uninitialized);
        for (char &c : piece)
            c = char(random.bounded(256));
        store->append(piece);
        all += piece;
        if (i % 7 == 0)
            store->flush();
        if (i % 11 == 0)
            QTest::qWait(1);
        snapshots << store->snapshot();
        expected << all;
    }
    QCOMPARE(store->size(), qint64(all.size()));
    for (int i = 0; i < snapshots.size(); ++i)
        QVERIFY2(snapshots.at(i).readAll() == expected.at(i), qPrintable(QString::number(i)));

    // The rest reaches the file unasked, and only the user may read it.
    const QString path = store->filePath();
    QTRY_COMPARE(QFileInfo(path).size(), qint64(all.size()));
    QCOMPARE(fileBytes(path), all);
    QCOMPARE(store->sizeInMemory(), qint64(0));
    QCOMPARE(QFileInfo(path).permissions() & OthersMay, QFile::Permissions());
    QCOMPARE(QFileInfo(folder).permissions() & OthersMay, QFile::Permissions());
    QCOMPARE(store->snapshot().readAll(), all);

    snapshots.clear();
    store.reset();
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path), WaitMs);
}

// What came while a Start waits is shared with a snapshot, not copied by the next delivery: a
// copy would run on the event loop and grow with the wait, as an export takes one meanwhile.
void TestCaptureStore::snapshotsShareTheStartWait()
{
    CaptureStore store(dir.filePath("start-wait"));
    store.append("before");
    store.beginStart();
    // Where its blocks are in memory.
    const auto blocksOf = [](const CaptureSnapshot &snapshot) {
        QList<quintptr> at;
        QString reason;
        snapshot.read(
            [&at](const QByteArray &block) {
                at << quintptr(block.constData());
                return true;
            },
            &reason);
        return at;
    };
    QByteArray all;
    QList<CaptureSnapshot> snapshots;
    QList<QByteArray> expected;
    for (int i = 0; i < 12; ++i) {
        const QByteArray piece(i % 4 == 3 ? (1 << 19) + i : 1000 + i, char('a' + i));
        store.append(piece);
        all += piece;
        snapshots << store.snapshot();
        expected << all;
    }
    for (int i = 0; i < snapshots.size(); ++i) {
        QVERIFY2(snapshots.at(i).readAll() == expected.at(i), qPrintable(QString::number(i)));
        QCOMPARE(blocksOf(snapshots.at(i)).first(), blocksOf(snapshots.first()).first());
    }
    QCOMPARE(store.size(), qint64(all.size()));
    QCOMPARE(store.times().last().offset, qint64(all.size()));

    // Confirmed, they go to the file as they are.
    store.confirmStart();
    QCOMPARE(store.size(), qint64(all.size()));
    QCOMPARE(blocksOf(store.snapshot()), blocksOf(snapshots.last()));
    QCOMPARE(store.snapshot().readAll(), all);
    QTRY_COMPARE_WITH_TIMEOUT(QFileInfo(store.filePath()).size(), qint64(all.size()), WaitMs);
    QCOMPARE(fileBytes(store.filePath()), all);
}

void TestCaptureStore::clearStartsAfresh_data()
{
    QTest::addColumn<bool>("handedToWriter");
    QTest::newRow("last bytes waiting in memory") << false;
    QTest::newRow("last bytes on their way to disk") << true;
}

void TestCaptureStore::clearStartsAfresh()
{
    QFETCH(bool, handedToWriter);
    CaptureStore store(dir.filePath("cache"));
    store.append("on disk ");
    store.flush();
    QTRY_VERIFY(QFileInfo(store.filePath()).size() == 8);
    const QString oldPath = store.filePath();
    store.append("waiting");
    auto saving = std::make_unique<CaptureSnapshot>(store.snapshot());
    if (handedToWriter)
        store.flush();

    // Nothing from before the start reaches the new capture, nor leaves the snapshot.
    store.clear();
    QCOMPARE(store.size(), qint64(0));
    QVERIFY(store.snapshot().readAll().isEmpty());
    store.append("new");
    QTRY_VERIFY(!store.filePath().isEmpty() && QFileInfo(store.filePath()).size() == 3);
    QCOMPARE(fileBytes(store.filePath()), QByteArray("new"));
    QVERIFY(store.filePath() != oldPath);
    QCOMPARE(saving->readAll(), QByteArray("on disk waiting"));

    // The old file goes once the last reader lets go of it.
    saving.reset();
    QTRY_VERIFY(!QFile::exists(oldPath));
    QCOMPARE(store.snapshot().readAll(), QByteArray("new"));
}

// A report about the previous capture's file that arrives after a Start counts nothing of the
// new capture as being on the disk.
void TestCaptureStore::lateReportAboutEarlierFile()
{
    QSemaphore writing;
    QSemaphore release;
    std::atomic<int> calls{0};
    CaptureStore store(dir.filePath("cache"));
    // Let go on every way out, a failed check included, before the store waits for its writer.
    const auto letGo = qScopeGuard([&release] { release.release(1000); });
    store.setWriterProbe([&](CaptureStore::WriterStep step, qint64) {
        if (step != CaptureStore::WriterStep::Writing || ++calls != 2)
            return;
        writing.release();
        release.acquire();
    });
    store.append("old");
    store.flush();
    store.clear();
    store.append("new!");
    store.flush();
    // Held before its second block: the first one's report waits in our queue, unread.
    QVERIFY2(writing.tryAcquire(1, WaitMs), "the writer never came to the second block");
    QCoreApplication::processEvents();
    QCOMPARE(store.sizeOnDisk(), qint64(0));
    QCOMPARE(store.snapshot().readAll(), QByteArray("new!"));
    release.release(1000);
    QTRY_COMPARE(store.sizeOnDisk(), qint64(4));
    QCOMPARE(fileBytes(store.filePath()), QByteArray("new!"));
}

// Small deliveries that never pause still reach the file a few times a second, not only once a
// MiB has gathered: a crash loses a fraction of a second.
void TestCaptureStore::streamReachesDiskWhileItFlows()
{
    CaptureStore store(dir.filePath("cache"));
    QTimer delivery;
    delivery.setInterval(CaptureStore::FlushIntervalMs / 10);
    connect(&delivery, &QTimer::timeout, [&store] { store.append("sample\n"); });
    delivery.start();
    QTRY_VERIFY_WITH_TIMEOUT(store.sizeOnDisk() > 0, WaitMs);
    QVERIFY(delivery.isActive());
    delivery.stop();
    QTRY_COMPARE_WITH_TIMEOUT(store.sizeOnDisk(), store.size(), WaitMs);
}

// After the disk refused one capture, the next Start tries it again.
void TestCaptureStore::nextStartTriesDiskAgain()
{
    const QString blocker = dir.filePath("not-yet");
    QVERIFY(writeFile(blocker, ""));
    CaptureStore store(blocker + "/cache");
    QSignalSpy failures(&store, &CaptureStore::storageFailed);
    store.append("refused");
    store.flush();
    QVERIFY2(failures.wait(WaitMs), "the refusal was never reported");
    QVERIFY(QFile::remove(blocker));

    store.clear();
    store.append("kept on disk");
    store.flush();
    QTRY_COMPARE(store.sizeOnDisk(), qint64(12));
    QCOMPARE(store.sizeInMemory(), qint64(0));
    QCOMPARE(fileBytes(store.filePath()), QByteArray("kept on disk"));
}

// While data arrives the file is synced again and again, each time up to its end, far less
// often than it is written; once data stops, one last sync, then none.
void TestCaptureStore::syncsWhileDataArrives()
{
    // Before the store, so that they outlive its writer.
    std::atomic<int> writes{0};
    std::atomic<int> syncs{0};
    std::atomic<qint64> synced{-1};
    CaptureStore store(dir.filePath("cache"));
    store.setWriterProbe([&](CaptureStore::WriterStep step, qint64 bytes) {
        if (step == CaptureStore::WriterStep::Writing)
            ++writes;
        if (step == CaptureStore::WriterStep::Synced) {
            ++syncs;
            synced = bytes;
        }
    });
    QTimer delivery;
    delivery.setInterval(5);
    connect(&delivery, &QTimer::timeout, [&store] {
        store.append(QByteArray(100, 'x'));
        store.flush();
    });
    delivery.start();
    QTRY_VERIFY_WITH_TIMEOUT(syncs >= 3, WaitMs);
    delivery.stop();
    QTRY_VERIFY_WITH_TIMEOUT(synced == store.size(), WaitMs);
    QVERIFY2(
        syncs * 4 <= writes,
        qPrintable(QStringLiteral("%1 syncs for %2 writes").arg(syncs.load()).arg(writes.load())));
    // Idle: room for a sync that must not come.
    const int before = syncs;
    QTest::qWait(3 * CaptureStore::SyncIntervalMs);
    QCOMPARE(syncs.load(), before);
}

void TestCaptureStore::syncedWithinASecond_data()
{
    QTest::addColumn<int>("everyMs");
    QTest::addColumn<int>("burstMs");
    QTest::addColumn<int>("pauseMs");
    QTest::newRow("steady stream") << 20 << 0 << 0;
    QTest::newRow("bursts") << 30 << 400 << 1500;
    QTest::newRow("one line now and then") << 900 << 0 << 0;
}

// A power cut loses about a second: bytes handed to the writer are on the disk by the time that
// makes a second with the wait in memory before them, whatever the stream does meanwhile. On a
// clock of the test's, so that a busy machine cannot make it fail or pass.
void TestCaptureStore::syncedWithinASecond()
{
    QFETCH(int, everyMs);
    QFETCH(int, burstMs);
    QFETCH(int, pauseMs);
    qint64 clock = 0;
    SpoolWriter writer([&clock] { return clock; });
    QList<QPair<qint64, qint64>> syncs; // when, up to which byte
    writer.setProbe([&](SpoolWriter::Step step, qint64 bytes) {
        if (step == SpoolWriter::Step::Synced)
            syncs.append({clock, bytes});
    });
    const QSharedPointer<SpoolFile> file = SpoolFile::create(dir.filePath("fake-clock"), 1);
    QList<QPair<qint64, qint64>> writes; // when, up to which byte
    qint64 end = 0;
    constexpr qint64 RunMs = 12000;
    constexpr qint64 TickMs = 5;
    for (clock = 0; clock <= RunMs; clock += TickMs) {
        const qint64 inCycle = burstMs > 0 ? clock % (burstMs + pauseMs) : 0;
        if (clock % everyMs == 0 && inCycle <= burstMs) {
            writer.write(file, QByteArray(100, 'x'));
            end += 100;
            writes.append({clock, end});
        }
        writer.syncIfDue();
    }
    const qint64 budget = 1000 - CaptureStore::FlushIntervalMs;
    int checked = 0;
    for (const auto &write : qAsConst(writes)) {
        if (write.first + budget + TickMs > RunMs)
            break;
        const auto synced = std::find_if(syncs.cbegin(), syncs.cend(), [&write](const auto &sync) {
            return sync.second >= write.second;
        });
        QVERIFY2(synced != syncs.cend() && synced->first <= write.first + budget,
                 qPrintable(QStringLiteral("written at %1 ms, on the disk %2")
                                .arg(write.first)
                                .arg(synced == syncs.cend()
                                         ? QStringLiteral("never")
                                         : QStringLiteral("at %1 ms").arg(synced->first))));
        ++checked;
    }
    QVERIFY(checked > 5);
    // Far fewer syncs than writes while data streams.
    QVERIFY2(syncs.size() <= RunMs / SpoolWriter::SyncIntervalMs + 1,
             qPrintable(QStringLiteral("%1 syncs").arg(syncs.size())));
}

// A run of the same process number (in a container, say) may have left files under the names
// this run would choose; they are passed over, never appended to: each may be a capture to
// rescue.
void TestCaptureStore::neverWritesIntoAnEarlierFile()
{
    const QString folder = dir.filePath("earlier");
    CaptureStore store(folder);
    QSignalSpy failures(&store, &CaptureStore::storageFailed);
    store.append("first");
    store.flush();
    QTRY_COMPARE_WITH_TIMEOUT(store.sizeOnDisk(), qint64(5), WaitMs);
    // The next names this run would take.
    const QString first = store.filePath();
    const int dash = first.lastIndexOf('-');
    const int number = first.mid(dash + 1).chopped(4).toInt();
    QStringList earlier;
    for (int i = 1; i <= 3; ++i) {
        earlier << first.left(dash + 1) + QString::number(number + i) + ".txt";
        QVERIFY(writeFile(earlier.last(), "an earlier run's"));
    }
    store.clear();
    store.append("second");
    store.flush();
    QTRY_COMPARE_WITH_TIMEOUT(store.sizeOnDisk(), qint64(6), WaitMs);
    QVERIFY2(!earlier.contains(store.filePath()), qPrintable(store.filePath()));
    QCOMPARE(fileBytes(store.filePath()), QByteArray("second"));
    for (const QString &path : qAsConst(earlier))
        QCOMPARE(fileBytes(path), QByteArray("an earlier run's"));
    QVERIFY(failures.isEmpty());
}

void TestCaptureStore::filesRemovedOffTheGuiThread_data()
{
    QTest::addColumn<bool>("saveLetsGoLast");
    QTest::newRow("a save lets go of the old capture last") << true;
    QTest::newRow("the store ends") << false;
}

// Removing a file of gigabytes can take a tenth of a second, far longer than the line's buffer
// lasts: whoever lets go of a capture's file last, it is removed on another thread than the
// event loop's, and its lock after it.
void TestCaptureStore::filesRemovedOffTheGuiThread()
{
    QFETCH(bool, saveLetsGoLast);
    QMutex mutex;
    QHash<QString, QThread *> removedOn;
    SpoolFile::setRemovalProbe([&](const QString &path) {
        const QMutexLocker lock(&mutex);
        removedOn.insert(path, QThread::currentThread());
    });
    const auto noProbe = qScopeGuard([] { SpoolFile::setRemovalProbe({}); });
    auto store = std::make_unique<CaptureStore>(dir.filePath("removed"));
    store->append("old capture");
    store->flush();
    QTRY_COMPARE_WITH_TIMEOUT(store->sizeOnDisk(), qint64(11), WaitMs);
    const QString path = store->filePath();
    auto saving = std::make_unique<CaptureSnapshot>(store->snapshot());
    if (saveLetsGoLast) {
        store->clear();
        store->append("new");
        store->flush();
        // The writer has let go of the old file.
        QTRY_COMPARE_WITH_TIMEOUT(store->sizeOnDisk(), qint64(3), WaitMs);
        QVERIFY(QFile::exists(path));
        saving.reset();
    } else {
        saving.reset();
        store.reset();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!QFile::exists(path) && !QFile::exists(path + ".lock"), WaitMs);
    const QMutexLocker lock(&mutex);
    QVERIFY(removedOn.contains(path));
    QVERIFY2(removedOn.value(path) != QThread::currentThread(), "removed on the GUI thread");
}

// A leftover removed after its save: its name goes at once, whoever frees its blocks.
void TestCaptureStore::removedAtOnce()
{
    const QString path = dir.filePath("leftover.txt");
    QVERIFY(writeFile(path, "saved"));
    QString reason;
    QVERIFY2(SpoolFile::remove(path, &reason), qPrintable(reason));
    QVERIFY(!QFile::exists(path));
    QVERIFY(!SpoolFile::remove(path, &reason));
    QCOMPARE(reason, systemText(ENOENT));
}

void TestCaptureStore::changedFromOutside_data()
{
    QTest::addColumn<QString>("change");
    QTest::addColumn<bool>("frontLost");
    QTest::newRow("cut short") << "truncate" << true;
    QTest::newRow("cut short while a block is written") << "truncate-during" << true;
    QTest::newRow("written into") << "overwrite" << true;
    QTest::newRow("replaced by another file") << "replace" << false;
}

// The capture's file changed by someone else is noticed by the next block at the latest; the
// user learns what is lost, the rest is kept in memory, and no save holds bytes never received.
void TestCaptureStore::changedFromOutside()
{
    QFETCH(QString, change);
    QFETCH(bool, frontLost);
    CaptureStore store(dir.filePath("changed-cache"));
    QSignalSpy failures(&store, &CaptureStore::storageFailed);
    const QByteArray front(12641, 'f');
    store.append(front);
    store.record(CaptureEvent::Type::Marker, QString(), 1);
    store.flush();
    QTRY_COMPARE(store.sizeOnDisk(), qint64(front.size()));
    const QString path = store.filePath();
    const CaptureSnapshot before = store.snapshot();
    if (change == "truncate-during") {
        // Between the writer's look at the file and its write.
        store.setWriterProbe([path](CaptureStore::WriterStep step, qint64) {
            if (step == CaptureStore::WriterStep::Writing)
                QFile::resize(path, 0);
        });
    } else if (change == "truncate") {
        QVERIFY(QFile::resize(path, 0));
    } else if (change == "overwrite") {
        QFile file(path);
        QVERIFY(file.open(QIODevice::ReadWrite));
        QTest::qWait(20); // a later modification time than the store's own write
        QVERIFY(file.write("other") == 5);
        file.close();
    } else {
        const QString other = dir.filePath("other.txt");
        QVERIFY(writeFile(other, "someone else's"));
        QVERIFY(::rename(QFile::encodeName(other).constData(), QFile::encodeName(path).constData())
                == 0);
    }
    const QByteArray rest(12184, 'r');
    store.append(rest);
    store.flush();
    QVERIFY2(failures.wait(WaitMs), "the change was never reported");
    const QString reason = failures.first().first().toString();
    QVERIFY2(reason.startsWith(
                 path + (frontLost ? ": changed from outside" : ": replaced from outside")),
             qPrintable(reason));
    QCOMPARE(reason.contains(QLocale().toString(12641) + " bytes"), frontLost);
    QVERIFY(store.sizeInMemory() > 0);
    const QByteArray kept = frontLost ? rest : front + rest;
    QCOMPARE(store.size(), qint64(kept.size()));
    QCOMPARE(store.snapshot().readAll(), kept);
    store.append("more");
    QCOMPARE(store.snapshot().readAll(), kept + "more");
    QCOMPARE(failures.size(), 1);
    // The time record and the marker count from the first byte kept, as the saved file does.
    const CaptureTimeline timeline = store.timeline();
    QCOMPARE(timeline.times.points().constLast().offset, store.size());
    QCOMPARE(timeline.events.size(), 1);
    QCOMPARE(timeline.events.first().offset, frontLost ? qint64(0) : qint64(front.size()));
    // A save that took its snapshot before the change never writes what someone else put there.
    QByteArray read;
    QString why;
    const bool readable = before.read(
        [&read](const QByteArray &block) {
            read += block;
            return true;
        },
        &why);
    QVERIFY2(frontLost ? !readable : read == front, qPrintable(why));
    if (!frontLost) {
        // Someone else's file is not ours to remove.
        store.clear();
        QTRY_VERIFY(store.filePath().isEmpty());
        QCOMPARE(fileBytes(path), QByteArray("someone else's"));
    }
}

// Every folder made on the way and the file are the user's alone from their first moment.
void TestCaptureStore::privateUnderOpenUmask()
{
    const mode_t old = ::umask(0);
    const auto restore = qScopeGuard([old] { ::umask(old); });
    const QString top = dir.filePath("open-umask");
    CaptureStore store(top + "/a/b");
    store.append("private");
    store.flush();
    QTRY_COMPARE(store.sizeOnDisk(), qint64(7));
    const QStringList made{top, top + "/a", top + "/a/b", store.filePath(),
                           store.filePath() + ".lock"};
    for (const QString &name : made) {
        struct stat st = {};
        QVERIFY2(::stat(QFile::encodeName(name).constData(), &st) == 0, qPrintable(name));
        QVERIFY2((st.st_mode & 077) == 0, qPrintable(name));
    }
}

// A "%1" in the cache path is taken as it stands.
void TestCaptureStore::percentInFolderName()
{
    const QString folder = dir.filePath("%1 %2 100% cache");
    CaptureStore store(folder);
    QSignalSpy failures(&store, &CaptureStore::storageFailed);
    store.append("percent");
    store.flush();
    QTRY_COMPARE(store.sizeOnDisk(), qint64(7));
    QCOMPARE(QFileInfo(store.filePath()).path(), folder);
    QCOMPARE(fileBytes(store.filePath()), QByteArray("percent"));
    QVERIFY(failures.isEmpty());
}

void TestCaptureStore::ownFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("own");
    QTest::newRow("the capture's file") << "<own>" << true;
    QTest::newRow("its lock") << "<own>.lock" << true;
    QTest::newRow("a leftover") << "capture-1-1.txt" << true;
    QTest::newRow("a leftover's lock") << "capture-1-1.txt.lock" << true;
    QTest::newRow("its time record") << "<own>.times" << true;
    QTest::newRow("a leftover's events") << "capture-1-1.txt.events" << true;
    QTest::newRow("another file in the folder") << "notes.txt" << false;
    QTest::newRow("a capture's name elsewhere") << "../capture-1-1.txt" << false;
}

// What a save may not write over: it would be removed as the capture's, or offered and
// discarded as a leftover.
void TestCaptureStore::ownFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, own);
    const QString folder = dir.filePath("own");
    CaptureStore store(folder);
    store.append("own");
    store.flush();
    QTRY_COMPARE_WITH_TIMEOUT(store.sizeOnDisk(), qint64(3), WaitMs);
    const QString path
        = name.startsWith("<own>") ? store.filePath() + name.mid(5) : folder + '/' + name;
    QVERIFY(QFile::exists(path) || writeFile(path, "x"));
    QCOMPARE(store.isOwnFile(path), own);
}

// Killed at random moments during a fast stream, the store leaves a file that is exactly the
// stream's first bytes.
void TestCaptureStore::killLeavesPrefix()
{
    QRandomGenerator random(21);
    const QString folder = dir.filePath("killed");
    qint64 lostMost = 0;
    for (int kill = 0; kill < 50; ++kill) {
        QDir(folder).removeRecursively();
        QProcess child;
        child.start(QCoreApplication::applicationFilePath(), {"--stream", folder});
        QVERIFY2(child.waitForReadyRead(WaitMs), "the child never streamed");
        QTest::qWait(int(random.bounded(50, 600)));
        const QStringList live = QDir(folder).entryList({"capture-*.txt"}, QDir::Files);
        // The live capture is known by its file alone, should its lock file go.
        if (kill == 0) {
            QCOMPARE(live.size(), 1);
            QVERIFY2(PrivateFile::heldByAnother(folder + '/' + live.first()),
                     "a live capture's file is not held");
        }
        child.kill();
        QVERIFY2(child.waitForFinished(WaitMs), "the child did not end when killed");
        const QStringList files = QDir(folder).entryList({"capture-*.txt"}, QDir::Files);
        QVERIFY2(files.size() <= 1, qPrintable(files.join(' ')));
        for (const QString &name : files)
            QVERIFY2(!PrivateFile::heldByAnother(folder + '/' + name), "a dead run's file is held");
        const QByteArray kept
            = files.isEmpty() ? QByteArray() : fileBytes(folder + '/' + files.first());
        QVERIFY2(kept == streamBytes(0, kept.size()),
                 qPrintable(
                     QStringLiteral("kill %1: %2 bytes, not a prefix").arg(kill).arg(kept.size())));
        const QList<QByteArray> sent = child.readAllStandardOutput().trimmed().split('\n');
        lostMost = qMax(lostMost, sent.last().toLongLong() - kept.size());
    }
    qInfo("most bytes sent but not in the file at a kill: %lld", lostMost);
}

void TestCaptureStore::startKeepsTimelineEitherWay_data()
{
    QTest::addColumn<QString>("answer");
    QTest::addColumn<QStringList>("events");
    QTest::addColumn<qint64>("lastPoint");
    QTest::newRow("a start: what came since")
        << "confirm" << QStringList{"start@0 sent", "marker@2 B"} << qint64(4);
    QTest::newRow("a stop: all of it, in place")
        << "putBack" << QStringList{"marker@6 A", "start@6 sent", "marker@8 B", "putback@10 back"}
        << qint64(10);
    QTest::newRow("emptied") << "clear" << QStringList{} << qint64(-1);
}

// Events and times that come while a Start waits for its answer land where the answer puts
// the capture, in the store and in the files beside its own.
void TestCaptureStore::startKeepsTimelineEitherWay()
{
    QFETCH(QString, answer);
    QFETCH(QStringList, events);
    QFETCH(qint64, lastPoint);
    CaptureStore store(dir.filePath("either-way"));
    const QDateTime first = store.startedUtc();
    store.append("before");
    store.record(CaptureEvent::Type::Marker, "A");
    // Apart on the clocks.
    QTest::qWait(100);
    QSignalSpy resets(&store, &CaptureStore::eventsReset);
    store.beginStart();
    QVERIFY(store.events().isEmpty());
    store.record(CaptureEvent::Type::Start, "sent");
    store.append("ab");
    const CaptureEvent b = store.record(CaptureEvent::Type::Marker, "typed later");
    QVERIFY(store.relabel(b.id, "B"));
    store.append("cd");
    const qint64 waited = store.elapsedMicros();
    if (answer == "confirm") {
        store.confirmStart();
        QVERIFY(store.startedUtc() > first);
    } else if (answer == "putBack") {
        store.putBack();
        store.record(CaptureEvent::Type::PutBack, "back");
        QCOMPARE(store.startedUtc(), first);
        QVERIFY(store.events().at(2).micros >= b.micros + 100000);
    } else {
        store.clear();
    }
    QCOMPARE(resets.size(), 2);
    QCOMPARE(described(store.events()), events);
    const QVector<TimePoint> times = store.times();
    QCOMPARE(times.isEmpty() ? -1 : times.last().offset, lastPoint);
    if (answer == "clear")
        return;
    // The moments of what came after the press count from it, or from the first start; the
    // record may place a delivery a little before its read.
    const qint64 early = TimeRecord::MaxSpreadMicros + TimeRecord::DefaultToleranceMicros;
    if (answer == "confirm")
        QVERIFY(times.last().micros >= b.micros - early && times.last().micros <= waited);
    else
        QVERIFY(times.last().micros >= b.micros + 100000 - early);
    store.flush();
    QTRY_COMPARE_WITH_TIMEOUT(described(SpoolTimeline::load(store.filePath(), store.size()).events),
                              events, WaitMs);
    const CaptureTimeline kept = SpoolTimeline::load(store.filePath(), store.size());
    QCOMPARE(kept.startUtc.toMSecsSinceEpoch(), store.startedUtc().toMSecsSinceEpoch());
    QCOMPARE(kept.times.points().last().offset, lastPoint);
}

// Killed while it streams and records events, a run leaves its time record and events beside
// the capture: each event placed before the last bytes the file holds, and the time of those
// bytes. They come back with the leftover, and go with it.
void TestCaptureStore::killKeepsTimeline_data()
{
    QTest::addColumn<int>("extraMs");
    // Now and then between the timeline's write and the block's.
    for (const int ms : {0, 37, 113, 251, 389})
        QTest::addRow("%d ms later", ms) << ms;
}

void TestCaptureStore::killKeepsTimeline()
{
    QFETCH(int, extraMs);
    const QString folder = dir.filePath(QStringLiteral("killed-timeline %1").arg(extraMs));
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--stream", folder, "events"});
    QVERIFY2(child.waitForReadyRead(WaitMs), "the child never streamed");
    // Long enough for a few flushes and a sync.
    qint64 sent = 0;
    QByteArray printed;
    while (sent <= 4 << 20) {
        QVERIFY2(child.waitForReadyRead(WaitMs), "the child stopped streaming");
        printed += child.readAllStandardOutput();
        const QList<QByteArray> lines = printed.split('\n');
        sent = lines.value(lines.size() - 2).toLongLong();
    }
    QTest::qWait(extraMs); // the moment of the kill, not a wait for data
    child.kill();
    QVERIFY2(child.waitForFinished(WaitMs), "the child did not end when killed");
    QList<LeftoverCapture> leftovers = Leftovers::find(folder);
    QCOMPARE(leftovers.size(), 1);
    const qint64 size = leftovers.first().size;
    const CaptureTimeline timeline
        = CaptureSnapshot::ofLeftover(leftovers.first().path, size).timeline();
    QVERIFY(qAbs(timeline.startUtc.secsTo(QDateTime::currentDateTimeUtc())) < 60);
    // A marker after every fifth delivery of 4096 bytes, labelled with its offset.
    const qint64 every = 5 * 4096;
    QVERIFY2(
        timeline.events.size() >= size / every - 1 && timeline.events.size() <= size / every,
        qPrintable(QStringLiteral("%1 events for %2 bytes").arg(timeline.events.size()).arg(size)));
    for (int i = 0; i < timeline.events.size(); ++i) {
        QCOMPARE(timeline.events.at(i).offset, (i + 1) * every);
        QCOMPARE(timeline.events.at(i).label, QString::number((i + 1) * every));
    }
    const QVector<TimePoint> points = timeline.times.points();
    QVERIFY(points.size() >= 2);
    // Handed over with its bytes, and cut to them should the kill come between the two writes.
    QCOMPARE(points.last().offset, size);
    for (int i = 1; i < points.size(); ++i)
        QVERIFY(points.at(i).offset > points.at(i - 1).offset
                && points.at(i).micros >= points.at(i - 1).micros);

    QString reason;
    QVERIFY2(Leftovers::remove(&leftovers.first(), &reason), qPrintable(reason));
    QTRY_COMPARE_WITH_TIMEOUT(QDir(folder).entryList(QDir::Files), QStringList(), WaitMs);
}

void TestCaptureStore::timelineCutToTheCapture_data()
{
    QTest::addColumn<QString>("companions"); // files, fifos, links
    QTest::addColumn<qint64>("tailOffset");
    QTest::addColumn<qint64>("tailMicros");
    QTest::addColumn<qint64>("size");
    QTest::addColumn<qint64>("wantMicros"); // at the capture's end
    QTest::newRow("a little ahead")
        << "files" << qint64(100) << qint64(4000) << qint64(60) << qint64(2400);
    // Two hours at 4 Mbaud between the last two points, 400 kB of them never written.
    QTest::newRow("hours ahead") << "files" << qint64(2880000050) << qint64(7200002000)
                                 << qint64(2879600050) << qint64(7199002000);
    // Never read: a pipe would block the recovery for good, and a link could name anything.
    QTest::newRow("pipes") << "fifos" << qint64(100) << qint64(4000) << qint64(60) << qint64(-1);
    QTest::newRow("links") << "links" << qint64(100) << qint64(4000) << qint64(60) << qint64(-1);
}

// A crash between the timeline's write and the block's leaves the timeline ahead: read back, it
// ends where the capture does.
void TestCaptureStore::timelineCutToTheCapture()
{
    QFETCH(QString, companions);
    QFETCH(qint64, tailOffset);
    QFETCH(qint64, tailMicros);
    QFETCH(qint64, size);
    QFETCH(qint64, wantMicros);
    const QString path = dir.filePath(QStringLiteral("ahead-%1.txt").arg(QTest::currentDataTag()));
    SpoolTimeline writer;
    QString reason;
    QVERIFY2(writer.open(path, &reason), qPrintable(reason));
    SpoolTimeline::Delta delta;
    delta.startUtc = QDateTime::currentDateTimeUtc();
    delta.settled = {{10, 1000}, {50, 2000}};
    delta.hasTail = true;
    delta.tail = {tailOffset, tailMicros};
    CaptureEvent event;
    for (const qint64 offset : {qint64(50), qint64(60), tailOffset}) {
        event.id = offset;
        event.offset = offset;
        event.label = "line\tend\n";
        delta.events << event;
    }
    QVERIFY2(writer.write(delta, &reason), qPrintable(reason));
    writer.close();
    for (const QString &companion : {path + ".times", path + ".events"}) {
        QVERIFY(QFile::exists(companion));
        if (companions == "files")
            continue;
        const QString elsewhere = companion + ".elsewhere";
        QVERIFY(QFile::rename(companion, elsewhere));
        if (companions == "links")
            QVERIFY(QFile::link(elsewhere, companion));
        else
            QCOMPARE(::mkfifo(QFile::encodeName(companion).constData(), 0600), 0);
    }
    const CaptureTimeline back = SpoolTimeline::load(path, size);
    if (wantMicros < 0) {
        QVERIFY(back.events.isEmpty());
        QVERIFY(back.times.points().isEmpty());
        return;
    }
    QCOMPARE(described(back.events),
             (QStringList{"marker@50 line\tend\n", "marker@60 line\tend\n"}));
    const QVector<TimePoint> points = back.times.points();
    QCOMPARE(points.size(), 3);
    QCOMPARE(points.last().offset, size);
    QCOMPARE(points.last().micros, wantMicros);
    QCOMPARE(back.startUtc.toMSecsSinceEpoch(), delta.startUtc.toMSecsSinceEpoch());
}

void TestCaptureStore::storageFaults_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder cannot be made") << "--under-a-file" << systemText(ENOTDIR);
    // The signal an exceeded limit raises would end the program if it were not held off.
    QTest::newRow("file-size limit") << "--size-limit" << systemText(EFBIG);
    // Root passes any permission, so the child drops to an unprivileged user first.
    QTest::newRow("parent read-only") << "--parent-read-only"
                                      << "/ro/cache: " + systemText(EACCES);
    QTest::newRow("others may write") << "--others-may-write"
                                      << "/open/cache: others may write into the folder";
    QTest::newRow("another user's folder") << "--another-users"
                                           << "/foreign/cache: the folder belongs to another user";
}

void TestCaptureStore::storageFaults()
{
    QFETCH(QString, mode);
    QFETCH(QString, reason);
    if (mode == "--another-users" && ::getuid() != 0)
        QSKIP("giving a folder to another user needs root");
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {mode, dir.path()});
    QVERIFY2(child.waitForFinished(3 * WaitMs), "the child did not end");
    QCOMPARE(child.exitStatus(), QProcess::NormalExit);
    const QString out = QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed();
    // Once: the reason, what is kept in memory, and whether every byte is still there.
    QVERIFY2(out.endsWith(reason + "\nin memory: yes\nall kept: yes") && out.count('\n') == 2,
             qPrintable(out + QString::fromLocal8Bit(child.readAllStandardError())));
}

namespace {

// Child modes: a store whose disk refuses it part of the way through.
int childMain(const QString &mode, const QString &folder)
{
    QString cache = folder + "/limited";
    if (mode == "--under-a-file") {
        cache = folder + "/a-file/cache";
        writeFile(folder + "/a-file", "");
    } else if (mode == "--parent-read-only") {
        cache = folder + "/ro/cache";
        QDir(folder).mkpath("ro");
        ::chmod(QFile::encodeName(folder + "/ro").constData(), 0555);
        if (!testkit::becomeUnprivileged())
            return 1;
    } else if (mode == "--others-may-write" || mode == "--another-users") {
        const bool open = mode == "--others-may-write";
        cache = folder + (open ? "/open/cache" : "/foreign/cache");
        QDir(folder).mkpath(cache);
        if (open ? ::chmod(QFile::encodeName(cache).constData(), 0777) != 0
                 : ::chown(QFile::encodeName(cache).constData(), 65534, 65534) != 0)
            return 1;
    } else {
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
    }
    CaptureStore store(cache);
    QSignalSpy failures(&store, &CaptureStore::storageFailed);
    QByteArray all;
    for (int i = 0; i < 3; ++i) {
        const QByteArray piece(48 * 1024, char('a' + i));
        store.append(piece);
        all += piece;
        store.flush();
    }
    if (failures.isEmpty())
        failures.wait(WaitMs);
    store.append("after");
    all += "after";
    store.flush();
    // Room for a second report, which must not come.
    QTest::qWait(300);
    QTextStream out(stdout);
    for (const QList<QVariant> &failure : qAsConst(failures))
        out << failure.at(0).toString() << '\n';
    out << "in memory: " << (store.sizeInMemory() > 0 ? "yes" : "no") << '\n';
    out << "all kept: " << (store.snapshot().readAll() == all ? "yes" : "no") << '\n';
    return 0;
}

// Child mode: a stream of about 4 MB/s in 4 KiB deliveries, until the process is killed. Prints
// how much was sent, every 50 ms. With events, a marker after every fifth delivery.
int streamForever(const QString &folder, bool events)
{
    CaptureStore store(folder);
    qint64 sent = 0;
    QTimer delivery;
    QObject::connect(&delivery, &QTimer::timeout, [&] {
        store.append(streamBytes(sent, 4096));
        sent += 4096;
        if (events && sent % (5 * 4096) == 0)
            store.record(CaptureEvent::Type::Marker, QString::number(sent));
    });
    delivery.start(1);
    QTimer progress;
    QObject::connect(&progress, &QTimer::timeout, [&] {
        std::printf("%lld\n", static_cast<long long>(sent));
        std::fflush(stdout);
    });
    progress.start(50);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    // A test function that still hangs fails by name, well before the test program's limit.
    if (!qEnvironmentVariableIsSet("QTEST_FUNCTION_TIMEOUT"))
        qputenv("QTEST_FUNCTION_TIMEOUT", "75000");
    testkit::ChildModes modes{{"--stream", [](const QStringList &a) {
                                   return streamForever(a.value(0), a.value(1) == "events");
                               }}};
    for (const char *mode : {"--size-limit", "--under-a-file", "--parent-read-only",
                             "--others-may-write", "--another-users"})
        modes.insert(mode, [mode](const QStringList &a) { return childMain(mode, a.value(0)); });
    return testkit::testMain<QCoreApplication, TestCaptureStore>(argc, argv, modes);
}

#include "tst_capturestore.moc"
