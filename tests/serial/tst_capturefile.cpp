#include "childmodes.h"
#include "serial/capturefile.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "testfiles.h"

#include <QScopeGuard>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cerrno>
#include <csignal>
#include <fcntl.h>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using testfiles::fileBytes;
using testfiles::systemText;
using testfiles::writeFile;

namespace {

CaptureSnapshot capture(const QList<QByteArray> &blocks)
{
    return CaptureSnapshot(blocks);
}

QString describe(const CaptureFile::SaveOutcome &outcome)
{
    const char *const results[] = {"saved", "open failed", "write failed", "cancelled"};
    return QString::fromLatin1(results[int(outcome.result)])
        + (outcome.reason.isEmpty() ? QString() : ": " + outcome.reason);
}

} // namespace

// Capture files written and read without the dialogs.
class TestCaptureFile : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;

    // Runs this test program again in one of its child modes; returns what it printed.
    QString child(const QStringList &arguments)
    {
        QProcess process;
        // A cache folder the unprivileged user may write, for copies of files saved in place.
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("XDG_CACHE_HOME", dir.filePath("shared-cache"));
        process.setProcessEnvironment(environment);
        process.start(QCoreApplication::applicationFilePath(), arguments);
        if (!process.waitForFinished(60000))
            return QStringLiteral("<child hangs>");
        if (process.exitStatus() != QProcess::NormalExit || process.exitCode() != 0)
            return "<child failed> " + QString::fromLocal8Bit(process.readAllStandardError());
        return QString::fromLocal8Bit(process.readAllStandardOutput()).trimmed();
    }

private slots:
    void initTestCase();
    void save_data();
    void save();
    void folderIsNotReplaced();
    void fullDiskKeepsOldFile_data();
    void fullDiskKeepsOldFile();
    void writableFileInReadOnlyFolder();
    void inPlaceKeepsOldContent_data();
    void inPlaceKeepsOldContent();
    void failedCommitIsNotSaved();
    void cancelStopsTheRunningSave();
    void sidecarsBesidePlainFiles_data();
    void sidecarsBesidePlainFiles();
    void devicesAreNotReplaced();
    void damagedCaptureFile_data();
    void damagedCaptureFile();
    void loadAppendsLines_data();
    void loadAppendsLines();
};

void TestCaptureFile::initTestCase()
{
    QVERIFY(dir.isValid());
    QVERIFY(QDir(dir.path()).mkpath("shared-cache"));
    QVERIFY(::chmod(QFile::encodeName(dir.filePath("shared-cache")).constData(), 0777) == 0);
    // As Windows users effectively have: a capture must still be saved as the bytes that came.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
}

void TestCaptureFile::save_data()
{
    // clang-format off
    QTest::addColumn<QList<QByteArray>>("blocks");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("outcome");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty capture empties the file") << QList<QByteArray>() << false << "saved" << QByteArray();
    QTest::newRow("blocks back to back, any bytes")
        << QList<QByteArray>{"ab", QByteArray("c\0\r\n\xb5\xff", 6), "\xe2\x82"} << false << "saved"
        << QByteArray("abc\0\r\n\xb5\xff\xe2\x82", 10);
    QTest::newRow("cancelled keeps the old file") << QList<QByteArray>{"new"} << true << "cancelled"
                                                  << QByteArray("an older, longer capture");
    // clang-format on
}

void TestCaptureFile::save()
{
    QFETCH(QList<QByteArray>, blocks);
    QFETCH(bool, cancel);
    QFETCH(QString, outcome);
    QFETCH(QByteArray, bytes);

    const QString name = dir.filePath("save.txt");
    QVERIFY(writeFile(name, "an older, longer capture"));
    CaptureFile::SaveControl control;
    control.cancelled = cancel;
    QCOMPARE(describe(CaptureFile::save(name, capture(blocks), &control)), outcome);
    QCOMPARE(fileBytes(name), bytes);
    const QStringList files = cancel ? QStringList{"save.txt"}
                                     : QStringList{"save.events.tsv", "save.times.tsv", "save.txt"};
    QCOMPARE(QDir(dir.path()).entryList(QDir::Files), files);
    for (const QString &file : files)
        QVERIFY(QFile::remove(dir.filePath(file)));
}

void TestCaptureFile::folderIsNotReplaced()
{
    QCOMPARE(describe(CaptureFile::save(dir.path(), capture({"capture"}))),
             "open failed: " + systemText(EISDIR));
    QVERIFY(QFileInfo(dir.path()).isDir());
}

