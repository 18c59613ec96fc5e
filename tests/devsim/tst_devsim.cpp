#include "customspeed.h"
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
#include <cstdlib>
#include <memory>
#include <vector>

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
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.data(), static_cast<int>(bytes.size()), &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

speed_t standardSpeed(long baud)
{
    switch (baud) {
    case 9600: return B9600;
    case 19200: return B19200;
    case 115200: return B115200;
    default: return B38400;
    }
}

// The host's end of the line, driven with plain POSIX as a serial port would be.
class Host {
public:
    explicit Host(const std::string &path)
        : m_fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC)) {}
    ~Host()
    {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int fd() const { return m_fd; }

    bool configure(long baud, tcflag_t cflags = CS8, tcflag_t iflags = 0)
    {
        termios tio {};
        if (::tcgetattr(m_fd, &tio) != 0)
            return false;
        cfmakeraw(&tio);
        tio.c_cflag = (tio.c_cflag & ~(CSIZE | PARENB | PARODD | CSTOPB | CRTSCTS)) | cflags | CREAD | CLOCAL;
        tio.c_iflag |= iflags;
        cfsetspeed(&tio, standardSpeed(baud));
        if (::tcsetattr(m_fd, TCSANOW, &tio) != 0)
            return false;
        return standardSpeed(baud) != B38400 || baud == 38400 || setCustomSpeed(m_fd, baud);
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
            pollfd pfd {m_fd, POLLIN, 0};
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

// Empty if data is CRLF lines of decimal integers (the last possibly cut) with bursts of activity.
QString checkSamples(const std::string &data)
{
    std::vector<long long> magnitudes;
    std::size_t start = 0;
    for (std::size_t end; (end = data.find("\r\n", start)) != std::string::npos; start = end + 2) {
        const std::string line = data.substr(start, end - start);
        char *stop = nullptr;
        const long long value = std::strtoll(line.c_str(), &stop, 10);
        if (line.empty() || *stop != '\0' || line.find_first_of("+ ") != std::string::npos)
            return QString("bad line '%1'").arg(QString::fromStdString(line));
        magnitudes.push_back(std::llabs(value));
    }
    if (magnitudes.size() < 1000)
        return QString("only %1 lines").arg(magnitudes.size());
    std::sort(magnitudes.begin(), magnitudes.end());
    const long long median = magnitudes[magnitudes.size() / 2];
    if (magnitudes.back() <= 10 * std::max(1LL, median))
        return QString("no bursts: median %1, max %2").arg(median).arg(magnitudes.back());
    return {};
}

// A device with a host connected, through linkPath if one is given.
struct Rig {
    explicit Rig(const DeviceOptions &options, long baud = 115200, const std::string &linkPath = {})
        : device(options)
    {
        ok = device.open(&error) && (linkPath.empty() || device.linkTo(linkPath, &error));
        host = std::make_unique<Host>(linkPath.empty() ? device.path() : linkPath);
        ok = ok && host->fd() >= 0 && host->configure(baud);
    }
    SimulatedDevice device;
    std::unique_ptr<Host> host;
    std::string error;
    bool ok = false;
};

} // namespace

// Drives the simulated device from the host side of a real pseudo-terminal.
class TestDevsim : public QObject {
    Q_OBJECT

private slots:
    void testPatternContent_data()
    {
        QTest::addColumn<quint32>("seed");
        QTest::newRow("seed 0") << 0u;
        QTest::newRow("seed 1") << 1u;
        QTest::newRow("seed max") << 0xFFFFFFFFu;
    }

    void testPatternContent()
    {
        QFETCH(quint32, seed);
        const std::string longer = devsim::testPattern(20000, seed);
        QVERIFY(isValidUtf8(longer));
        for (const std::string &expected : {std::string(1, '\0'), std::string("\r\n"),
                                            std::string("\xE2\x82\xAC"), std::string("\xF0\x9F\x98\x80")})
            QVERIFY(longer.find(expected) != std::string::npos);
        QVERIFY(longer.find("\xC3\xA9") != std::string::npos || longer.find("\xC2\xB5") != std::string::npos);
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

    void lineSettings_data()
    {
        QTest::addColumn<long>("baud");
        QTest::addColumn<uint>("cflags");
        QTest::addColumn<uint>("iflags");
        QTest::addColumn<int>("dataBits");
        QTest::addColumn<char>("parity");
        QTest::addColumn<int>("stopBits");
        QTest::addColumn<bool>("rtsCts");
        QTest::addColumn<bool>("xonXoff");

        QTest::newRow("9600 8N1") << 9600L << uint(CS8) << 0u << 8 << 'N' << 1 << false << false;
        QTest::newRow("115200 8N2 RTS/CTS") << 115200L << uint(CS8 | CSTOPB | CRTSCTS) << 0u << 8 << 'N' << 2 << true << false;
        QTest::newRow("19200 XON/XOFF") << 19200L << uint(CS8) << uint(IXON | IXOFF) << 8 << 'N' << 1 << false << true;
        QTest::newRow("custom 250000") << 250000L << uint(CS8) << 0u << 8 << 'N' << 1 << false << false;
#ifdef __linux__
        // Linux ptys force CS8 and drop PARENB whatever the host asks for.
        QTest::newRow("7E1 clamped by the pty") << 9600L << uint(CS7 | PARENB) << 0u << 8 << 'N' << 1 << false << false;
#else
        QTest::newRow("7E1") << 9600L << uint(CS7 | PARENB) << 0u << 7 << 'E' << 1 << false << false;
#endif
    }

    void lineSettings()
    {
        QFETCH(long, baud);
        QFETCH(uint, cflags);
        QFETCH(uint, iflags);
        SimulatedDevice device;
        std::string error;
        QVERIFY2(device.open(&error), error.c_str());
        Host host(device.path());
        QVERIFY(host.fd() >= 0);
        if (!host.configure(baud, cflags, iflags))
            QSKIP("this system cannot set that line speed on a pty");

        const devsim::LineSettings settings = device.lineSettings();
        QCOMPARE(settings.baudRate, baud);
        QTEST(settings.dataBits, "dataBits");
        QTEST(settings.parity, "parity");
        QTEST(settings.stopBits, "stopBits");
        QTEST(settings.rtsCts, "rtsCts");
        QTEST(settings.xonXoff, "xonXoff");
    }

    void toggleAndRecord()
    {
        DeviceOptions options;
        options.pattern = Pattern::TestPattern;
        Rig rig(options);
        QVERIFY2(rig.ok, rig.error.c_str());
        rig.device.start();
        QVERIFY(!rig.device.streaming());

        QVERIFY(rig.host->send("s"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.device.streaming(), kTimeoutMs);
        QVERIFY(!rig.host->read(1, kTimeoutMs).empty());

        const std::string others("x\0\xff\r\n", 5);
        QVERIFY(rig.host->send(others + "s"));
        QTRY_VERIFY_WITH_TIMEOUT(!rig.device.streaming(), kTimeoutMs);
        const std::uint64_t sentWhenStopped = rig.device.bytesSent();
        // A round trip through the device loop proves nothing more is sent while stopped.
        QVERIFY(rig.host->send("y"));
        QTRY_COMPARE_WITH_TIMEOUT(rig.device.received(), "s" + others + "sy", kTimeoutMs);
        QCOMPARE(rig.device.bytesSent(), sentWhenStopped);

        QVERIFY(rig.host->send("s"));
        QTRY_VERIFY_WITH_TIMEOUT(rig.device.bytesSent() > sentWhenStopped, kTimeoutMs);
        QVERIFY(rig.device.streaming());
    }

    void testPatternStream_data()
    {
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("fast");
        QTest::addColumn<int>("chunkBytes");

        QTest::newRow("1 byte") << 1 << true << 4096;
        QTest::newRow("3 bytes") << 3 << true << 4096;
        QTest::newRow("5 bytes") << 5 << true << 4096;
        QTest::newRow("500 bytes, 1-byte writes") << 500 << true << 1;
        QTest::newRow("100000 bytes, 7-byte writes") << 100000 << true << 7;
        QTest::newRow("100000 bytes") << 100000 << true << 4096;
        QTest::newRow("2000 bytes paced") << 2000 << false << 4096;
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

    void pacing_data()
    {
        QTest::addColumn<Pattern>("pattern");
        QTest::addColumn<long>("baud");
        QTest::addColumn<int>("sampleRate");
        QTest::addColumn<bool>("countLines");
        QTest::addColumn<double>("expectedPerSecond");

        QTest::newRow("test pattern at 9600 baud") << Pattern::TestPattern << 9600L << 1000 << false << 960.0;
        QTest::newRow("1000 samples/s limited by 9600 baud") << Pattern::Samples << 9600L << 1000 << false << 960.0;
        QTest::newRow("100 samples/s at 115200 baud") << Pattern::Samples << 115200L << 100 << true << 100.0;
    }

    void pacing()
    {
        QFETCH(Pattern, pattern);
        QFETCH(long, baud);
        QFETCH(int, sampleRate);
        QFETCH(bool, countLines);
        QFETCH(double, expectedPerSecond);
        DeviceOptions options;
        options.pattern = pattern;
        options.sampleRate = sampleRate;
        Rig rig(options, baud);
        QVERIFY2(rig.ok, rig.error.c_str());
        rig.device.start();
        QVERIFY(rig.host->send("s"));
        QVERIFY(!rig.host->read(1, kTimeoutMs).empty());

        const auto start = Clock::now();
        const std::string data = rig.host->read(std::string::npos, 1000);
        const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
        const auto count = countLines ? std::count(data.begin(), data.end(), '\n') : std::ptrdiff_t(data.size());
        const double perSecond = static_cast<double>(count) / seconds;
        QVERIFY2(perSecond > expectedPerSecond * 0.6 && perSecond < expectedPerSecond * 1.4,
                 qPrintable(QString("measured %1 per second").arg(perSecond)));
    }

    void hangUp_data()
    {
        QTest::addColumn<Pattern>("pattern");
        QTest::addColumn<int>("hangupAfter");

        QTest::newRow("test pattern, 1 byte") << Pattern::TestPattern << 1;
        QTest::newRow("test pattern, 100 bytes") << Pattern::TestPattern << 100;
        // More than the pty buffers hold, so the host must keep reading.
        QTest::newRow("test pattern, 70000 bytes") << Pattern::TestPattern << 70000;
        QTest::newRow("samples, 80003 bytes") << Pattern::Samples << 80003;
    }

    void hangUp()
    {
        QFETCH(Pattern, pattern);
        QFETCH(int, hangupAfter);
        DeviceOptions options;
        options.pattern = pattern;
        options.fast = true;
        options.hangupAfter = static_cast<std::uint64_t>(hangupAfter);
        QTemporaryDir dir;
        const std::string link = QDir(dir.path()).filePath("tarvex").toStdString();
        Rig rig(options, 115200, link);
        QVERIFY2(rig.ok, rig.error.c_str());
        rig.device.start();
        QVERIFY(rig.host->send("s"));

        bool hungUp = false;
        const std::string data = rig.host->read(std::string::npos, kTimeoutMs, &hungUp);
        QVERIFY(hungUp);
        QCOMPARE(data.size(), std::size_t(hangupAfter));
        if (pattern == Pattern::TestPattern)
            QVERIFY(data == devsim::testPattern(data.size(), options.seed));
        else
            QCOMPARE(checkSamples(data), QString());
        QTRY_VERIFY_WITH_TIMEOUT(rig.device.hungUp(), kTimeoutMs);
        QCOMPARE(::write(rig.host->fd(), "s", 1), ssize_t(-1));
        QCOMPARE(errno, EIO);
        QVERIFY(!QFileInfo(QString::fromStdString(link)).isSymLink());
    }

    void cliRejectsBadOptions_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");

        QTest::newRow("unknown option") << QStringList {"--bogus"} << "unknown option '--bogus'";
        QTest::newRow("negative seed") << QStringList {"--seed=-1"} << "'-1' for --seed";
        QTest::newRow("missing value") << QStringList {"--bytes"} << "--bytes needs a value";
    }

    void cliRejectsBadOptions()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QProcess cli;
        cli.start(TARVEX_DEVSIM_EXE, arguments);
        QVERIFY(cli.waitForFinished(kTimeoutMs));
        QCOMPARE(cli.exitCode(), 2);
        const QString err = QString::fromUtf8(cli.readAllStandardError());
        QVERIFY2(err.contains(message), qPrintable(err));
        QVERIFY(cli.readAllStandardOutput().isEmpty());
    }

    void cliSession_data()
    {
        QTest::addColumn<bool>("logToFile");
        QTest::addColumn<bool>("hangUp");

        QTest::newRow("log file, stopped by SIGTERM") << true << false;
        QTest::newRow("log on stderr, exits after hang-up") << false << true;
    }

    void cliSession()
    {
        QFETCH(bool, logToFile);
        QFETCH(bool, hangUp);
        QTemporaryDir dir;
        const QString link = QDir(dir.path()).filePath("tarvex");
        const QString logFile = QDir(dir.path()).filePath("rx.log");
        QStringList arguments {"--pattern", "test", "--seed", "9", "--fast", "--link", link};
        arguments << (hangUp ? "--hangup-after" : "--bytes") << "500";
        if (logToFile)
            arguments << "--log" << logFile;

        QProcess cli;
        cli.start(TARVEX_DEVSIM_EXE, arguments);
        QTRY_VERIFY_WITH_TIMEOUT(cli.canReadLine(), kTimeoutMs);
        const QString path = QString::fromUtf8(cli.readLine()).trimmed();
        QVERIFY2(path.startsWith("/dev/"), qPrintable(path));
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);

        Host host(link.toStdString());
        QVERIFY(host.configure(115200));
        QVERIFY(host.send(std::string("s\0", 2)));
        bool hungUp = false;
        const std::string data = host.read(hangUp ? std::string::npos : 500, kTimeoutMs, &hungUp);
        QVERIFY(data == devsim::testPattern(500, 9));
        QCOMPARE(hungUp, hangUp);

        if (!hangUp)
            cli.terminate();
        QVERIFY(cli.waitForFinished(kTimeoutMs));
        QCOMPARE(cli.exitStatus(), QProcess::NormalExit);
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        if (logToFile) {
            QFile log(logFile);
            QVERIFY(log.open(QIODevice::ReadOnly));
            QCOMPARE(log.readAll(), QByteArray("s\0", 2));
        } else {
            const QString err = QString::fromUtf8(cli.readAllStandardError());
            QVERIFY2(err.contains("rx: 's' (0x73)") && err.contains("rx: '\\0' (0x00)"), qPrintable(err));
        }
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
