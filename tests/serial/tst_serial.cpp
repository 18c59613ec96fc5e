#include "app/mainwindow.h"
#include "console/console.h"
#include "modalanswerer.h"
#include "serial/capturestore.h"
#include "settings/settingsdialog.h"
#include "simulateddevice.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QSerialPort>
#include <QTemporaryDir>
#include <QtTest>

#include <csignal>
#include <memory>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

namespace {

struct Line
{
    QString baud = "9600"; // a listed rate, or the text typed under Custom
    int dataBitsIndex = 3;
    int parityIndex = 0;
    int stopBitsIndex = 0;
    int flowIndex = 0;
    bool echo = false;
};

} // namespace

Q_DECLARE_METATYPE(Line)

namespace {

SettingsDialog *settingsDialog()
{
    for (QWidget *w : QApplication::topLevelWidgets())
        if (auto *dialog = qobject_cast<SettingsDialog *>(w))
            return dialog;
    return nullptr;
}

QByteArray capturedBytes()
{
    QByteArray bytes;
    for (const QString &chunk : qAsConst(receivedChunks))
        bytes += chunk.toUtf8();
    return bytes;
}

QByteArray fileBytes(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray("<missing>");
}

void writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    QVERIFY(file.open(QIODevice::WriteOnly));
    QCOMPARE(file.write(bytes), bytes.size());
}

} // namespace

// Drives the main window against a simulated device on a real pseudo-terminal.
class TestSerial : public QObject
{
    Q_OBJECT

private:
    std::unique_ptr<devsim::SimulatedDevice> device;
    std::unique_ptr<MainWindow> window;
    std::unique_ptr<ModalAnswerer> answerer;
    QTemporaryDir dir;

    void startDevice(const devsim::DeviceOptions &options)
    {
        device = std::make_unique<devsim::SimulatedDevice>(options);
        std::string error;
        QVERIFY2(device->open(&error), error.c_str());
        device->start();
    }
    QString devicePath() const { return QString::fromStdString(device->path()); }
    QAction *action(const char *name) const
    {
        return window->findChild<QAction *>(QLatin1String(name));
    }
    QSerialPort *port() const { return window->findChild<QSerialPort *>(); }
    Console *console() const { return qobject_cast<Console *>(window->centralWidget()); }
    QString status() const
    {
        return window->findChild<QLabel *>(QStringLiteral("statusLabel"))->text();
    }
    void configure(const QString &path, const Line &line = {})
    {
        SettingsDialog *d = settingsDialog();
        const auto box = [d](const char *name) { return d->findChild<QComboBox *>(name); };
        QComboBox *ports = box("serialPortInfoListBox");
        ports->setCurrentIndex(ports->count() - 1);
        ports->lineEdit()->setText(path);
        QComboBox *baud = box("baudRateBox");
        const int listed = baud->findText(line.baud);
        baud->setCurrentIndex(listed >= 0 ? listed : SettingsDialog::CustomBaudRateIndex);
        if (listed < 0)
            QTest::keyClicks(baud->lineEdit(), line.baud);
        box("dataBitsBox")->setCurrentIndex(line.dataBitsIndex);
        box("parityBox")->setCurrentIndex(line.parityIndex);
        box("stopBitsBox")->setCurrentIndex(line.stopBitsIndex);
        box("flowControlBox")->setCurrentIndex(line.flowIndex);
        d->findChild<QCheckBox *>("localEchoCheckBox")->setChecked(line.echo);
        d->findChild<QPushButton *>("applyButton")->click();
    }
    bool connectTo(const QString &path, const Line &line = {})
    {
        configure(path, line);
        action("actionConnect")->trigger();
        return port()->isOpen();
    }
    void startStop() { action("actionStart_Stop_2")->trigger(); }
    void saveAs(const QString &name)
    {
        answerer->fileName = name;
        QMetaObject::invokeMethod(window.get(), "on_actionSave_triggered");
    }
    void open(const QString &name)
    {
        answerer->fileName = name;
        QMetaObject::invokeMethod(window.get(), "on_actionOpen_triggered");
    }
    void verifyDisconnected()
    {
        QVERIFY(!port()->isOpen());
        QVERIFY(!console()->isEnabled());
        QVERIFY(action("actionConnect")->isEnabled());
        QVERIFY(!action("actionDisconnect")->isEnabled());
        QVERIFY(action("actionConfigure")->isEnabled());
    }

private slots:
    void init();
    void cleanup();
    void connectAppliesLine_data();
    void connectAppliesLine();
    void startStopSendsOneCommand();
    void startStopNeedsOpenPort();
    void typedKeysReachDevice_data();
    void typedKeysReachDevice();
    void disconnectKeepsCapture();
    void lostDeviceKeepsCapture();
    void badPorts_data();
    void badPorts();
    void captureIsByteExact();
    void save_data();
    void save();
    void saveFailures();
    void open_data();
    void open();
};