void TestCaptureFile::fullDiskKeepsOldFile_data()
{
    QTest::addColumn<QString>("limit");
    QTest::addColumn<QString>("size");
    QTest::addColumn<QString>("markers"); // in the events table beside it
    QTest::newRow("fails while writing") << "65536"
                                         << "1048576"
                                         << "0";
    // Small enough to wait in the file's buffer until the commit.
    QTest::newRow("fails at the commit") << "4096"
                                         << "8192"
                                         << "0";
    // The capture fits; its events table, a few kB, does not.
    QTest::newRow("the events table fails") << "4096"
                                            << "100"
                                            << "300";
}

void TestCaptureFile::fullDiskKeepsOldFile()
{
    QFETCH(QString, limit);
    QFETCH(QString, size);
    QFETCH(QString, markers);
    QVERIFY(QDir(dir.path()).mkpath("full"));
    const QString name = dir.filePath("full/capture.txt");
    QVERIFY(writeFile(name, "the previous capture"));
    const QString outcome = child({"--save-with-size-limit", name, limit, size, markers});
    QVERIFY2(outcome.startsWith("write failed: ") && outcome.endsWith(systemText(EFBIG)),
             qPrintable(outcome));
    QCOMPARE(fileBytes(name), QByteArray("the previous capture"));
    QCOMPARE(QDir(dir.filePath("full")).entryList(QDir::Files), QStringList{"capture.txt"});
}

void TestCaptureFile::inPlaceKeepsOldContent_data()
{
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("limit"); // of the file size, 0: none
    QTest::addColumn<bool>("cacheWritable");
    QTest::addColumn<QString>("outcome");
    // The copy is on the disk before the file is cut, and the file once it is written again.
    QTest::addColumn<QString>("steps");
    const QString synced = "copy synced, truncating, target synced";
    QTest::newRow("saved") << false << "0" << true << "saved" << synced;
    QTest::newRow("cancelled") << true << "0" << true << "cancelled" << synced;
    QTest::newRow("disk full") << false << "65536" << true << "write failed: " + systemText(EFBIG)
                               << synced;
    QTest::newRow("no copy can be kept")
        << false << "0" << false
        << "open failed: No copy of the old content could be kept\n" + dir.filePath("no-cache")
            + "/tarvex-terminal: "
        << "";
}

// A writable file in a folder where the user may not create files can only be written in place.
void TestCaptureFile::inPlaceKeepsOldContent()
{
    QFETCH(bool, cancel);
    QFETCH(QString, limit);
    QFETCH(bool, cacheWritable);
    QFETCH(QString, outcome);
    QFETCH(QString, steps);
    const QString folder = dir.filePath("in-place");
    QVERIFY(QDir(dir.path()).mkpath("in-place"));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    const QString name = folder + "/capture.txt";
    const QByteArray old(57000, 'o');
    QVERIFY(writeFile(name, old));
    QVERIFY(::chmod(QFile::encodeName(name).constData(), 0666) == 0);
    const QString cache = dir.filePath(cacheWritable ? "cache" : "no-cache");
    QVERIFY(QDir(dir.path()).mkpath(QFileInfo(cache).fileName()));
    QVERIFY(::chmod(QFile::encodeName(cache).constData(), cacheWritable ? 0777 : 0555) == 0);
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);

    const QString said = child({"--save-in-place", name, cache, cancel ? "1" : "0", limit});
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
    QVERIFY2(said.startsWith(outcome), qPrintable(said));
    QCOMPARE(said.mid(said.lastIndexOf('\n') + 1), ("steps: " + steps).trimmed());
    QCOMPARE(fileBytes(name), outcome == "saved" ? QByteArray(1 << 20, 'n') : old);
    // The copy goes once it is no longer needed.
    QCOMPARE(QDir(cache + "/tarvex-terminal").entryList(QDir::Files), QStringList());
}

// A file the user may write but not replace: root's, in a shared folder with the sticky bit.
// The new file is made, but renaming it over the old one fails at the commit.
void TestCaptureFile::failedCommitIsNotSaved()
{
    if (::getuid() != 0)
        QSKIP("the file must belong to another user than the one who saves: run as root");
    const QString folder = dir.filePath("sticky");
    QVERIFY(QDir(dir.path()).mkpath("sticky"));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 01777) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString name = folder + "/capture.txt";
    QVERIFY(writeFile(name, "the previous capture"));
    QVERIFY(::chmod(QFile::encodeName(name).constData(), 0666) == 0);
    QCOMPARE(child({"--save-unprivileged", name}), "write failed: " + systemText(EPERM));
    QCOMPARE(fileBytes(name), QByteArray("the previous capture"));
    QCOMPARE(QDir(folder).entryList(QDir::Files), QStringList{"capture.txt"});
}

