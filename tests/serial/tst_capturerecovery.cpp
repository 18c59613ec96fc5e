#include "childmodes.h"
#include "modalanswerer.h"
#include "testfiles.h"
#include "windowprobe.h"

#include "app/mainwindow.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "serial/leftovers.h"

#include <QAction>
#include <QDir>
#include <QLockFile>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <sys/stat.h>
#include <unistd.h>

using testfiles::fileBytes;
using testfiles::writeFile;

// Captures that earlier runs left behind, offered back at the next start.
class TestCaptureRecovery : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString cache;
    testkit::WindowProbe probe;
    std::unique_ptr<ModalAnswerer> answerer;

    void startWindow();
    QString plant(const QString &name, const QByteArray &bytes);

private slots:
    void init();
    void cleanup();
    void leftoverOffered_data();
    void leftoverOffered();
    void killedRunOfferedLiveOneNot();
    void quietWhenNothingToOffer_data();
    void quietWhenNothingToOffer();
    void unreadableLeftoverSaysWhy();
    void liveCaptureFileRefusedAsTarget();
};

void TestCaptureRecovery::init()
{
    cache = CaptureStore::defaultFolder();
    QDir(cache).removeRecursively();
    QVERIFY(QDir().mkpath(cache));
    QVERIFY(QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    answerer = std::make_unique<ModalAnswerer>();
}

void TestCaptureRecovery::cleanup()
{
    probe.closeWindow();
    answerer.reset();
    QDir(cache).removeRecursively();
}

void TestCaptureRecovery::startWindow()
{
    probe.openWindow();
    probe.window->show();
}

QString TestCaptureRecovery::plant(const QString &name, const QByteArray &bytes)
{
    const QString path = cache + '/' + name;
    writeFile(path, bytes);
    // Last written a while ago, by a run long gone that left no lock.
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    file.setFileTime(QDateTime::currentDateTime().addSecs(-3600),
                     QFileDevice::FileModificationTime);
    return path;
}

void TestCaptureRecovery::leftoverOffered_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("target");
    QTest::addColumn<bool>("kept");
    QTest::newRow("Save…") << QStringLiteral("Save…") << "rescued.txt" << false;
    QTest::newRow("Save… that fails") << QStringLiteral("Save…") << "no-folder/rescued.txt" << true;
    QTest::newRow("Save… onto itself") << QStringLiteral("Save…") << "" << true;
    QTest::newRow("Discard") << QStringLiteral("Discard") << "" << false;
    QTest::newRow("Later") << QStringLiteral("Later") << "" << true;
}

void TestCaptureRecovery::leftoverOffered()
{
    QFETCH(QString, choice);
    QFETCH(QString, target);
    QFETCH(bool, kept);
    QByteArray bytes(200000, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 % 251);
    const QString leftover = plant("capture-4000000-3.txt", bytes);
    target = target.isEmpty() ? leftover : dir.filePath(target);
    if (target != leftover)
        QFile::remove(target);
    answerer->choice = choice;
    answerer->fileName = target;
    startWindow();
    QTRY_VERIFY(!answerer->boxes.isEmpty());
    QVERIFY2(answerer->boxes.first().contains("capture-4000000-3.txt: 200.0 kB, last written"),
             qPrintable(answerer->boxes.first()));
    if (choice == "Save…" && !kept) {
        QTRY_VERIFY(!QFile::exists(leftover));
        QCOMPARE(fileBytes(target), bytes);
    } else if (choice == "Save…") {
        // The failure is told, and the leftover stays as it was.
        QTRY_COMPARE(answerer->boxes.size(), 2);
        QVERIFY2(answerer->boxes.last().startsWith("Error: "), qPrintable(answerer->boxes.last()));
        QTRY_VERIFY(!probe.saver()->isBusy());
    } else {
        QTRY_COMPARE(QFile::exists(leftover), kept);
        QVERIFY(!QFile::exists(target) || target == leftover);
    }
    if (kept)
        QCOMPARE(fileBytes(leftover), bytes);
    // Either way its lock goes with it, and the next start offers again what was kept.
    QTRY_VERIFY(!QFile::exists(leftover + ".lock"));
    const int seen = answerer->boxes.size();
    answerer->choice = "Later";
    startWindow();
    QTRY_COMPARE(answerer->boxes.size(), kept ? seen + 1 : seen);
    QCOMPARE(answerer->boxes.size(), kept ? seen + 1 : seen);
}

// A capture that a running program holds is never offered; once that program is killed, it is,
// and saved byte for byte.
void TestCaptureRecovery::killedRunOfferedLiveOneNot()
{
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--hold-capture"});
    QVERIFY(child.waitForReadyRead(30000));
    const QByteArray sent = child.readAllStandardOutput().trimmed();
    QCOMPARE(sent.left(5), QByteArray("held "));
    const QString held = QString::fromLocal8Bit(sent.mid(5));

    startWindow();
    QVERIFY(Leftovers::find(cache).isEmpty());
    QTRY_VERIFY(QFile::exists(held + ".lock"));
    QCOMPARE(fileBytes(held), QByteArray("the capture of a running program"));
    QVERIFY(answerer->boxes.isEmpty());

    child.kill();
    QVERIFY(child.waitForFinished(30000));
    const QString target = dir.filePath("from-killed.txt");
    answerer->choice = "Save…";
    answerer->fileName = target;
    startWindow();
    QTRY_VERIFY(!QFile::exists(held));
    QCOMPARE(answerer->boxes.size(), 1);
    QCOMPARE(fileBytes(target), QByteArray("the capture of a running program"));
}

