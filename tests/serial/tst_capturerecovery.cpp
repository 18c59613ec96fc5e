#include "childmodes.h"
#include "modalanswerer.h"
#include "testfiles.h"
#include "windowprobe.h"

#include "app/mainwindow.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "serial/leftovers.h"
#include "serial/spooltimeline.h"

#include <QAction>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileDialog>
#include <QListWidget>
#include <QLockFile>
#include <QMessageBox>
#include <QProcess>
#include <QPushButton>
#include <QScrollBar>
#include <QTemporaryDir>
#include <QtTest>

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

using testfiles::fileBytes;
using testfiles::writeFile;

namespace {

// Steers the answerer as each modal window shows, before it is answered: the name for each file
// dialog in turn, the answer to the question before a discard, and what the box lists.
class ShowWatch : public QObject
{
public:
    explicit ShowWatch(ModalAnswerer *answerer)
        : answerer(answerer)
    {
        qApp->installEventFilter(this);
    }

    QStringList names; // for the file dialogs in turn; a null one cancels
    QString discardAnswer; // the button to press in the question before a discard
    QStringList listed; // the lines of the leftover box

protected:
    bool eventFilter(QObject *watched, QEvent *event) override
    {
        if (event->type() != QEvent::Show)
            return false;
        if (qobject_cast<QFileDialog *>(watched) && !names.isEmpty()) {
            answerer->fileName = names.takeFirst();
        } else if (auto *box = qobject_cast<QMessageBox *>(watched)) {
            if (box->objectName() == "leftoverBox") {
                const auto *list = box->findChild<QListWidget *>();
                for (int i = 0; list && i < list->count(); ++i)
                    listed << list->item(i)->text();
            } else if (box->windowTitle() == "Discard" && !discardAnswer.isEmpty()) {
                answerer->choice = discardAnswer;
            }
        }
        return false;
    }

private:
    ModalAnswerer *answerer;
};

} // namespace

// Captures that earlier runs left behind, offered back at the next start.
class TestCaptureRecovery : public QObject
{
    Q_OBJECT

private:
    QTemporaryDir dir;
    QString cache;
    testkit::WindowProbe probe;
    std::unique_ptr<ModalAnswerer> answerer;
    std::unique_ptr<ShowWatch> watch;

    void startWindow();
    // Last written ageSeconds ago: the box lists the oldest first.
    QString plant(const QString &name, const QByteArray &bytes, int ageSeconds = 3600);

private slots:
    void init();
    void cleanup();
    void leftoverOffered_data();
    void leftoverOffered();
    void killedRunOfferedLiveOneNot();
    void quietWhenNothingToOffer_data();
    void quietWhenNothingToOffer();
    void unreadableLeftoverSaysWhy();
    void severalSavedInARow_data();
    void severalSavedInARow();
    void manyLeftoversFitTheScreen();
    void sharedFolderSaidAtStart();
    void liveOrStale_data();
    void liveOrStale();
    void liveCaptureFileRefusedAsTarget_data();
    void liveCaptureFileRefusedAsTarget();
};

void TestCaptureRecovery::init()
{
    cache = CaptureStore::defaultFolder();
    QDir(cache).removeRecursively();
    QVERIFY(QDir().mkpath(cache));
    QVERIFY(QFile::setPermissions(cache, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner));
    answerer = std::make_unique<ModalAnswerer>();
    watch = std::make_unique<ShowWatch>(answerer.get());
}

void TestCaptureRecovery::cleanup()
{
    probe.closeWindow();
    watch.reset();
    answerer.reset();
    QDir(cache).removeRecursively();
}

void TestCaptureRecovery::startWindow()
{
    probe.openWindow();
    probe.window->show();
}

QString TestCaptureRecovery::plant(const QString &name, const QByteArray &bytes, int ageSeconds)
{
    const QString path = cache + '/' + name;
    writeFile(path, bytes);
    // Last written a while ago, by a run long gone that left no lock.
    QFile file(path);
    file.open(QIODevice::ReadWrite);
    file.setFileTime(QDateTime::currentDateTime().addSecs(-ageSeconds),
                     QFileDevice::FileModificationTime);
    return path;
}

void TestCaptureRecovery::leftoverOffered_data()
{
    QTest::addColumn<QString>("choice");
    QTest::addColumn<QString>("target");
    QTest::addColumn<QString>("discardAnswer");
    QTest::addColumn<bool>("kept");
    QTest::newRow("Save…") << QStringLiteral("Save…") << "rescued.txt"
                           << "" << false;
    QTest::newRow("Save… that fails") << QStringLiteral("Save…") << "no-folder/rescued.txt"
                                      << "" << true;
    QTest::newRow("Save… onto itself") << QStringLiteral("Save…") << ""
                                       << "" << true;
    QTest::newRow("Discard") << QStringLiteral("Discard") << ""
                             << "" << false;
    QTest::newRow("Discard, then No") << QStringLiteral("Discard") << ""
                                      << "&No" << true;
    QTest::newRow("Later") << QStringLiteral("Later") << ""
                           << "" << true;
}

