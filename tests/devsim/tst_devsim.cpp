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

#include <fcntl.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

using Clock = std::chrono::steady_clock;
constexpr int TimeoutMs = 20000;

bool isValidUtf8(const std::string &bytes)
{
    QTextCodec::ConverterState state;
    QTextCodec::codecForName("UTF-8")->toUnicode(bytes.data(), static_cast<int>(bytes.size()),
                                                 &state);
    return state.invalidChars == 0 && state.remainingChars == 0;
}

// The host's end of the line, opened raw at 115200 baud as a serial port would be.
struct Host
{
    explicit Host(const std::string &path)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        termios tio{};
        if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tio.c_cflag |= CREAD | CLOCAL;
            cfsetspeed(&tio, B115200);
            ok = ::tcsetattr(fd, TCSANOW, &tio) == 0;
        }
    }
    ~Host()
    {
        if (fd >= 0)
            ::close(fd);
    }
    Host(const Host &) = delete;
    Host &operator=(const Host &) = delete;

    bool send(const std::string &bytes)
    {
        return ::write(fd, bytes.data(), bytes.size()) == static_cast<ssize_t>(bytes.size());
    }

    // Reads until `limit` bytes arrived, the line hangs up (read gives 0 or EIO) or time runs out.
    std::string read(std::size_t limit, bool *hungUp = nullptr)
    {
        std::string data;
        const auto deadline = Clock::now() + std::chrono::milliseconds(TimeoutMs);
        while (data.size() < limit && Clock::now() < deadline) {
            pollfd pfd{fd, POLLIN, 0};
            ::poll(&pfd, 1, 50);
            char buf[4096];
            const ssize_t n = ::read(fd, buf, std::min(sizeof buf, limit - data.size()));
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

    int fd;
    bool ok = false;
};

} // namespace

// What the end-to-end tests in tst_serial do not reach: the test pattern's promises, the
// device's byte limit at its edges, and the command-line program.
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

    // tst_serial streams whole kilobytes as fast as the line takes them; here the limit cuts
    // the first character, and the paced writer carries the pattern across its ticks.
    void byteLimit_data()
    {
        // clang-format off
        QTest::addColumn<int>("total");
        QTest::addColumn<bool>("fast");

        QTest::newRow("3 bytes") << 3 << true;
        QTest::newRow("2000 bytes paced") << 2000 << false;
        // clang-format on
    }

    void byteLimit()
    {
        QFETCH(int, total);
        QFETCH(bool, fast);
        devsim::DeviceOptions options;
        options.pattern = devsim::Pattern::TestPattern;
        options.fast = fast;
        options.totalBytes = static_cast<std::uint64_t>(total);
        options.seed = 42;
        options.keepSent = true;
        devsim::SimulatedDevice device(options);
        std::string error;
        QVERIFY2(device.open(&error), error.c_str());
        Host host(device.path());
        QVERIFY(host.ok);
        device.start();
        QVERIFY(host.send("s"));

        const std::string data = host.read(static_cast<std::size_t>(total));
        QVERIFY(data == devsim::testPattern(static_cast<std::size_t>(total), 42));
        QTRY_VERIFY_WITH_TIMEOUT(!device.streaming(), TimeoutMs);
        QVERIFY(device.sent() == data);

        // Past the limit another "s" is only recorded: nothing more arrives.
        QVERIFY(host.send("s!"));
        QTRY_COMPARE_WITH_TIMEOUT(device.received(), std::string("ss!"), TimeoutMs);
        QCOMPARE(device.bytesSent(), std::uint64_t(total));
        char extra;
        QCOMPARE(::read(host.fd, &extra, 1), ssize_t(-1));
        QCOMPARE(errno, EAGAIN);
    }

    // The command-line device as a user runs it: path on stdout, a link, the host's bytes
    // logged raw, and a clean exit that removes the link.
    void cliSession_data()
    {
        // clang-format off
        QTest::addColumn<QString>("limit");
        QTest::addColumn<bool>("hangsUp");

        QTest::newRow("hangs up, then exits") << "--hangup-after" << true;
        QTest::newRow("stops at the limit, exits on SIGTERM") << "--bytes" << false;
        // clang-format on
    }

    void cliSession()
    {
        QFETCH(QString, limit);
        QFETCH(bool, hangsUp);
        QTemporaryDir dir;
        const QString link = QDir(dir.path()).filePath("tarvex");
        const QString logFile = QDir(dir.path()).filePath("rx.log");
        QProcess cli;
        cli.start(TARVEX_DEVSIM_EXE,
                  {"--pattern", "test", "--seed", "9", "--fast", "--link", link, limit, "500",
                   "--log", logFile});
        QTRY_VERIFY_WITH_TIMEOUT(cli.canReadLine(), TimeoutMs);
        const QString path = QString::fromUtf8(cli.readLine()).trimmed();
        QCOMPARE(QFileInfo(link).symLinkTarget(), path);

        {
            Host host(link.toStdString());
            QVERIFY(host.ok);
            QVERIFY(host.send(std::string("s\0", 2)));
            bool hungUp = false;
            QVERIFY(host.read(hangsUp ? std::string::npos : 500, &hungUp)
                    == devsim::testPattern(500, 9));
            QCOMPARE(hungUp, hangsUp);
            if (!hangsUp)
                cli.terminate();
        }

        QVERIFY(cli.waitForFinished(TimeoutMs));
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
