#include "serial/capturefile.h"
#include "testfiles.h"

#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <cerrno>
#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <unistd.h>

using testfiles::esc;
using testfiles::fileBytes;
using testfiles::systemText;
using testfiles::writeFile;

namespace {

QString describe(const CaptureFile::SaveOutcome &outcome)
{
    const char *const results[] = {"saved", "open failed", "write failed"};
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
    void fullDiskKeepsOldFile();
    void writableFileInReadOnlyFolder();
    void devicesAreNotReplaced();
    void loadAppendsLines_data();
    void loadAppendsLines();
};

void TestCaptureFile::initTestCase()
{
    QVERIFY(dir.isValid());
    // As Windows users effectively have: a capture must still be saved as the bytes that came.
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("ISO-8859-1"));
}

void TestCaptureFile::save_data()
{
    // clang-format off
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QString>("tail");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty store empties the file") << QStringList() << QString() << QByteArray();
    QTest::newRow("entries back to back, zero byte kept")
        << QStringList{"ab", QString::fromLatin1("c\0\r\n", 4)} << QString() << QByteArray("abc\0\r\n", 6);
    QTest::newRow("UTF-8 whatever the locale, and bytes that are not")
        << QStringList{QString::fromUtf8("µV → 😀"), QString("12") + esc(0xb5) + "V", QString(esc(0xff))} << QString()
        << QByteArray("\xc2\xb5V \xe2\x86\x92 \xf0\x9f\x98\x80" "12\xb5V\xff");
    QTest::newRow("unfinished character last") << QStringList{"a"} << QString(esc(0xe2)) + esc(0x82)
                                               << QByteArray("a\xe2\x82");
    // clang-format on
}

void TestCaptureFile::save()
{
    QFETCH(QStringList, chunks);
    QFETCH(QString, tail);
    QFETCH(QByteArray, bytes);

    const QString name = dir.filePath("save.txt");
    QVERIFY(writeFile(name, "an older, longer capture"));
    QCOMPARE(describe(CaptureFile::save(name, chunks, tail)), QStringLiteral("saved"));
    QCOMPARE(fileBytes(name), bytes);
}

void TestCaptureFile::folderIsNotReplaced()
{
    QCOMPARE(describe(CaptureFile::save(dir.path(), {"capture"})),
             "open failed: " + systemText(EISDIR));
    QVERIFY(QFileInfo(dir.path()).isDir());
}

void TestCaptureFile::fullDiskKeepsOldFile()
{
    QVERIFY(QDir(dir.path()).mkpath("full"));
    const QString name = dir.filePath("full/capture.txt");
    QVERIFY(writeFile(name, "the previous capture"));
    QCOMPARE(child({"--save-with-size-limit", name}), "write failed: " + systemText(EFBIG));
    QCOMPARE(fileBytes(name), QByteArray("the previous capture"));
    QCOMPARE(QDir(dir.filePath("full")).entryList(QDir::Files), QStringList{"capture.txt"});
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
    QCOMPARE(describe(CaptureFile::save(QFile::decodeName(node), {QString(100000, 'x')})),
             "write failed: " + systemText(ENOSPC));
    struct stat st = {};
    QVERIFY(::stat(node.constData(), &st) == 0);
    QVERIFY(S_ISCHR(st.st_mode));
    ::unlink(node.constData());
}

void TestCaptureFile::loadAppendsLines_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("lines");

    QTest::newRow("CRLF, final line end") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("empty lines kept") << QByteArray("\n\r\nx\n") << QStringList{"", "", "x"};
    QTest::newRow("lone CR kept") << QByteArray("a\rb\r\n") << QStringList{"a\rb"};
    QTest::newRow("CR ends the file") << QByteArray("a\r") << QStringList{"a"};
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xef\xbb\xbf\xc2\xb5V\n") << QStringList{QString::fromUtf8("µV")};
    QTest::newRow("BOM only") << QByteArray("\xef\xbb\xbf") << QStringList();
    QTest::newRow("not UTF-8") << QByteArray("\xb5V\n\xff") << QStringList{QString(esc(0xb5)) + "V", QString(esc(0xff))};
    // clang-format on
}

void TestCaptureFile::loadAppendsLines()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, lines);
    const QString name = dir.filePath("open.txt");
    QVERIFY(writeFile(name, file));
    QStringList store{"existing"};
    QString reason;
    QVERIFY(CaptureFile::load(name, &store, &reason));
    QCOMPARE(store, QStringList{"existing"} + lines);
}

namespace {

// Child modes: what a save does under limits the test process itself must not take on.
int childMain(int argc, char *argv[])
{
    QTextStream out(stdout);
    const QString mode = QString::fromLocal8Bit(argv[1]);
    if (mode == "--save-with-size-limit" && argc == 3) {
        const rlimit limit{64 * 1024, 64 * 1024};
        setrlimit(RLIMIT_FSIZE, &limit);
        std::signal(SIGXFSZ, SIG_IGN); // fail the write instead of killing the process
        QStringList chunks;
        for (int i = 0; i < 1024; ++i)
            chunks << QString(1024, 'x');
        out << describe(CaptureFile::save(QString::fromLocal8Bit(argv[2]), chunks)) << '\n';
        return 0;
    }
    if (mode == "--save-unprivileged" && argc == 4) {
        if (::getuid() == 0 && (::setgid(65534) != 0 || ::setuid(65534) != 0))
            return 1;
        for (int i = 2; i < argc; ++i)
            out << describe(CaptureFile::save(QString::fromLocal8Bit(argv[i]), {"capture"}))
                << '\n';
        return 0;
    }
    return 1;
}

} // namespace

int main(int argc, char *argv[])
{
    if (argc > 1 && qstrncmp(argv[1], "--save-", 7) == 0)
        return childMain(argc, argv);
    QCoreApplication app(argc, argv);
    TestCaptureFile test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_capturefile.moc"