void TestSerial::init()
{
    receivedChunks.clear();
    captureState = 0;
    portOpened = 0;
    window = std::make_unique<MainWindow>();
    answerer = std::make_unique<ModalAnswerer>();
    QVERIFY(dir.isValid());
}

void TestSerial::cleanup()
{
    answerer.reset();
    window.reset();
    device.reset();
}

void TestSerial::connectAppliesLine_data()
{
    // clang-format off
    QTest::addColumn<Line>("line");
    QTest::addColumn<long>("baud");
    QTest::addColumn<int>("stopBits");
    QTest::addColumn<bool>("rtsCts");
    QTest::addColumn<bool>("xonXoff");
    QTest::addColumn<QString>("texts");

    QTest::newRow("defaults") << Line{} << 9600L << 1 << false << false
                              << "9600, 8, None, 1, None";
    QTest::newRow("fast, two stop bits, RTS/CTS")
        << Line{"115200", 3, 0, 2, 1, false} << 115200L << 2 << true << false
        << "115200, 8, None, 2, RTS/CTS";
    QTest::newRow("7 bits even, XON/XOFF") << Line{"38400", 2, 1, 0, 2, false} << 38400L << 1
                                           << false << true << "38400, 7, Even, 1, XON/XOFF";
    QTest::newRow("custom rate") << Line{"250000", 3, 3, 0, 0, false} << 250000L << 1 << false
                                 << false << "250000, 8, Mark, 1, None";
    // clang-format on
}

void TestSerial::connectAppliesLine()
{
    QFETCH(Line, line);
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
    const PortSettings asked = settingsDialog()->currentSettings();
    QCOMPARE(port()->dataBits(), asked.dataBits);
    QCOMPARE(port()->parity(), asked.parity);
    QVERIFY(console()->isEnabled());
    QVERIFY(!action("actionConnect")->isEnabled());
    QVERIFY(action("actionDisconnect")->isEnabled());
    QVERIFY(!action("actionConfigure")->isEnabled());
    QCOMPARE(portOpened, 1);
}

void TestSerial::startStopSendsOneCommand()
{
    devsim::DeviceOptions options;
    options.sampleRate = 2000;
    startDevice(options);
    QVERIFY(connectTo(devicePath(), Line{"115200"}));
    receivedChunks << "before";

    startStop();
    QTRY_COMPARE_WITH_TIMEOUT(device->received(), std::string("s"), 10000);
    QCOMPARE(captureState, 1);
    QVERIFY(!receivedChunks.contains("before"));
    QTRY_VERIFY_WITH_TIMEOUT(capturedBytes().contains("\r\n"), 10000);
    QVERIFY(console()->toPlainText().contains('\n'));

    startStop();
    QTRY_COMPARE_WITH_TIMEOUT(device->received(), std::string("ss"), 10000);
    QCOMPARE(captureState, 0);
    QTRY_VERIFY_WITH_TIMEOUT(!device->streaming(), 10000);
    receivedChunks << "kept";
    QCoreApplication::processEvents();
    QVERIFY2(receivedChunks.contains("kept"), "a stop keeps the store");

    startStop();
    QTRY_COMPARE_WITH_TIMEOUT(device->received(), std::string("sss"), 10000);
    QVERIFY2(!receivedChunks.contains("kept"), "a start empties the store");
}