// With a second save waiting, Cancel stops the one that runs, and the waiting one goes on.
void TestCaptureFile::cancelStopsTheRunningSave()
{
    // A reader that never reads: the first save fills the pipe and waits for room.
    const QByteArray fifo = QFile::encodeName(dir.filePath("unread.fifo"));
    QCOMPARE(::mkfifo(fifo.constData(), 0600), 0);
    const int reader = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    QVERIFY(reader >= 0);
    CaptureSaver saver;
    QStringList finished;
    connect(&saver, &CaptureSaver::finished, this,
            [&finished](const QString &fileName, const CaptureFile::SaveOutcome &outcome) {
                finished << QFileInfo(fileName).fileName() + ": " + describe(outcome);
            });
    const QByteArray bytes(1 << 20, 'x');
    const QString waiting = dir.filePath("waiting.txt");
    saver.save(QFile::decodeName(fifo), capture({bytes}));
    saver.save(waiting, capture({bytes}));
    QTRY_VERIFY(saver.written() > 0);
    saver.cancel();
    QTRY_COMPARE(finished, (QStringList{"unread.fifo: cancelled", "waiting.txt: saved"}));
    QVERIFY(fileBytes(waiting) == bytes);
    ::close(reader);
}

void TestCaptureFile::sidecarsBesidePlainFiles_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QStringList>("sidecars");
    QTest::newRow("NAME.txt") << "run.txt" << false
                              << QStringList{"run.events.tsv", "run.times.tsv"};
    QTest::newRow("NAME") << "run" << false << QStringList{"run.events.tsv", "run.times.tsv"};
    QTest::newRow("another suffix stays")
        << "run.log" << false << QStringList{"run.log.events.tsv", "run.log.times.tsv"};
    QTest::newRow("cancelled keeps the old ones")
        << "run.txt" << true << QStringList{"run.events.tsv", "run.times.tsv"};
    QTest::newRow("a pipe gets none") << "run.fifo" << false << QStringList{};
}

// The events and the time record go beside a plain file, replaced only when complete, each
// event on the line of its offset.
void TestCaptureFile::sidecarsBesidePlainFiles()
{
    QFETCH(QString, name);
    QFETCH(bool, cancel);
    QFETCH(QStringList, sidecars);
    QDir folder(dir.filePath("sidecars"));
    QVERIFY(folder.removeRecursively() && folder.mkpath("."));
    const QString target = folder.filePath(name);
    int reader = -1;
    if (name.endsWith(".fifo")) {
        QCOMPARE(::mkfifo(QFile::encodeName(target).constData(), 0600), 0);
        reader = ::open(QFile::encodeName(target).constData(), O_RDONLY | O_NONBLOCK);
        QVERIFY(reader >= 0);
    } else {
        for (const QString &file : QStringList{name} + sidecars)
            QVERIFY(writeFile(folder.filePath(file), "old"));
    }
    auto closeReader = qScopeGuard([reader] {
        if (reader >= 0)
            ::close(reader);
    });

    CaptureTimeline timeline;
    timeline.startUtc = QDateTime(QDate(2026, 1, 2), QTime(3, 4, 5, 6), Qt::UTC);
    const auto event = [](CaptureEvent::Type type, qint64 offset, qint64 micros,
                          const QString &label, int number = 0, qint64 duration = 0) {
        CaptureEvent e;
        e.type = type;
        e.offset = offset;
        e.micros = micros;
        e.label = label;
        e.number = number;
        e.durationMicros = duration;
        return e;
    };
    // Not in order of offset: a marker may be placed in the past.
    timeline.events = {event(CaptureEvent::Type::Start, 0, 0, "/dev/ttyUSB0 115200 8N1"),
                       event(CaptureEvent::Type::Marker, 6, 1500000, QString(), 3),
                       event(CaptureEvent::Type::Marker, 2, 500000, "rest\tnow\nthen"),
                       event(CaptureEvent::Type::Silence, 4, 1000000, QString(), 0, 2500000)};
    timeline.times = TimeRecord::fromPoints({{2, 400000}, {6, 4000000}});
    CaptureSnapshot snapshot({"1\n2", "\n3\n"});
    snapshot.setTimeline(timeline);
    CaptureFile::SaveControl control;
    control.cancelled = cancel;
    QCOMPARE(describe(CaptureFile::save(target, snapshot, &control)),
             cancel ? "cancelled" : "saved");

    QStringList expected = QStringList{name} + sidecars;
    expected.sort();
    QCOMPARE(folder.entryList(QDir::Files | QDir::System), expected);
    if (cancel) {
        for (const QString &file : sidecars)
            QCOMPARE(fileBytes(folder.filePath(file)), QByteArray("old"));
        return;
    }
    if (sidecars.isEmpty())
        return;
    QCOMPARE(fileBytes(folder.filePath(sidecars.at(0))),
             QByteArray("onset\tduration\ttype\tlabel\tbyte_offset\tline\tutc\n"
                        "0.000000\t0.000000\tstart\t/dev/ttyUSB0 115200 8N1\t0\t1\t"
                        "2026-01-02T03:04:05.006Z\n"
                        "0.500000\t0.000000\tmarker\trest\\tnow\\nthen\t2\t2\t"
                        "2026-01-02T03:04:05.506Z\n"
                        "1.000000\t2.500000\tsilence\tn/a\t4\t3\t2026-01-02T03:04:06.006Z\n"
                        "1.500000\t0.000000\tmarker\t3\t6\t4\t2026-01-02T03:04:06.506Z\n"));
    QCOMPARE(fileBytes(folder.filePath(sidecars.at(1))),
             QByteArray("byte_offset\ttime_s\n2\t0.400000\n6\t4.000000\n"));
}