void TestCaptureRecovery::leftoverOffered()
{
    QFETCH(QString, choice);
    QFETCH(QString, target);
    QFETCH(QString, discardAnswer);
    QFETCH(bool, kept);
    QByteArray bytes(200000, Qt::Uninitialized);
    for (int i = 0; i < bytes.size(); ++i)
        bytes[i] = char(i * 7 % 251);
    const QString leftover = plant("capture-4000000-3.txt", bytes);
    // Its time record and events, as the killed run left them.
    SpoolTimeline companions;
    QString reason;
    QVERIFY2(companions.open(leftover, &reason), qPrintable(reason));
    SpoolTimeline::Delta delta;
    delta.startUtc = QDateTime(QDate(2026, 3, 4), QTime(5, 6, 7), Qt::UTC);
    delta.settled = {{4096, 10000}};
    delta.hasTail = true;
    delta.tail = {200000, 500000};
    CaptureEvent marker;
    marker.id = 1;
    marker.number = 2;
    marker.offset = 100000;
    marker.micros = 250000;
    delta.events = {marker};
    QVERIFY2(companions.write(delta, &reason), qPrintable(reason));
    companions.close();
    const QStringList kin{leftover + ".times", leftover + ".events"};
    target = target.isEmpty() ? leftover : dir.filePath(target);
    if (target != leftover)
        QFile::remove(target);
    answerer->choice = choice;
    answerer->fileName = target;
    watch->discardAnswer = discardAnswer;
    startWindow();
    QTRY_VERIFY(!answerer->boxes.isEmpty());
    QCOMPARE(watch->listed.size(), 1);
    QVERIFY2(watch->listed.first().contains("capture-4000000-3.txt: 200.0 kB, last written"),
             qPrintable(watch->listed.first()));
    if (choice == "Save…" && !kept) {
        QTRY_VERIFY(!QFile::exists(leftover));
        QCOMPARE(fileBytes(target), bytes);
        // The sidecars of the leftover's own timeline.
        const QString stem = target.chopped(4);
        QCOMPARE(fileBytes(stem + ".events.tsv").split('\n').value(1),
                 QByteArray("0.250000\t0.000000\tmarker\t2\t100000\t"
                            + QByteArray::number(bytes.left(100000).count('\n') + 1)
                            + "\t2026-03-04T05:06:07.250Z"));
        QCOMPARE(fileBytes(stem + ".times.tsv"),
                 QByteArray("byte_offset\ttime_s\n4096\t0.010000\n200000\t0.500000\n"));
    } else if (choice == "Save…") {
        // The failure is told, and the leftover stays as it was.
        QTRY_COMPARE(answerer->boxes.size(), 2);
        QVERIFY2(answerer->boxes.last().startsWith("Error: "), qPrintable(answerer->boxes.last()));
        QTRY_VERIFY(!probe.saver()->isBusy());
    } else {
        if (!discardAnswer.isEmpty())
            QTRY_COMPARE(answerer->boxes.size(), 2);
        QTRY_COMPARE(QFile::exists(leftover), kept);
        QVERIFY(!QFile::exists(target) || target == leftover);
    }
    if (kept)
        QCOMPARE(fileBytes(leftover), bytes);
    // Its time record and events stay and go with it.
    for (const QString &file : kin)
        QTRY_COMPARE(QFile::exists(file), kept);
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

void TestCaptureRecovery::severalSavedInARow_data()
{
    // A name per file dialog, in turn: "" cancels, "@N" is leftover N, "@N.lock" its lock and
    // "@link N" a link to it. Then what became of each leftover: the name it was saved to, or
    // "kept"; and the error told, if any.
    QTest::addColumn<QStringList>("names");
    QTest::addColumn<QStringList>("outcomes");
    QTest::addColumn<QString>("error");
    QTest::newRow("three saved") << QStringList{"a.txt", "b.txt", "c.txt"}
                                 << QStringList{"a.txt", "b.txt", "c.txt"} << "";
    QTest::newRow("the second cancelled")
        << QStringList{"a.txt", "", "c.txt"} << QStringList{"a.txt", "kept", "c.txt"} << "";
    QTest::newRow("onto another leftover")
        << QStringList{"@1", "b.txt", "c.txt"} << QStringList{"kept", "b.txt", "c.txt"}
        << "one of the program's own capture files";
    QTest::newRow("onto a later leftover")
        << QStringList{"a.txt", "@2", "c.txt"} << QStringList{"a.txt", "kept", "c.txt"}
        << "one of the program's own capture files";
    QTest::newRow("onto a leftover's lock")
        << QStringList{"@2.lock", "b.txt", "c.txt"} << QStringList{"kept", "b.txt", "c.txt"}
        << "one of the program's own capture files";
    QTest::newRow("onto a link to itself")
        << QStringList{"@link 0", "b.txt", "c.txt"} << QStringList{"kept", "b.txt", "c.txt"}
        << "one of the program's own capture files";
    QTest::newRow("onto a link to a leftover gone")
        << QStringList{"a.txt", "@link 0", "c.txt"} << QStringList{"a.txt", "kept", "c.txt"}
        << "one of the program's own capture files";
    QTest::newRow("onto the name saved to before")
        << QStringList{"a.txt", "a.txt", "c.txt"} << QStringList{"a.txt", "kept", "c.txt"}
        << "was chosen for another capture already";
}

// Each save may finish while the next dialog is open; the others go on all the same, and none
// is saved over another leftover or a file the program removes.
void TestCaptureRecovery::severalSavedInARow()
{
    QFETCH(QStringList, names);
    QFETCH(QStringList, outcomes);
    QFETCH(QString, error);
    QStringList leftovers;
    QList<QByteArray> contents;
    for (int i = 0; i < 3; ++i) {
        contents << QByteArray(50000 + 10000 * i, char('A' + i));
        leftovers << plant(QStringLiteral("capture-4000000-%1.txt").arg(i + 1), contents.last(),
                           3600 - i);
    }
    const QString link = dir.filePath("link.txt");
    QFile::remove(link);
    QVERIFY(QFile::link(leftovers[0], link));
    QStringList targets;
    for (const QString &name : qAsConst(names)) {
        QString target = name.isEmpty() ? QString() : dir.filePath(name);
        if (name.startsWith("@link "))
            target = link;
        else if (name.startsWith('@'))
            target = leftovers[name.mid(1, 1).toInt()] + name.mid(2);
        if (!name.startsWith('@') && !name.isEmpty())
            QFile::remove(target);
        targets << target;
    }
    watch->names = targets;
    answerer->choice = "Save…";
    startWindow();
    QTRY_VERIFY(watch->names.isEmpty());
    QTRY_VERIFY(!probe.saver()->isBusy());
    QStringList errors;
    for (const QString &box : qAsConst(answerer->boxes)) {
        if (box.startsWith("Error: "))
            errors << box;
    }
    QCOMPARE(errors.size(), error.isEmpty() ? 0 : 1);
    if (!error.isEmpty())
        QVERIFY2(errors.first().contains(error), qPrintable(errors.first()));
    for (int i = 0; i < 3; ++i) {
        if (outcomes[i] == "kept") {
            QCOMPARE(fileBytes(leftovers[i]), contents[i]);
        } else {
            QTRY_VERIFY(!QFile::exists(leftovers[i]));
            QCOMPARE(fileBytes(dir.filePath(outcomes[i])), contents[i]);
        }
        QTRY_VERIFY(!QFile::exists(leftovers[i] + ".lock"));
    }
    QFile::remove(link);
}

// Thirty leftovers: the box stays on the screen, and its list scrolls.
void TestCaptureRecovery::manyLeftoversFitTheScreen()
{
    for (int i = 0; i < 30; ++i)
        plant(QStringLiteral("capture-4000000-%1.txt").arg(i + 1), "left", 3600 - i);
    watch.reset();
    answerer.reset();
    QRect shown;
    QRect buttons;
    int listed = 0;
    int scrollRange = 0;
    QTimer poll;
    connect(&poll, &QTimer::timeout, this, [&] {
        auto *box = qobject_cast<QMessageBox *>(QApplication::activeModalWidget());
        if (!box || box->objectName() != "leftoverBox")
            return;
        poll.stop();
        shown = box->frameGeometry();
        const auto *buttonBox = box->findChild<QDialogButtonBox *>();
        buttons = QRect(buttonBox->mapTo(box, QPoint()), buttonBox->size());
        const auto *list = box->findChild<QListWidget *>();
        listed = list ? list->count() : 0;
        scrollRange = list ? list->verticalScrollBar()->maximum() : 0;
        box->escapeButton()->click();
    });
    poll.start(5);
    startWindow();
    QTRY_VERIFY(shown.isValid());
    QVERIFY2(shown.height() <= 600, qPrintable(QString::number(shown.height())));
    QVERIFY(QRect(QPoint(), shown.size()).contains(buttons));
    QCOMPARE(listed, 30);
    QVERIFY(scrollRange > 0);
}

// A folder others may write into is not looked into, and the user is told why, once.
void TestCaptureRecovery::sharedFolderSaidAtStart()
{
    const QString leftover = plant("capture-4000000-1.txt", "kept");
    QVERIFY(::chmod(QFile::encodeName(cache).constData(), 0770) == 0);
    startWindow();
    QTRY_COMPARE(answerer->boxes.size(), 1);
    QCOMPARE(answerer->boxes.first(),
             "Capture folder refused: The program does not use its capture folder " + cache
                 + ", because others could change what is kept there:\n" + cache
                 + ": others may write into the folder");
    QTest::qWait(100);
    QCOMPARE(answerer->boxes.size(), 1);
    QVERIFY(watch->listed.isEmpty());
    QCOMPARE(fileBytes(leftover), QByteArray("kept"));
    QVERIFY(!QFile::exists(leftover + ".lock"));
}

void TestCaptureRecovery::liveOrStale_data()
{
    // The lock names this process, as after a restart that got the crashed run's PID.
    QTest::addColumn<bool>("lockHeld"); // by a live QLockFile of this process
    QTest::addColumn<bool>("fileHeld"); // flocked, as the live writer holds its file
    QTest::addColumn<bool>("lockRemoved"); // from outside
    QTest::addColumn<bool>("offered");
    QTest::newRow("our PID, held by nobody") << false << false << false << true;
    QTest::newRow("our PID, our live lock") << true << false << false << false;
    QTest::newRow("our PID, the file held") << false << true << false << false;
    QTest::newRow("lock removed, the file held") << false << true << true << false;
    QTest::newRow("lock removed, nobody") << false << false << true << true;
}

void TestCaptureRecovery::liveOrStale()
{
    QFETCH(bool, lockHeld);
    QFETCH(bool, fileHeld);
    QFETCH(bool, lockRemoved);
    QFETCH(bool, offered);
    const QString path = plant("capture-4000000-1.txt", "the capture");
    const QString lockPath = path + ".lock";
    QLockFile live(lockPath);
    QVERIFY(live.tryLock(0));
    const QByteArray lockBytes = fileBytes(lockPath);
    if (!lockHeld) {
        // What a run of the same PID that was killed leaves: the same file, nobody holding it.
        live.unlock();
        if (!lockRemoved)
            QVERIFY(writeFile(lockPath, lockBytes));
    }
    const int fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_CLOEXEC);
    QVERIFY(fd >= 0);
    if (fileHeld)
        QCOMPARE(::flock(fd, LOCK_EX | LOCK_NB), 0);
    {
        const QList<LeftoverCapture> found = Leftovers::find(cache);
        QCOMPARE(found.size(), offered ? 1 : 0);
        if (offered)
            QCOMPARE(found.first().path, path);
    }
    ::close(fd);
    QCOMPARE(fileBytes(path), QByteArray("the capture"));
    // A live one's lock is as it was; one taken for an offer went with it.
    QCOMPARE(QFile::exists(lockPath), !offered && !lockRemoved);
    if (!offered && !lockRemoved)
        QCOMPARE(fileBytes(lockPath), lockBytes);
}

