#include "app/mainwindow.h"
#include "console/console.h"
#include "console/receivedtext.h"
#include "modalanswerer.h"
#include "ptydevice.h"
#include "serial/captureflags.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "settings/settingsdialog.h"
#include "simulateddevice.h"
#include "testfiles.h"
#include "windowprobe.h"

#include <QAction>
#include <QLabel>
#include <QRandomGenerator>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <memory>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <thread>
#include <unistd.h>

using testkit::LineChoice;
Q_DECLARE_METATYPE(LineChoice)

using testfiles::fileBytes;
using testfiles::systemText;
using testfiles::writeFile;

// The far end of a pseudo-terminal that the test writes any bytes into.
using RawLine = testkit::PtyDevice;

namespace {

// The reading end of a named pipe, on a thread of its own: it reads nothing until let go, then
// up to limit bytes (all, if negative) and closes.
class PipeReader
{
public:
    PipeReader(const QString &path, qint64 limit)
    {
        ::mkfifo(QFile::encodeName(path).constData(), 0600);
        // Open before the writer, so that the program's open finds a reader.
        fd = ::open(QFile::encodeName(path).constData(), O_RDONLY | O_NONBLOCK);
        ::fcntl(fd, F_SETFL, 0);
        reader = std::thread([this, limit] {
            while (!go)
                std::this_thread::yield();
            char buffer[65536];
            ssize_t n = 0;
            while ((limit < 0 || bytes.size() < limit)
                   && (n = ::read(fd, buffer, sizeof buffer)) > 0)
                bytes.append(buffer, int(n));
            ::close(fd);
            done = true;
        });
    }
    ~PipeReader() { finish(); }
    PipeReader(const PipeReader &) = delete;
    PipeReader &operator=(const PipeReader &) = delete;

    void release() { go = true; }
    // Everything it read; waits until it is done.
    QByteArray finish()
    {
        release();
        if (reader.joinable())
            reader.join();
        return bytes;
    }

    std::atomic<bool> done{false};

private:
    int fd = -1;
    std::atomic<bool> go{false};
    QByteArray bytes;
    std::thread reader;
};

} // namespace

// Drives the main window against a simulated device on a real pseudo-terminal.
class TestSerial : public QObject, private testkit::WindowProbe
{
    Q_OBJECT

private:
    std::unique_ptr<devsim::SimulatedDevice> device;
    std::unique_ptr<ModalAnswerer> answerer;
    QTemporaryDir dir;

    // The device keeps what it sent, for byte-exact checks.
    void startDevice(devsim::DeviceOptions options)
    {
        options.keepSent = true;
        device = std::make_unique<devsim::SimulatedDevice>(options);
        std::string error;
        QVERIFY2(device->open(&error), error.c_str());
        device->start();
    }
    QString devicePath() const { return QString::fromStdString(device->path()); }
    QByteArray sent() const { return QByteArray::fromStdString(device->sent()); }
    void startSave(const QString &name)
    {
        answerer->fileName = name;
        QMetaObject::invokeMethod(window.get(), "on_actionSave_triggered");
    }
    QByteArray saveAs(const QString &name)
    {
        startSave(name);
        if (!QTest::qWaitFor([this] { return !saver()->isBusy(); }, 60000))
            return "<save hangs>";
        return fileBytes(name);
    }
    void verifyDisconnected(const QString &statusText = QStringLiteral("Disconnected"))
    {
        QVERIFY(!port()->isOpen());
        QVERIFY(!console()->isEnabled());
        QVERIFY(action("actionConnect")->isEnabled());
        QVERIFY(!action("actionDisconnect")->isEnabled());
        QVERIFY(action("actionConfigure")->isEnabled());
        QCOMPARE(status(), statusText);
    }

private slots:
    void init();
    void cleanup();
    void connectedSession_data();
    void connectedSession();
    void typedCommandFollowsDevice();
    void lostDeviceIsWaitedFor();
    void lostDeviceKeepsBufferedBytes();
    void reconnectToStreamingDevice();
    void badPorts_data();
    void badPorts();
    void everyByteKept();
    void filesThroughDialogs();
    void saveBesideTheStream();
    void pipeTargets_data();
    void pipeTargets();
    void unwritableCacheKeepsEverything();
    void switchingPortStartsIdle();
    void followsTheStream_data();
    void followsTheStream();
};

void TestSerial::init()
{
    openWindow();
    answerer = std::make_unique<ModalAnswerer>();
    QVERIFY(dir.isValid());
}

