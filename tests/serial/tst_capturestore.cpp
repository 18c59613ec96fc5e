#include "serial/capturestore.h"
#include "testfiles.h"

#include <QRandomGenerator>
#include <QTemporaryDir>
#include <QtTest>

#include <cerrno>

#include <sys/resource.h>

using testfiles::fileBytes;
using testfiles::systemText;
using testfiles::writeFile;

namespace {

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
    void clearStartsAfresh_data();
    void clearStartsAfresh();
    void storageFaults_data();
    void storageFaults();
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
    QVERIFY(!QFile::exists(path));
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

void TestCaptureStore::storageFaults_data()
{
    QTest::addColumn<QString>("mode");
    QTest::addColumn<QString>("reason");
    QTest::newRow("folder cannot be made") << "--under-a-file" << systemText(ENOTDIR);
    // The signal an exceeded limit raises would end the program if it were not held off.
    QTest::newRow("file-size limit") << "--size-limit" << systemText(EFBIG);
}

void TestCaptureStore::storageFaults()
{
    QFETCH(QString, mode);
    QFETCH(QString, reason);
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {mode, dir.path()});
    QVERIFY(child.waitForFinished(60000));
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
        failures.wait(30000);
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

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    if (argc == 3 && qstrncmp(argv[1], "--", 2) == 0)
        return childMain(QString::fromLocal8Bit(argv[1]), QString::fromLocal8Bit(argv[2]));
    TestCaptureStore test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_capturestore.moc"