void TestCaptureRecovery::liveCaptureFileRefusedAsTarget_data()
{
    QTest::addColumn<QString>("target"); // "live": the file the capture is written to
    QTest::newRow("the live capture's file") << "live";
    QTest::newRow("its lock") << "live.lock";
    QTest::newRow("another capture file") << "capture-4000000-9.txt";
    QTest::newRow("another capture's lock") << "capture-4000000-9.txt.lock";
}

// Saving onto the file the capture is being written to, onto its lock, or onto another capture
// file in its folder, would lose it when the program removes that file: refused.
void TestCaptureRecovery::liveCaptureFileRefusedAsTarget()
{
    QFETCH(QString, target);
    startWindow();
    probe.store()->append("live");
    probe.store()->flush();
    QTRY_COMPARE(probe.store()->sizeOnDisk(), qint64(4));
    const QString own = probe.store()->filePath();
    const QByteArray lock = fileBytes(own + ".lock");
    target = target.startsWith("live") ? own + target.mid(4) : cache + '/' + target;
    answerer->fileName = target;
    probe.action("actionSave")->trigger();
    QTRY_COMPARE(answerer->boxes.size(), 1);
    QVERIFY2(answerer->boxes.first().startsWith("Error: Could not save file\n"
                                                + QDir::toNativeSeparators(target)
                                                + " is one of the program's own capture files"),
             qPrintable(answerer->boxes.first()));
    QVERIFY(!probe.saver()->isBusy());
    QCOMPARE(fileBytes(own), QByteArray("live"));
    QCOMPARE(fileBytes(own + ".lock"), lock);
    QVERIFY(!QFile::exists(cache + "/capture-4000000-9.txt"));
    QVERIFY(!QFile::exists(cache + "/capture-4000000-9.txt.lock"));
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
