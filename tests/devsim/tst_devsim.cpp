#include "simulateddevice.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QTemporaryDir>
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

// The host's end of the line, opened raw as a serial port would be.
struct Host
{
    explicit Host(const std::string &path, speed_t speed = B115200)
        : fd(::open(path.c_str(), O_RDWR | O_NOCTTY | O_NONBLOCK | O_CLOEXEC))
    {
        termios tio{};
        if (fd >= 0 && ::tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            tio.c_cflag |= CREAD | CLOCAL;
            cfsetspeed(&tio, speed);
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

// What the end-to-end tests in tst_serial do not reach: the command-line program, and the
// device's pace.
class TestDevsim : public QObject
{
    Q_OBJECT

private slots:
    void pace_data()
    {
        // clang-format off
        QTest::addColumn<bool>("samples"); // counts lines, else bytes
        QTest::addColumn<uint>("speed");
        QTest::addColumn<double>("perSecond");

        // 10 bits on the line a byte: start, 8 data, stop.
        QTest::newRow("test pattern at 9600 baud") << false << uint(B9600) << 960.0;
        QTest::newRow("100 samples a second at 115200 baud") << true << uint(B115200) << 100.0;
        // clang-format on
    }

    // Never faster than the line speed the host set, or the sample rate: from the first byte
    // on, half a second's worth takes half a second, less a tenth for the pacing's steps.
    void pace()
    {
        QFETCH(bool, samples);
        QFETCH(uint, speed);
        QFETCH(double, perSecond);
        devsim::DeviceOptions options;
        options.pattern = samples ? devsim::Pattern::Samples : devsim::Pattern::TestPattern;
        options.sampleRate = 100;
        devsim::SimulatedDevice device(options);
        std::string error;
        QVERIFY2(device.open(&error), error.c_str());
        device.start();
        Host host(device.path(), speed);
        QVERIFY(host.ok);
        QVERIFY(host.send("s"));
        QCOMPARE(host.read(1).size(), 1u);

        const Clock::time_point first = Clock::now();
        const double wanted = perSecond / 2;
        double seen = 0;
        while (seen < wanted && Clock::now() < first + std::chrono::milliseconds(TimeoutMs)) {
            pollfd pfd{host.fd, POLLIN, 0};
            ::poll(&pfd, 1, 50);
            char buf[256];
            const ssize_t n = ::read(host.fd, buf, sizeof buf);
            for (ssize_t i = 0; i < n; ++i)
                seen += !samples || buf[i] == '\n' ? 1 : 0;
        }
        const double seconds = std::chrono::duration<double>(Clock::now() - first).count();
        QVERIFY(seen >= wanted);
        QVERIFY2(seconds >= 0.45, qPrintable(QString::number(seconds)));
    }

    // Each line has one value per channel; the first channel is the one-channel stream, and
    // every channel is quiet noise with bursts, each at its own times.
    void channels_data()
    {
        QTest::addColumn<int>("channels");
        QTest::newRow("1") << 1;
        QTest::newRow("5") << 5;
    }

    void channels()
    {
        QFETCH(int, channels);
        std::vector<std::vector<int>> values(static_cast<size_t>(channels));
        for (int run : channels == 1 ? std::vector<int>{1} : std::vector<int>{1, channels}) {
            devsim::DeviceOptions options;
            options.fast = true;
            options.channels = run;
            devsim::SimulatedDevice device(options);
            std::string error;
            QVERIFY2(device.open(&error), error.c_str());
            device.start();
            Host host(device.path());
            QVERIFY(host.ok && host.send("s"));
            const QList<QByteArray> lines
                = QByteArray::fromStdString(host.read(200000)).split('\n');
            QVERIFY(lines.size() > 6000);
            for (int i = 0; i < 6000; ++i) {
                const QList<QByteArray> fields = lines[i].trimmed().split(',');
                QCOMPARE(fields.size(), run);
                if (run == 1 && channels > 1) {
                    values[0].push_back(fields[0].toInt());
                } else {
                    for (int c = 0; c < run; ++c) {
                        bool ok = false;
                        const int v = fields[c].toInt(&ok);
                        QVERIFY(ok);
                        if (c == 0 && channels > 1)
                            QCOMPARE(v, values[0][size_t(i)]);
                        else
                            values[size_t(c)].push_back(v);
                    }
                }
            }
        }
        for (std::vector<int> &channel : values) {
            std::vector<int> size;
            for (int v : channel)
                size.push_back(std::abs(v));
            std::sort(size.begin(), size.end());
            QVERIFY2(size[size.size() / 2] < 30 && size.back() > 150,
                     qPrintable(QStringLiteral("median %1, peak %2")
                                    .arg(size[size.size() / 2])
                                    .arg(size.back())));
        }
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

    // Unplugged behind its link: the line hangs up once the host has read it, the link goes, and
    // comes back pointing at a new line, as the device it claims to be on return.
    void cliUnplug_data()
    {
        QTest::addColumn<bool>("returnIdle");
        QTest::newRow("back streaming") << false;
        QTest::newRow("back idle") << true;
    }

    void cliUnplug()
    {
        QFETCH(bool, returnIdle);
        QTemporaryDir dir;
        const QString link = QDir(dir.path()).filePath("tarvex");
        QStringList arguments{"--pattern",      "test", "--seed", "9",   "--link",      link,
                              "--unplug-after", "0.8",  "--away", "0.5", "--return-as", "other"};
        if (returnIdle)
            arguments << "--return-idle";
        QProcess cli;
        cli.start(TARVEX_DEVSIM_EXE, arguments);
        QTRY_VERIFY_WITH_TIMEOUT(cli.canReadLine(), TimeoutMs);
        QFile identity(link + ".identity");
        QVERIFY(identity.open(QIODevice::ReadOnly));
        QCOMPARE(identity.readAll(), QByteArray("tarvex-devsim\n"));
        identity.close();
        std::string before;
        {
            Host host(link.toStdString());
            QVERIFY(host.ok && host.send("s"));
            bool hungUp = false;
            before = host.read(std::string::npos, &hungUp);
            QVERIFY(hungUp);
        }
        QVERIFY(!before.empty());
        QCOMPARE(before, devsim::testPattern(before.size() + 16, 9).substr(0, before.size()));
        QTRY_VERIFY_WITH_TIMEOUT(QFileInfo::exists(link), TimeoutMs);
        QVERIFY(identity.open(QIODevice::ReadOnly));
        QCOMPARE(identity.readAll(), QByteArray("other\n"));
        {
            Host host(link.toStdString());
            QVERIFY(host.ok);
            if (returnIdle) {
                pollfd pfd{host.fd, POLLIN, 0};
                QCOMPARE(::poll(&pfd, 1, 300), 0);
                QVERIFY(host.send("s"));
            }
            QVERIFY(!host.read(100).empty());
        }
        cli.terminate();
        QVERIFY(cli.waitForFinished(TimeoutMs));
        QCOMPARE(cli.exitCode(), 0);
        QVERIFY(!QFileInfo(link).isSymLink());
        QVERIFY(!QFileInfo::exists(link + ".identity"));
    }

    void cliRefuses_data()
    {
        QTest::addColumn<QStringList>("arguments");
        QTest::addColumn<QString>("message");
        QTest::newRow("unplug without a link")
            << QStringList{"--unplug-after", "1"} << "needs --link";
        QTest::newRow("no seconds") << QStringList{"--away", "soon"} << "invalid value 'soon'";
        QTest::newRow("never") << QStringList{"--link", "x", "--unplug-after", "0"}
                               << "invalid value '0'";
        QTest::newRow("four decimals") << QStringList{"--away", "0.0001"} << "invalid value";
    }

    void cliRefuses()
    {
        QFETCH(QStringList, arguments);
        QFETCH(QString, message);
        QProcess cli;
        cli.start(TARVEX_DEVSIM_EXE, arguments);
        QVERIFY(cli.waitForFinished(TimeoutMs));
        QCOMPARE(cli.exitCode(), 2);
        const QString said = QString::fromUtf8(cli.readAllStandardError());
        QVERIFY2(said.contains(message), qPrintable(said));
    }
};

QTEST_GUILESS_MAIN(TestDevsim)
#include "tst_devsim.moc"