void TestSerial::cleanup()
{
    answerer.reset();
    closeWindow();
    device.reset();
}

void TestSerial::connectedSession_data()
{
    // clang-format off
    QTest::addColumn<LineChoice>("line");
    QTest::addColumn<long>("baud");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<bool>("xonXoff");
    QTest::addColumn<QString>("texts");

    QTest::newRow("defaults") << LineChoice{} << 9600L << 1 << false << false << "9600, 8, None, 1, None";
    QTest::newRow("7 bits even, XON/XOFF, echo")
        << LineChoice{{}, "38400", QSerialPort::Data7, QSerialPort::EvenParity, QSerialPort::TwoStop, QSerialPort::SoftwareControl, true}
        << 38400L << 2 << false << true << "38400, 7, Even, 2, XON/XOFF";
    QTest::newRow("custom rate, RTS/CTS")
        << LineChoice{{}, "250000", QSerialPort::Data8, QSerialPort::MarkParity, QSerialPort::OneStop, QSerialPort::HardwareControl}
        << 250000L << 1 << true << false << "250000, 8, Mark, 1, RTS/CTS";
    // clang-format on
}

void TestSerial::connectedSession()
{
    QFETCH(LineChoice, line);
    QFETCH(long, baud);
    QFETCH(int, stopBits);
    QFETCH(bool, rtsCts);
    QFETCH(bool, xonXoff);
    QFETCH(QString, texts);

    startDevice({});
    QVERIFY(connectTo(devicePath(), line));
    QCOMPARE(status(), "Connected to " + devicePath() + " : " + texts);
    const devsim::LineSettings far = device->lineSettings();
    QCOMPARE(far.baudRate, baud);
    QCOMPARE(far.stopBits, stopBits);
    QCOMPARE(far.rtsCts, rtsCts);
    QCOMPARE(far.xonXoff, xonXoff);
    // A pseudo-terminal forces 8 data bits and no parity; the port object keeps what was asked.
    QCOMPARE(port()->dataBits(), line.dataBits);
    QCOMPARE(port()->parity(), line.parity);
    QVERIFY(console()->isEnabled());
    QVERIFY(!action("actionConnect")->isEnabled());
    QVERIFY(action("actionDisconnect")->isEnabled());
    QVERIFY(!action("actionConfigure")->isEnabled());
    QCOMPARE(portOpened, 1);

    // Keys reach the device, arrow keys do not, and only local echo shows what was typed.
    QTest::keyClicks(console(), "hello");
    QTest::keyClick(console(), Qt::Key_Left);
    // A key beyond ASCII reaches the device in the system's encoding, here UTF-8.
    QTextCodec *const locale = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName("UTF-8"));
    QKeyEvent micro(QEvent::KeyPress, 0, Qt::NoModifier, QStringLiteral("µ"));
    QApplication::sendEvent(console(), &micro);
    QTextCodec::setCodecForLocale(locale);
    QTRY_COMPARE_WITH_TIMEOUT(device->received(), std::string("hello\xc2\xb5"), 10000);
    QCOMPARE(console()->toPlainText(), line.echo ? QStringLiteral("helloµ") : QString());

    // Nothing typed or pressed reaches a closed port, nor changes what we believe of the
    // device, nor throws away a capture kept for saving.
    action("actionDisconnect")->trigger();
    store()->append("kept");
    QMetaObject::invokeMethod(window.get(), "writeData", Q_ARG(QByteArray, "s"));
    startStop();
    QCOMPARE(captureState, 0);
    QCOMPARE(capturedBytes(), QByteArray("kept"));
}