void TestCaptureRecovery::quietWhenNothingToOffer_data()
{
    QTest::addColumn<QString>("name");
    QTest::addColumn<bool>("removed");
    QTest::newRow("empty leftover") << "capture-4000000-1.txt" << true;
    QTest::newRow("not a capture's name") << "capture-notes.txt" << false;
    QTest::newRow("a name of ours with more") << "capture-4000000-1.txt.bak" << false;
    QTest::newRow("another user's") << "capture-4000000-2.txt" << false;
}

// An empty leftover goes without a word; files that are not ours stay, and nothing is asked.
void TestCaptureRecovery::quietWhenNothingToOffer()
{
    QFETCH(QString, name);
    QFETCH(bool, removed);
    const QString path = plant(name, removed ? QByteArray() : QByteArray("not ours"));
    if (QTest::currentDataTag() == QLatin1String("another user's")
        && ::chown(QFile::encodeName(path).constData(), 65534, 65534) != 0)
        QSKIP("giving a file to another user needs root");
    startWindow();
    QTRY_COMPARE(QFile::exists(path), !removed);
    QVERIFY(!QFile::exists(path + ".lock"));
    QTest::qWait(100);
    QVERIFY(answerer->boxes.isEmpty());
    QVERIFY(!QApplication::activeModalWidget());
}

// As another user, who cannot read a leftover of theirs: it is listed with the reason, and kept.
void TestCaptureRecovery::unreadableLeftoverSaysWhy()
{
    const QString leftover = plant("capture-4000000-2.txt", "secret");
    QVERIFY(QFile::setPermissions(leftover, QFile::WriteOwner));
    if (::getuid() == 0) {
        QVERIFY(::chown(QFile::encodeName(cache).constData(), 65534, 65534) == 0);
        QVERIFY(::chown(QFile::encodeName(leftover).constData(), 65534, 65534) == 0);
        QVERIFY(::chmod(QFile::encodeName(dir.path()).constData(), 0755) == 0);
    }
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(), {"--find", cache});
    QVERIFY(child.waitForFinished(30000));
    QCOMPARE(QString::fromLocal8Bit(child.readAllStandardOutput()).trimmed(),
             leftover + " 6 unreadable: " + testfiles::systemText(EACCES));
    QVERIFY(QFile::exists(leftover));
}

// Saving onto the file the capture is being written to, or onto another capture file in its
// folder, would lose it when the program removes that file: refused.
void TestCaptureRecovery::liveCaptureFileRefusedAsTarget()
{
    startWindow();
    probe.store()->append("live");
    probe.store()->flush();
    QTRY_COMPARE(probe.store()->sizeOnDisk(), qint64(4));
    const QString own = probe.store()->filePath();
    for (const QString &target : {own, cache + "/capture-4000000-9.txt"}) {
        answerer->boxes.clear();
        answerer->fileName = target;
        probe.action("actionSave")->trigger();
        QTRY_COMPARE(answerer->boxes.size(), 1);
        QVERIFY2(answerer->boxes.first().startsWith("Error: Could not save file\n"
                                                    + QDir::toNativeSeparators(target)
                                                    + " is one of the program's own capture files"),
                 qPrintable(answerer->boxes.first()));
        QVERIFY(!probe.saver()->isBusy());
    }
    QCOMPARE(fileBytes(own), QByteArray("live"));
    QVERIFY(!QFile::exists(cache + "/capture-4000000-9.txt"));
}

namespace {

// Child modes: a program that holds a capture until it is killed, and a look for leftovers as
// an unprivileged user.
int childMain(const QString &mode, const QString &folder)
{
    if (mode == "--find") {
        if (!testkit::becomeUnprivileged())
            return 1;
        for (const LeftoverCapture &l : Leftovers::find(folder))
            std::printf("%s %lld unreadable: %s\n", qPrintable(l.path),
                        static_cast<long long>(l.size), qPrintable(l.unreadable));
        return 0;
    }
    CaptureStore store;
    store.append("the capture of a running program");
    store.flush();
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        if (store.sizeOnDisk() == store.size()) {
            poll.stop();
            std::printf("held %s\n", qPrintable(store.filePath()));
            std::fflush(stdout);
        }
    });
    poll.start(10);
    return QCoreApplication::exec();
}

} // namespace

int main(int argc, char *argv[])
{
    return testkit::testMain<QApplication, TestCaptureRecovery>(
        argc, argv,
        {{"--find", [](const QStringList &a) { return childMain("--find", a.value(0)); }},
         {"--hold-capture", [](const QStringList &) { return childMain("--hold-capture", {}); }}});
}

#include "tst_capturerecovery.moc"
