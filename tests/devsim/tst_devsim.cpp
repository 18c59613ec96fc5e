#include "simulateddevice.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
#include <QTextCodec>
#include <QtTest>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <memory>

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

using devsim::DeviceOptions;
using devsim::Pattern;
using devsim::SimulatedDevice;

Q_DECLARE_METATYPE(devsim::Pattern)

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kTimeoutMs = 20000;

bool isValidUtf8(const std::string &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.data(), static_cast<int>(bytes.size()),
                                                 &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

speed_t standardSpeed(long baud)
{
    switch (baud) {
    case 9600:
        return B9600;
    case 115200:
        return B115200;
    default:
        return B38400;
    }
}

// The host's end of the line, driven with plain POSIX as a serial port would be.
class Host
{
public:
    explicit Host(const std::string &path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    { }
    ~Host()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

    bool configure(long baud, tcflag_t cflags = CS8, tcflag_t iflags = 0)
    {
        termios tio{};
        if (::tcgetattr(m_fd, &tio) != 0)
            return false;
        cfmakeraw(&tio);
        tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)) | cflags | CREAD
            | CLOCAL;
        tio.c_iflag |= iflags;
        cfsetspeed(&tio, standardSpeed(baud));
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
            return false;
        return true;
    }

    bool send(const std::string &bytes)
    {
        return ::write(m_fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `limit` bytes arrived, the line hangs up (read gives 0 or EIO) or time runs out.
    std::string read(std::size_t limit, int timeoutMs, bool *hungUp = nullptr)
    {
        std::string data;
        const auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
        while (data.size() < limit && Clock::now() < deadline) {
            pollfd pfd{m_fd, POLLIN, 0};
            ::poll(&pfd, 1, 50);
            char buf[4096];
            const ssize_t n = ::read(m_fd, buf, std::min(sizeof buf, limit - data.size()));
            if (n > 0) {
                data.append(buf, static_cast<std::size_t>(n));
            } else if (n == 0 || errno == EIO) {
                if (hungUp)
                    *hungUp = true;
                break;
            }
        }
        return data;
    }

private:
    int m_fd;
};

// A device with a host connected.
struct Rig
{
    explicit Rig(const DeviceOptions &options, long baud = 115200)
        : device(options)
    {
        ok = device.open(&error);
        host = std::make_unique<Host>(device.path());
        ok = ok && host->fd() >= 0 && host->configure(baud);
    }
    SimulatedDevice device;
    std::unique_ptr<Host> host;
    std::string error;
    bool ok = false;
};

} // namespace

// Drives the simulated device from the host side of a real pseudo-terminal.
class TestDevsim : public QObject
{
    Q_OBJECT

private slots:
    void testPatternContent_data()
    {
        // clang-format off
        QTest::addColumn<quint32>("seed");
        QTest::newRow("seed 0") << 0u;
        QTest::newRow("seed 1") << 1u;
        QTest::newRow("seed max") << 0xFFFFFFFFu;
        // clang-format on
    }

    void testPatternContent()
    {
        QFETCH(quint32, seed);
        const std::string longer = devsim::testPattern(20000, seed);
        QVERIFY(isValidUtf8(longer));
        for (const std::string &expected :
             {std::string(1, '\0'), std::string("\r\n"), std::string("\xE2\x82\xAC"),
              std::string("\xF0\x9F\x98\x80")})
            QVERIFY(longer.find(expected) != std::string::npos);
        QVERIFY(longer.find("\xC3\xA9") != std::string::npos
                || longer.find("\xC2\xB5") != std::string::npos);
        QVERIFY(longer != devsim::testPattern(20000, seed + 1));

        // Every length is exact and valid, and only the last 3 bytes depend on the length.
        for (std::size_t n = 0; n <= 300; ++n) {
            const std::string pattern = devsim::testPattern(n, seed);
            QCOMPARE(pattern.size(), n);
            QVERIFY2(isValidUtf8(pattern), qPrintable(QString("length %1").arg(n)));
            const std::size_t stable = n > 3 ? n - 3 : 0;
            QVERIFY(pattern.compare(0, stable, longer, 0, stable) == 0);
        }
    }

    void testPatternStream_data()
    {
        // clang-format off
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("chunkBytes");

        QTest::newRow("3 bytes") << 3 << true << 4096;
        QTest::newRow("500 bytes, 1-byte writes") << 500 << true << 1;
        QTest::newRow("100000 bytes, 7-byte writes") << 100000 << true << 7;
        QTest::newRow("2000 bytes paced") << 2000 << false << 4096;
        // clang-format on
    }

    void testPatternStream()
    {
        QFETCH(int, total);
        QFETCH(bool, fast);
        QFETCH(int, chunkBytes);
        DeviceOptions options;
        options.pattern = Pattern::TestPattern;
        options.fast = fast;
        options.totalBytes = static_cast<std::uint64_t>(total);
        options.chunkBytes = static_cast<std::size_t>(chunkBytes);
        options.seed = 42;
        options.keepSent = true;
        Rig rig(options);
        QVERIFY2(rig.ok, rig.error.c_str());
        rig.device.start();
        QVERIFY(rig.host->send("s"));

        const std::string data = rig.host->read(static_cast<std::size_t>(total), kTimeoutMs);
        QCOMPARE(data.size(), std::size_t(total));
        QVERIFY(data == devsim::testPattern(data.size(), 42));
        QVERIFY(isValidUtf8(data));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.device.streaming(), kTimeoutMs);
        QVERIFY(rig.device.sent() == data);

        // Past the limit another "s" is only recorded: nothing more arrives.
        QVERIFY(rig.host->send("s!"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.device.received(), std::string("ss!"), kTimeoutMs);
        QCOMPARE(rig.device.bytesSent(), std::uint64_t(total));
        char extra;
        QCOMPARE(::read(rig.host->fd(), &extra, 1), ssize_t(-1));
        QCOMPARE(errno, EAGAIN);
    }

    // The command-line device as a user runs it: path on stdout, a link, the host's
    // bytes logged raw, and a clean exit after hanging up.
    void cliSession()
    {
        QTemporaryDir dir;
        const QString link = QDir(dir.path()).filePath("tarvex");
        const QString logFile = QDir(dir.path()).filePath("rx.log");
        QProcess cli;
        cli.start(TARVEX_DEVSIM_EXE,
                  {"--pattern", "test", "--seed", "9", "--fast", "--link", link, "--hangup-after",
                   "500", "--log", logFile});
        QTRY_VERIFY_WITH_TIMEOUT(cli.canReadLine(), kTimeoutMs);
        const QString path = QString::fromUtf8(cli.readLine()).trimmed();
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);

        Host host(link.toStdString());
        QVERIFY(host.configure(115200));
        QVERIFY(host.send(std::string("s\0", 2)));
        bool hungUp = false;
        const std::string data = host.read(std::string::npos, kTimeoutMs, &hungUp);
        QVERIFY(data == devsim::testPattern(500, 9));
        QVERIFY(hungUp);

        QVERIFY(cli.waitForFinished(kTimeoutMs));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QFile log(logFile);
        QVERIFY(log.open(QIODevice::ReadOnly));
        QCOMPARE(log.readAll(), QByteArray("s\0", 2));
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