void TestSerial::typedCommandFollowsDevice()
{
    devsim::DeviceOptions options;
    options.sampleRate = 2000;
    startDevice(options);
    QVERIFY(connectTo(devicePath(), LineChoice{{}, "115200"}));
    startStop();
    QTRY_COMPARE_WITH_TIMEOUT(device->received(), std::string("s"), 10000);
    QCOMPARE(captureState, 1);
    QVERIFY(indicator().startsWith("Capturing: "));
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().contains("\r\n"), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(console()->toPlainText().contains('\n'), 10000);

    // The device takes a typed "s" as its stop.
    QTest::keyClick(console(), Qt::Key_S, Qt::NoModifier);
    QCOMPARE(captureState, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), sent(), 10000);
    QVERIFY(indicator().startsWith("Kept: "));

    // A typed start goes on after what is kept.
    const QByteArray first = capturedBytes();
    QTest::keyClick(console(), Qt::Key_S, Qt::NoModifier);
    QCOMPARE(captureState, 1);
    QVERIFY(indicator().startsWith("Capturing: "));
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > first.size() + 100, 10000);
    QTest::keyClick(console(), Qt::Key_S, Qt::NoModifier);
    QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), sent(), 10000);
    QVERIFY(capturedBytes().startsWith(first));

    // Start/Stop still knows where the device is: a new capture, then its stop.
    const int mark = sent().size();
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device->streaming(), 10000);
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().contains("\r\n"), 10000);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), sent().mid(mark), 10000);
    QCOMPARE(saveAs(dir.filePath("capture.txt")), sent().mid(mark));
    QCOMPARE(device->received(), std::string("ssssss"));

    // Two commands in one write, as an input method may send them, leave the device idle.
    QMetaObject::invokeMethod(window.get(), "writeData", Q_ARG(QByteArray, "ss"));
    QTRY_COMPARE_WITH_TIMEOUT(device->received(), std::string("ssssssss"), 10000);
    QCOMPARE(captureState, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
}

void TestSerial::lostDeviceIsWaitedFor()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    options.hangupAfter = 5000;
    options.fast = true;
    // Unplugged again and again during a capture, given up on each time, then plugged back in as
    // a new line.
    for (int round = 1; round <= 5; ++round) {
        startDevice(options);
        QVERIFY(connectTo(devicePath()));
        startStop();
        QCOMPARE(captureState, 1);
        QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes.size(), round, 10000);
        // In words: what the system noted last says nothing about a hang-up.
        QCOMPARE(answerer->boxes.last(),
                 QStringLiteral("Critical Error: The device stopped responding or was unplugged."));
        const QRegularExpression waiting("^Device lost at \\d\\d:\\d\\d:\\d\\d; reconnecting when "
                                         + QRegularExpression::escape(devicePath()) + " returns$");
        QVERIFY2(waiting.match(answerer->statusAtBoxes.last()).hasMatch(),
                 qPrintable(answerer->statusAtBoxes.last()));
        QVERIFY(!port()->isOpen());
        QVERIFY(action("actionConnect")->isEnabled());
        QVERIFY(action("actionDisconnect")->isEnabled());
        QCOMPARE(captureState, 0);
        QCOMPARE(indicator(), QStringLiteral("Kept: 5.0 kB"));
        QCOMPARE(capturedBytes(), sent());
        QCoreApplication::processEvents();
        QCOMPARE(answerer->boxes.size(), round);
        action("actionDisconnect")->trigger();
        verifyDisconnected();
    }

    QCOMPARE(saveAs(dir.filePath("after-hang-ups.txt")), sent());
}

void TestSerial::lostDeviceKeepsBufferedBytes()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    options.totalBytes = 3000;
    options.fast = true;
    startDevice(options);
    QVERIFY(connectTo(devicePath()));
    {
        // The bytes reach the port's buffer, but nobody has read them yet.
        const QSignalBlocker blocker(port());
        startStop();
        QDeadlineTimer deadline(10000);
        while (port()->bytesAvailable() < 3000 && !deadline.hasExpired())
            port()->waitForReadyRead(100);
    }
    QMetaObject::invokeMethod(window.get(), "handleError",
                              Q_ARG(QSerialPort::SerialPortError, QSerialPort::ResourceError));
    QTRY_COMPARE(answerer->boxes.size(), 1);
    QCOMPARE(capturedBytes(), sent());
}

void TestSerial::reconnectToStreamingDevice()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    options.totalBytes = 1 << 20;
    options.fast = true;
    options.chunkBytes = 997; // reads then end inside multi-byte characters
    startDevice(options);
    QVERIFY(connectTo(devicePath(), LineChoice{{}, "115200"}));
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 65536, 10000);

    // A plain disconnect leaves the device powered and streaming, and the capture running.
    action("actionDisconnect")->trigger();
    verifyDisconnected();
    QCOMPARE(captureState, 1);
    QVERIFY(indicator().startsWith("Capturing: "));

    QVERIFY(connectTo(devicePath(), LineChoice{{}, "115200"}));
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes().size(), 1 << 20, 60000);
    startStop(); // a stop: the capture is kept
    QCOMPARE(captureState, 0);
    // What the test pattern must hold for the reads to cut characters and lines.
    for (const char *piece : {"\r\n", "\xc2\xb5", "\xe2\x82\xac", "\xf0\x9f\x98\x80"})
        QVERIFY2(sent().contains(piece), piece);
    QVERIFY(sent().contains('\0'));
    QVERIFY(saveAs(dir.filePath("capture.txt")) == sent());
}