void TestSerial::startStopNeedsOpenPort()
{
    startDevice({});
    receivedChunks << "kept";
    startStop();
    QCOMPARE(captureState, 0);

    QVERIFY(connectTo(devicePath()));
    action("actionDisconnect")->trigger();
    startStop();
    startStop();
    QCOMPARE(captureState, 0);
    QCOMPARE(receivedChunks, QStringList{"kept"});
    QVERIFY(device->received().empty());
}

void TestSerial::typedKeysReachDevice_data()
{
    // clang-format off
    QTest::addColumn<bool>("echo");
    QTest::newRow("echo off") << false;
    QTest::newRow("echo on") << true;
    // clang-format on
}

void TestSerial::typedKeysReachDevice()
{
    QFETCH(bool, echo);
    startDevice({});
    QVERIFY(connectTo(devicePath(), Line{"9600", 3, 0, 0, 0, echo}));
    QTest::keyClicks(console(), "hello");
    QTest::keyClick(console(), Qt::Key_Left);
    QTRY_COMPARE_WITH_TIMEOUT(device->received(), std::string("hello"), 10000);
    QCOMPARE(console()->toPlainText(), echo ? QStringLiteral("hello") : QString());

    action("actionDisconnect")->trigger();
    QTest::keyClicks(console(), "more");
    QCOMPARE(device->received(), std::string("hello"));
}

void TestSerial::disconnectKeepsCapture()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    options.totalBytes = 3000;
    options.fast = true;
    options.keepSent = true;
    startDevice(options);
    QVERIFY(connectTo(devicePath()));
    startStop();
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes().size(), 3000, 10000);
    startStop();
    action("actionDisconnect")->trigger();
    verifyDisconnected();
    QCOMPARE(status(), QStringLiteral("Disconnected"));
    QCOMPARE(captureState, 0);

    const QString name = dir.filePath("after-disconnect.txt");
    saveAs(name);
    QCOMPARE(fileBytes(name), QByteArray::fromStdString(device->sent()));
}

void TestSerial::lostDeviceKeepsCapture()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    options.hangupAfter = 5000;
    options.fast = true;
    options.keepSent = true;
    // Unplugged again and again, each time during a capture, then plugged into a new line.
    for (int round = 1; round <= 20; ++round) {
        startDevice(options);
        QVERIFY(connectTo(devicePath()));
        startStop();
        QTRY_COMPARE_WITH_TIMEOUT(answerer->boxes.size(), round, 10000);
        QVERIFY2(answerer->boxes.last().startsWith("Critical Error: "),
                 qPrintable(answerer->boxes.last()));
        // Disconnected with the port closed: nothing left to spin on.
        verifyDisconnected();
        QCOMPARE(status(), QStringLiteral("Disconnected"));
        // A hang-up leaves the capture state as it was, so each round's press flips it and
        // only the odd rounds start afresh; nothing received is lost either way.
        QCOMPARE(captureState, round % 2);
        QCOMPARE(capturedBytes().size(), round % 2 ? 5000 : 10000);
        QVERIFY(capturedBytes().endsWith(QByteArray::fromStdString(device->sent())));
        QCoreApplication::processEvents();
        QCOMPARE(answerer->boxes.size(), round);
    }
    const QString name = dir.filePath("after-hang-ups.txt");
    saveAs(name);
    QCOMPARE(fileBytes(name), capturedBytes());
}

void TestSerial::badPorts_data()
{
    // clang-format off
    QTest::addColumn<QString>("path");
    QTest::addColumn<QString>("baud");

    QTest::newRow("missing path") << "/dev/tarvex-no-such-device" << "9600";
    QTest::newRow("regular file") << "REGULAR" << "9600";
    QTest::newRow("not a terminal") << "/dev/null" << "9600";
    QTest::newRow("port in use") << "BUSY" << "9600";
    QTest::newRow("empty custom rate") << "DEVICE" << "";
    QTest::newRow("zero custom rate") << "DEVICE" << "0";
    // clang-format on
}