void TestCaptureFile::writableFileInReadOnlyFolder()
{
    // Permission bits do not stop root, so the child drops to an unprivileged user first.
    const QString folder = dir.filePath("read-only");
    QVERIFY(QDir(dir.path()).mkpath("read-only"));
    const QString writable = folder + "/writable.txt";
    const QString readOnly = folder + "/read-only.txt";
    QVERIFY(writeFile(writable, "an older, longer capture"));
    QVERIFY(writeFile(readOnly, "kept"));
    QVERIFY(::chmod(QFile::encodeName(writable).constData(), 0666) == 0);
    QVERIFY(::chmod(QFile::encodeName(readOnly).constData(), 0444) == 0);
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0555) == 0);
    QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    const QString outcome = child({"--save-unprivileged", writable, readOnly});
    QVERIFY2(outcome.startsWith("saved\nopen failed: ") && outcome.count('\n') == 1,
             qPrintable(outcome));
    QCOMPARE(fileBytes(writable), QByteArray("capture"));
    QCOMPARE(fileBytes(readOnly), QByteArray("kept"));
    QVERIFY(::chmod(QFile::encodeName(folder).constData(), 0755) == 0);
}

void TestCaptureFile::devicesAreNotReplaced()
{
    // A copy of the system's /dev/full, so that a fault here cannot replace the real one.
    const QByteArray node = QFile::encodeName(dir.filePath("full-device"));
    if (::mknod(node.constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        QSKIP("making a device node needs root");
    QCOMPARE(
        describe(CaptureFile::save(QFile::decodeName(node), capture({QByteArray(100000, 'x')}))),
        "write failed: " + systemText(ENOSPC));
    struct stat st = {};
    QVERIFY(::stat(node.constData(), &st) == 0);
    QVERIFY(S_ISCHR(st.st_mode));
    ::unlink(node.constData());
}

void TestCaptureFile::damagedCaptureFile_data()
{
    QTest::addColumn<bool>("removed");
    QTest::addColumn<bool>("toDevice");
    QTest::newRow("cut short, into a file") << false << false;
    QTest::newRow("cut short, into a device") << false << true;
    QTest::newRow("removed, into a file") << true << false;
    QTest::newRow("removed, into a device") << true << true;
}

// The capture's own file changed under it, as when a cleaner empties the cache folder. Removed,
// it is still read through the handle held open; cut short, the save says so, and a file that
// existed keeps what it had.
void TestCaptureFile::damagedCaptureFile()
{
    QFETCH(bool, removed);
    QFETCH(bool, toDevice);
    CaptureStore store(dir.filePath("damaged-cache"));
    const QByteArray bytes(5000, 'c');
    store.append(bytes);
    store.flush();
    QTRY_COMPARE(store.sizeOnDisk(), qint64(bytes.size()));
    const CaptureSnapshot snapshot = store.snapshot();
    QVERIFY(removed ? QFile::remove(store.filePath()) : QFile::resize(store.filePath(), 2000));

    const QString target = toDevice ? QStringLiteral("/dev/null") : dir.filePath("kept.txt");
    if (!toDevice)
        QVERIFY(writeFile(target, "old content"));
    const CaptureFile::SaveOutcome outcome = CaptureFile::save(target, snapshot);
    if (removed) {
        QCOMPARE(describe(outcome), QStringLiteral("saved"));
    } else {
        QCOMPARE(outcome.result, CaptureFile::SaveResult::WriteFailed);
        QCOMPARE(outcome.reason,
                 QDir::toNativeSeparators(store.filePath()) + ": the file was cut short");
    }
    if (!toDevice)
        QCOMPARE(fileBytes(target), removed ? bytes : QByteArray("old content"));
}

void TestCaptureFile::loadAppendsLines_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QList<QByteArray>>("lines");

    QTest::newRow("CRLF, final line end") << QByteArray("a\r\nb\r\n") << QList<QByteArray>{"a", "b"};
    QTest::newRow("empty lines kept") << QByteArray("\n\r\nx\n") << QList<QByteArray>{"", "", "x"};
    QTest::newRow("lone CR kept") << QByteArray("a\rb\r\n") << QList<QByteArray>{"a\rb"};
    QTest::newRow("CR ends the file") << QByteArray("a\r") << QList<QByteArray>{"a"};
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xef\xbb\xbf\xc2\xb5V\n") << QList<QByteArray>{"\xc2\xb5V"};
    QTest::newRow("BOM only") << QByteArray("\xef\xbb\xbf") << QList<QByteArray>();
    QTest::newRow("not UTF-8") << QByteArray("\xb5V\n\xff") << QList<QByteArray>{"\xb5V", "\xff"};
    // clang-format on
}

void TestCaptureFile::loadAppendsLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QList<QByteArray>, lines);
    const QString name = dir.filePath("open.txt");
    QVERIFY(writeFile(name, file));
    QList<QByteArray> store{"existing"};
    QString reason;
    QVERIFY(CaptureFile::load(name, &store, &reason));
    QCOMPARE(store, QList<QByteArray>{"existing"} + lines);
}