void TestSerial::badPorts_data()
{
    // clang-format off
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("baud");

    QTest::newRow("missing path") << "/dev/tarvex-no-such-device" << "9600";
    QTest::newRow("port in use") << "BUSY" << "9600";
    QTest::newRow("zero custom rate") << "DEVICE" << "0";
    QTest::newRow("above the highest rate") << "DEVICE" << "4000001";
    QTest::newRow("negative rate") << "DEVICE" << "-5";
    QTest::newRow("the multiplexer") << "/dev/ptmx" << "9600";
    QTest::newRow("3,000 characters") << "/dev/" + QString(3000, 'x') << "9600";
    // clang-format on
}

void TestSerial::badPorts()
{
    QFETCH(QString, path);
    QFETCH(QString, baud);

    startDevice({});
    QSerialPort holder(devicePath());
    if (path == "BUSY") {
        path = devicePath();
        QVERIFY(holder.open(QIODevice::ReadWrite));
    } else if (path == "DEVICE") {
        path = devicePath();
    }
    store()->append("kept");
    QVERIFY(!connectTo(path, LineChoice{{}, baud}));
    QCOMPARE(answerer->boxes.size(), 1);
    QVERIFY2(answerer->boxes.first().startsWith("Error: ") && answerer->boxes.first().size() > 7,
             qPrintable(answerer->boxes.first()));
    verifyDisconnected(QStringLiteral("Open error"));
    QCOMPARE(capturedBytes(), QByteArray("kept"));
    QCOMPARE(portOpened, 0);
}

void TestSerial::everyByteKept()
{
    RawLine line;
    QVERIFY(!line.path.isEmpty());
    QVERIFY(connectTo(line.path, LineChoice{{}, "115200"}));
    startStop();

    // Any bytes at all, in pieces of any size, ending inside a character.
    QRandomGenerator random(7);
    QByteArray bytes;
    while (bytes.size() < 2498) {
        const QByteArray piece = random.bounded(2)
            ? QByteArray("\xc2\xb5V\r\n\xb5\0\xe2\x82\xac", 10)
            : QByteArray(1, char(random.bounded(256)));
        bytes += piece.left(2498 - bytes.size());
    }
    bytes += "\xe2\x82";
    for (int at = 0; at < bytes.size();) {
        const int size = 1 + int(random.bounded(40));
        QVERIFY(line.send(bytes.mid(at, size)));
        at += size;
    }
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), bytes, 10000);
    // A loaded machine may add a note of the silence since the last byte.
    QTRY_VERIFY2(indicator().startsWith(QStringLiteral("Capturing: 2.5 kB")),
                 qPrintable(indicator()));
    QCOMPARE(saveAs(dir.filePath("connected.txt")), bytes);
    QTRY_VERIFY(console()->toPlainText().contains(QChar::ReplacementCharacter));

    // The unfinished character stays in the capture when the line closes...
    action("actionDisconnect")->trigger();
    QCOMPARE(saveAs(dir.filePath("disconnected.txt")), bytes);

    // ...and does not take the first byte of the next connection as its end.
    QVERIFY(connectTo(line.path, LineChoice{{}, "115200"}));
    QVERIFY(line.send("\xac"));
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), bytes + "\xac", 10000);
    QTRY_VERIFY(console()->toPlainText().endsWith(QChar::ReplacementCharacter));
    QCOMPARE(saveAs(dir.filePath("reconnected.txt")), bytes + "\xac");
    for (const QChar c : console()->toPlainText())
        QVERIFY(!isEscapedByte(c));
}