void TestSerial::badPorts()
{
    QFETCH(QString, path);
    QFETCH(QString, baud);

    startDevice({});
    QSerialPort holder(devicePath());
    if (path == "REGULAR") {
        path = dir.filePath("regular");
        writeFile(path, "not a port");
    } else if (path == "BUSY") {
        path = devicePath();
        QVERIFY(holder.open(QIODevice::ReadWrite));
    } else if (path == "DEVICE") {
        path = devicePath();
    }
    receivedChunks << "kept";
    QVERIFY(!connectTo(path, Line{baud}));
    QCOMPARE(answerer->boxes.size(), 1);
    QVERIFY2(answerer->boxes.first().startsWith("Error: ") && answerer->boxes.first().size() > 7,
             qPrintable(answerer->boxes.first()));
    QCOMPARE(status(), QStringLiteral("Open error"));
    verifyDisconnected();
    QCOMPARE(receivedChunks, QStringList{"kept"});
    QCOMPARE(portOpened, 0);
}

void TestSerial::captureIsByteExact()
{
    devsim::DeviceOptions options;
    options.pattern = devsim::Pattern::TestPattern;
    options.totalBytes = 1 << 20;
    options.fast = true;
    options.keepSent = true;
    options.chunkBytes = 997; // reads then end inside multi-byte characters
    startDevice(options);
    QVERIFY(connectTo(devicePath(), Line{"115200"}));
    startStop();
    QTRY_COMPARE_WITH_TIMEOUT(device->bytesSent(), quint64(1 << 20), 60000);
    QTRY_COMPARE_WITH_TIMEOUT(capturedBytes().size(), 1 << 20, 60000);
    startStop();

    const QString name = dir.filePath("capture.txt");
    saveAs(name);
    const QByteArray sent = QByteArray::fromStdString(device->sent());
    QVERIFY(sent.contains('\0'));
    QVERIFY(sent.contains("\xe2\x82\xac"));
    QVERIFY(fileBytes(name) == sent);
}

void TestSerial::save_data()
{
    // clang-format off
    QTest::addColumn<QStringList>("chunks");
    QTest::addColumn<QByteArray>("bytes");

    QTest::newRow("empty store empties the file") << QStringList() << QByteArray();
    QTest::newRow("entries back to back") << QStringList{"ab", "c\r\n"} << QByteArray("abc\r\n");
    QTest::newRow("zero byte kept") << QStringList{QString::fromLatin1("a\0b", 3)}
                                    << QByteArray("a\0b", 3);
    QTest::newRow("UTF-8 whatever the locale")
        << QStringList{QString::fromUtf8("µV → 😀")} << QByteArray("\xc2\xb5V \xe2\x86\x92 \xf0\x9f\x98\x80");
    // clang-format on
}

void TestSerial::save()
{
    QFETCH(QStringList, chunks);
    QFETCH(QByteArray, bytes);

    const QString name = dir.filePath("save.txt");
    writeFile(name, "an older, longer capture");
    receivedChunks = chunks;
    saveAs(name);
    QCOMPARE(fileBytes(name), bytes);
    QCOMPARE(receivedChunks, chunks);
    QVERIFY(answerer->boxes.isEmpty());
    QCOMPARE(answerer->fileDialogs,
             QStringList{"save file|" + QDir::currentPath() + "|text file (*.txt);;all (*.*)"});

    answerer->fileName = QString();
    writeFile(name, "untouched");
    QMetaObject::invokeMethod(window.get(), "on_actionSave_triggered");
    QCOMPARE(fileBytes(name), QByteArray("untouched"));
}