namespace {

// Child modes: what a save does under limits the test process itself must not take on.
int childMain(const QString &mode, const QStringList &a)
{
    QTextStream out(stdout);
    if (mode == "--save-with-size-limit" && a.size() == 4) {
        const rlim_t bytes = rlim_t(a.at(1).toLongLong());
        const rlimit limit{bytes, bytes};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN); // fail the write instead of killing the process
        const QByteArray block(a.at(2).toInt(), 'x');
        CaptureSnapshot snapshot = capture({block});
        CaptureTimeline timeline;
        for (int m = 0; m < a.at(3).toInt(); ++m) {
            CaptureEvent marker;
            marker.type = CaptureEvent::Type::Marker;
            marker.offset = m % 100;
            marker.micros = m * 1000;
            marker.label = QStringLiteral("marker %1").arg(m);
            timeline.events.append(marker);
        }
        snapshot.setTimeline(timeline);
        out << describe(CaptureFile::save(a.at(0), snapshot)) << '\n';
        return 0;
    }
    if (mode == "--save-in-place" && a.size() == 4) {
        qputenv("XDG_CACHE_HOME", QFile::encodeName(a.at(1)));
        if (!testkit::becomeUnprivileged())
            return 1;
        const rlim_t bytes = rlim_t(a.at(3).toLongLong());
        if (bytes > 0) {
            const rlimit limit{bytes, bytes};
            setrlimit(RLIMIT_FSIZE, &limit);
            std::signal(SIGXFSZ, SIG_IGN);
        }
        CaptureFile::SaveControl control;
        control.cancelled = a.at(2) == "1";
        QStringList steps;
        CaptureFile::setInPlaceProbe([&steps](CaptureFile::InPlaceStep step) {
            const char *const names[] = {"copy synced", "truncating", "target synced"};
            steps << names[int(step)];
        });
        // In blocks, as the capture's file is read.
        QList<QByteArray> blocks;
        for (int i = 0; i < 16; ++i)
            blocks.append(QByteArray(1 << 16, 'n'));
        out << describe(CaptureFile::save(a.at(0), capture(blocks), &control)) << '\n'
            << "steps: " << steps.join(", ") << '\n';
        return 0;
    }
    if (mode == "--save-unprivileged" && !a.isEmpty()) {
        if (!testkit::becomeUnprivileged())
            return 1;
        for (const QString &target : a)
            out << describe(CaptureFile::save(target, capture({"capture"}))) << '\n';
        return 0;
    }
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    testkit::ChildModes modes;
    for (const char *mode : {"--save-with-size-limit", "--save-in-place", "--save-unprivileged"})
        modes.insert(mode, [mode](const QStringList &a) { return childMain(mode, a); });
    return testkit::testMain<QCoreApplication, TestCaptureFile>(argc, argv, modes);
}

#include "tst_capturefile.moc"