void TestSerial::filesThroughDialogs()
{
    const QString name = dir.filePath("capture.txt");
    QVERIFY(writeFile(name, "an older, longer capture"));
    store()->append("ab");
    store()->append("c\r\nd");
    QCOMPARE(saveAs(name), QByteArray("abc\r\nd"));
    QVERIFY(answerer->boxes.isEmpty());
    QCOMPARE(answerer->fileDialogs,
             QStringList{"save file|" + QDir::currentPath() + "|text file (*.txt);;all (*.*)"});
    saveAs(QString()); // cancelled: nothing to write, nothing to tell

    // Open appends the file's lines to what is kept.
    answerer->fileName = name;
    QMetaObject::invokeMethod(window.get(), "on_actionOpen_triggered");
    const QByteArray kept("abc\r\ndabcd");
    QCOMPARE(capturedBytes(), kept);

    // Failures say why and leave what is kept alone. A socket exists, so the open dialog takes
    // it, but it cannot be opened as a file.
    saveAs(dir.filePath("no-such-folder/capture.txt"));
    QTRY_COMPARE(answerer->boxes.size(), 1);
    const QString socketName = dir.filePath("socket.txt");
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(socketName).constData(), sizeof address.sun_path);
    QCOMPARE(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    answerer->fileName = socketName;
    QMetaObject::invokeMethod(window.get(), "on_actionOpen_triggered");
    ::close(socketFd);
    QFile::remove(socketName);
    QCOMPARE(answerer->boxes,
             (QStringList{"Error: Could not open file\n" + systemText(ENOENT),
                          "Error: Could not open file\n" + systemText(ENXIO)}));
    QCOMPARE(capturedBytes(), kept);
}

void TestSerial::saveBesideTheStream()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    options.fast = true;
    options.totalBytes = 32 << 20;
    startDevice(options);
    QVERIFY(connectTo(devicePath(), LineChoice{{}, "115200"}));
    window->show();
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(store()->size() > 300000, 10000);

    // A reader that holds the save up, so that everything below happens while it runs.
    const QString name = dir.filePath("held.fifo");
    PipeReader reader(name, -1);
    startSave(name);
    const qint64 given = saver()->toWrite();
    QVERIFY(given >= 300000);
    QTRY_VERIFY(saver()->written() > 0);
    QTRY_VERIFY_WITH_TIMEOUT(store()->size() > given + 100000, 10000);
    QVERIFY(saver()->isBusy());

    // Neither a new capture nor quitting spoils it; the window waits, showing how far it got.
    startStop();
    startStop();
    QCOMPARE(captureState, 1);
    window->close();
    QVERIFY(window->isVisible());
    QTRY_VERIFY(window->findChild<QWidget *>("cancelSaveButton")->isVisible());
    QVERIFY(window->findChild<QWidget *>("saveProgress")->isVisible());
    const QByteArray saved = reader.finish();
    QTRY_VERIFY_WITH_TIMEOUT(!window->isVisible(), 30000);
    QCOMPARE(saved.size(), int(given));
    QVERIFY(saved == sent().left(int(given)));
    QVERIFY(answerer->boxes.isEmpty());
}

void TestSerial::pipeTargets_data()
{
    QTest::addColumn<qint64>("readerTakes"); // -2: no reader at all
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QString>("box");

    QTest::newRow("nobody reads") << qint64(-2) << false
                                  << "Error: Could not open file\n" + systemText(ENXIO);
    QTest::newRow("reader leaves early")
        << qint64(100) << false << "Error: Could not save file\n" + systemText(EPIPE);
    QTest::newRow("cancelled") << qint64(-1) << true << QString();
}

void TestSerial::pipeTargets()
{
    QFETCH(qint64, readerTakes);
    QFETCH(bool, cancel);
    QFETCH(QString, box);

    const QByteArray capture(1 << 20, 'x');
    store()->append(capture);
    const QString name = dir.filePath("target.fifo");
    std::unique_ptr<PipeReader> reader;
    if (readerTakes == -2)
        QCOMPARE(::mkfifo(QFile::encodeName(name).constData(), 0600), 0);
    else
        reader = std::make_unique<PipeReader>(name, readerTakes);
    window->show();
    startSave(name);
    if (cancel) {
        QTRY_VERIFY(window->findChild<QWidget *>("cancelSaveButton")->isVisible());
        QTest::mouseClick(window->findChild<QWidget *>("cancelSaveButton"), Qt::LeftButton);
    }
    if (reader) {
        // A reader that starts before the save has opened the pipe reads its end at once.
        if (!cancel)
            QTRY_VERIFY(saver()->written() > 0);
        reader->release();
    }
    QTRY_VERIFY_WITH_TIMEOUT(!saver()->isBusy(), 30000);
    const QByteArray read = reader ? reader->finish() : QByteArray();
    QTRY_COMPARE(answerer->boxes, box.isEmpty() ? QStringList() : QStringList{box});
    // The program lives on with the capture, and what reached the pipe is a part of it.
    QCOMPARE(capturedBytes(), capture);
    QVERIFY(capture.startsWith(read));
    if (cancel)
        QVERIFY(read.size() < capture.size());
    QVERIFY(window->isVisible());
}