void TestSerial::saveFailures()
{
    receivedChunks << "capture";
    saveAs(dir.filePath("no-such-folder/capture.txt"));
    QCOMPARE(answerer->boxes, QStringList{"Error: Could not open file"});

    // The disk fills up mid-write, in a child process with a file size limit.
    QVERIFY(QDir(dir.path()).mkdir("full"));
    const QString name = dir.filePath("full/capture.txt");
    writeFile(name, "the previous capture");
    QProcess child;
    child.start(QCoreApplication::applicationFilePath(),
                {"--save-with-size-limit", name, QString::number(64 * 1024)});
    QVERIFY(child.waitForFinished(60000));
    // Also how a sanitizer's finding in the child gets out.
    QVERIFY2(child.exitStatus() == QProcess::NormalExit && child.exitCode() == 0,
             child.readAllStandardError().constData());
    QCOMPARE(child.readAllStandardOutput().trimmed(), QByteArray("Error: Could not save file"));
    QCOMPARE(fileBytes(name), QByteArray("the previous capture"));
    QCOMPARE(QDir(dir.filePath("full")).entryList(QDir::Files), QStringList{"capture.txt"});
    QCOMPARE(receivedChunks, QStringList{"capture"});
}

void TestSerial::open_data()
{
    // clang-format off
    QTest::addColumn<QByteArray>("file");
    QTest::addColumn<QStringList>("appended");

    QTest::newRow("three lines") << QByteArray("a\nb\nc") << QStringList{"a", "b", "c"};
    QTest::newRow("CRLF, final line end") << QByteArray("a\r\nb\r\n") << QStringList{"a", "b"};
    QTest::newRow("lone CR kept") << QByteArray("a\rb\r\n") << QStringList{"a\rb"};
    QTest::newRow("empty file") << QByteArray() << QStringList();
    QTest::newRow("UTF-8 with BOM") << QByteArray("\xef\xbb\xbf\xc2\xb5V\n")
                                    << QStringList{QString::fromUtf8("µV")};
    // clang-format on
}

void TestSerial::open()
{
    QFETCH(QByteArray, file);
    QFETCH(QStringList, appended);

    const QString name = dir.filePath("open.txt");
    writeFile(name, file);
    receivedChunks << "existing";
    open(name);
    QCOMPARE(receivedChunks, QStringList{"existing"} + appended);
    QCOMPARE(answerer->fileDialogs,
             QStringList{"open file|" + QDir::currentPath() + "|text file (*.txt);;all (*.*)"});

    // A socket exists, so the dialog accepts it, but it cannot be opened as a file.
    const QString socketName = dir.filePath("socket.txt");
    const int socketFd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    qstrncpy(address.sun_path, QFile::encodeName(socketName).constData(), sizeof address.sun_path);
    QCOMPARE(::bind(socketFd, reinterpret_cast<sockaddr *>(&address), sizeof address), 0);
    open(socketName);
    ::close(socketFd);
    QFile::remove(socketName);
    QCOMPARE(answerer->boxes, QStringList{"Error: Could not open file"});
    QCOMPARE(receivedChunks, QStringList{"existing"} + appended);
}

// Child mode for saveFailures: saves a 1 MB capture with a file size limit in force.
static int saveWithSizeLimit(int argc, char *argv[])
{
    const rlim_t limit = rlim_t(std::atoll(argv[3]));
    const rlimit rl{limit, limit};
    setrlimit(RLIMIT_FSIZE, &rl);
    std::signal(SIGXFSZ, SIG_IGN); // fail the write instead of killing the process
    QApplication app(argc, argv);
    MainWindow window;
    ModalAnswerer answerer;
    answerer.fileName = QString::fromLocal8Bit(argv[2]);
    for (int i = 0; i < 1024; ++i)
        receivedChunks << QString(1024, 'x');
    QMetaObject::invokeMethod(&window, "on_actionSave_triggered");
    QTextStream(stdout) << answerer.boxes.join('\n') << '\n';
    return 0;
}

int main(int argc, char *argv[])
{
    if (argc == 4 && qstrcmp(argv[1], "--save-with-size-limit") == 0)
        return saveWithSizeLimit(argc, argv);
    QApplication app(argc, argv);
    TestSerial test;
    QTEST_SET_MAIN_SOURCE_PATH
    return QTest::qExec(&test, argc, argv);
}

#include "tst_serial.moc"