void TestSerial::unwritableCacheKeepsEverything()
{
    // A folder that cannot be made: its parent is a plain file.
    const QByteArray cache = qgetenv("XDG_CACHE_HOME");
    QVERIFY(writeFile(dir.filePath("not-a-folder"), ""));
    qputenv("XDG_CACHE_HOME", QFile::encodeName(dir.filePath("not-a-folder/cache")));
    window = std::make_unique<MainWindow>();
    qputenv("XDG_CACHE_HOME", cache);

    RawLine line;
    QVERIFY(connectTo(line.path, LineChoice{{}, "115200"}));
    startStop();
    QVERIFY(line.send("before the box "));
    QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes.size(), 1, 10000);
    QVERIFY2(answerer->boxes.first().startsWith("Error: Could not keep the capture on disk\n")
                 && answerer->boxes.first().contains(systemText(ENOTDIR)),
             qPrintable(answerer->boxes.first()));
    QVERIFY(line.send("and after it"));
    QTRY_COMPARE(capturedBytes(), QByteArray("before the box and after it"));
    QTRY_COMPARE(indicator(), QStringLiteral("Capturing: 27 B (27 B in memory only)"));
    QCOMPARE(saveAs(dir.filePath("kept.txt")), QByteArray("before the box and after it"));
    QCOMPARE(answerer->boxes.size(), 1);
}

void TestSerial::switchingPortStartsIdle()
{
    RawLine silent;
    QVERIFY(!silent.path.isEmpty());
    startDevice({});
    QVERIFY(connectTo(silent.path, LineChoice{{}, "115200"}));
    startStop();
    QCOMPARE(indicator(), QStringLiteral("Capturing: 0 B"));
    action("actionDisconnect")->trigger();

    // Nothing is known of the device on another port: the next press starts it.
    QVERIFY(connectTo(devicePath(), LineChoice{{}, "115200"}));
    QCOMPARE(captureState, 0);
    QCOMPARE(indicator(), QString());
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(device->streaming(), 10000);
    QVERIFY(indicator().startsWith("Capturing: "));
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 2000, 10000);
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), sent(), 10000);
    // The last bytes after the stop did not look like a stream.
    QCOMPARE(captureState, 0);
}

void TestSerial::followsTheStream_data()
{
    QTest::addColumn<bool>("restart");
    QTest::newRow("program restarted while the device streams") << true;
    QTest::newRow("device power-cycled while disconnected") << false;
}

void TestSerial::followsTheStream()
{
    QFETCH(bool, restart);
    devsim::DeviceOptions options;
    options.sampleRate = 2000;
    const QString link = dir.filePath("tarvex-device");
    const auto plugIn = [&] {
        startDevice(options);
        std::string error;
        QVERIFY2(device->linkTo(link.toStdString(), &error), error.c_str());
    };
    plugIn();
    QVERIFY(connectTo(link, LineChoice{{}, "115200"}));
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().size() > 1000, 10000);
    QByteArray first;
    if (restart) {
        first = capturedBytes();
        openWindow();
        QVERIFY(connectTo(link, LineChoice{{}, "115200"}));
    } else {
        action("actionDisconnect")->trigger();
        first = capturedBytes();
        plugIn();
        QVERIFY(connectTo(link, LineChoice{{}, "115200"}));
        QCOMPARE(captureState, 1);
        startStop(); // believed a stop, it starts the device that lost its state
        QTRY_VERIFY_WITH_TIMEOUT(device->streaming(), 10000);
    }
    QCOMPARE(captureState, 0);

    // The stream shows the device is capturing; nothing that arrived is thrown away.
    QTRY_COMPARE_WITH_TIMEOUT(captureState, 1, 10000);
    QVERIFY(indicator().startsWith("Capturing: "));
    startStop();
    QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
    QCOMPARE(captureState, 0);
    // A restarted program has what came after the old one's; the store kept the old device's.
    QVERIFY(!restart || sent().startsWith(first));
    const QByteArray expected = restart ? sent().mid(first.size()) : first + sent();
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes(), expected, 10000);
}

QTEST_MAIN(TestSerial)
#include "tst_serial.moc"
