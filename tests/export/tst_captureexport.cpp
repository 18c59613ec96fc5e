#include "export/captureexport.h"
#include "export/edfexport.h"
#include "peakmemory.h"

#include <QDir>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLocale>
#include <QProcess>
#include <QTemporaryDir>
#include <QtTest>

#include <cmath>
#include <optional>

namespace {

using Values = QVector<std::optional<double>>;

// A capture as a device at `rate` lines a second would leave it, delivered in bursts of
// `burst` lines with up to 3 ms of delay, as a USB adapter delivers.
struct Made
{
    ExportPlan::Input input;
    // Per sample line: its channels' values, and the index of the line it came from.
    QVector<Values> samples;
    QVector<int> lineOfSample;
    QVector<qint64> lineStart;
};

// From line `pauseAt` on, the lines come `pauseSeconds` later.
Made make(const QList<QByteArray> &lines, double rate, int burst = 16, int pauseAt = -1,
          double pauseSeconds = 0)
{
    Made made;
    QByteArray bytes;
    for (int i = 0; i < lines.size(); ++i) {
        made.lineStart.append(bytes.size());
        bytes += lines[i];
        if ((i + 1) % burst == 0 || i + 1 == lines.size() || i + 1 == pauseAt) {
            const qint64 jitter = (i * 7919) % 3000;
            const double paused = pauseAt >= 0 && i >= pauseAt ? pauseSeconds : 0;
            made.input.times.append(
                {bytes.size(), qint64(std::llround(((i + 1) / rate + paused) * 1e6)) + jitter});
        }
    }
    made.input.capture = CaptureSnapshot(QList<QByteArray>{bytes});
    made.input.startedUtc = QDateTime(QDate(2026, 12, 9), QTime(10, 11, 12, 345), Qt::UTC);
    return made;
}

CaptureEvent marker(const Made &made, int line, int number, const QString &label = QString(),
                    int into = 1)
{
    CaptureEvent event;
    event.type = CaptureEvent::Type::Marker;
    event.number = number;
    event.label = label;
    // Into the line, or once the line before it had its CR: the line that was arriving then.
    event.offset = made.lineStart[line] + into;
    return event;
}

// Lines of `channels` integers (or decimals when step < 1), some of them broken by text.
struct Lines
{
    QList<QByteArray> lines;
    QVector<Values> values;
    QVector<int> sampleLines;
};

Lines numberLines(int count, int channels, double scale, double step, int lateFrom = 0,
                  int badEvery = 0)
{
    Lines out;
    for (int i = 0; i < count; ++i) {
        if (badEvery > 0 && i % badEvery == badEvery - 1) {
            out.lines.append(i % 2 ? QByteArray("# device says hello\r\n") : QByteArray("\r\n"));
            continue;
        }
        QByteArray line;
        Values values;
        for (int c = 0; c < channels; ++c) {
            const bool late = c == channels - 1 && i < lateFrom;
            if (c > 0)
                line += ',';
            if (late) {
                values.append(std::nullopt);
                continue;
            }
            const double v = std::round(std::sin(i * 0.01 + c) * scale / step) * step
                + (c == 0 && i == 7 ? -scale : 0);
            line += QByteArray::number(v, 'g', 12);
            values.append(v);
        }
        out.lines.append(line + "\r\n");
        out.values.append(values);
        out.sampleLines.append(i);
    }
    return out;
}

QJsonObject readBack(const QString &kind, const QString &path)
{
    QProcess reader;
    reader.start(QStringLiteral("/usr/bin/python3"), {QStringLiteral(READBACK_SCRIPT), kind, path});
    if (!reader.waitForFinished(120000) || reader.exitCode() != 0) {
        qWarning().noquote() << reader.readAllStandardError();
        return {};
    }
    return QJsonDocument::fromJson(reader.readAllStandardOutput()).object();
}

// A file of this row's own, named after its data tag.
QString rowFile(const QTemporaryDir &dir, const QString &prefix, const QString &suffix)
{
    QString name = prefix + QString::fromLatin1(QTest::currentDataTag()) + '.' + suffix;
    return dir.filePath(name.replace(' ', '_').replace(',', '_'));
}

// The annotations MNE read, in its order.
struct Annotations
{
    QStringList texts;
    QVector<double> onsets;
};

Annotations annotationsOf(const QJsonObject &back)
{
    Annotations read;
    for (const QJsonValue &a : back["annotations"].toArray()) {
        read.texts << a.toArray()[2].toString();
        read.onsets << a.toArray()[0].toDouble();
    }
    return read;
}

} // namespace

class TestCaptureExport : public QObject
{
    Q_OBJECT

private slots:
    void roundTrip_data();
    void roundTrip();
    void failureOrCancelKeepsOldFile_data();
    void failureOrCancelKeepsOldFile();
    void pausesKeepTheirTimes_data();
    void pausesKeepTheirTimes();
    void edfLimits_data();
    void edfLimits();
    void headerNumbers_data();
    void headerNumbers();
    void tenMillionLinesStayFlat();

private:
    QTemporaryDir dir;
};

void TestCaptureExport::roundTrip_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<int>("lineCount");
    QTest::addColumn<int>("channels");
    QTest::addColumn<double>("scale");
    QTest::addColumn<double>("step"); // 1: integers
    QTest::addColumn<int>("lateFrom"); // the last channel's first line
    QTest::addColumn<int>("badEvery"); // every Nth line has no number
    QTest::addColumn<double>("nominal");
    QTest::addColumn<bool>("lossless");

    const int csv = int(CaptureExport::Format::Csv);
    const int edf = int(CaptureExport::Format::Edf);
    const int bdf = int(CaptureExport::Format::Bdf);
    // 2,345 samples at 1,000 a second: the last record of a second is partial.
    QTest::newRow("csv, integers") << csv << 2345 << 3 << 2000.0 << 1.0 << 0 << 0 << 0.0 << true;
    QTest::newRow("csv, decimals, bad lines, late channel")
        << csv << 2345 << 3 << 5.0 << 0.001 << 400 << 10 << 0.0 << true;
    QTest::newRow("edf, 16-bit integers")
        << edf << 2345 << 3 << 32767.0 << 1.0 << 0 << 0 << 0.0 << true;
    QTest::newRow("edf, typed rate")
        << edf << 2000 << 2 << 100.0 << 1.0 << 0 << 0 << 1000.0 << true;
    QTest::newRow("edf, decimals scaled")
        << edf << 2345 << 3 << 5.0 << 0.001 << 0 << 0 << 0.0 << false;
    QTest::newRow("edf, beyond 16 bits scaled")
        << edf << 2345 << 1 << 100000.0 << 1.0 << 0 << 0 << 0.0 << false;
    QTest::newRow("edf, bad lines, late channel")
        << edf << 2345 << 3 << 1000.0 << 1.0 << 400 << 10 << 0.0 << true;
    QTest::newRow("bdf, 24-bit integers")
        << bdf << 2345 << 3 << 8388607.0 << 1.0 << 0 << 0 << 0.0 << true;
    QTest::newRow("bdf, beyond 24 bits scaled")
        << bdf << 2345 << 2 << 1e7 << 0.5 << 0 << 0 << 0.0 << false;
}

void TestCaptureExport::roundTrip()
{
    QFETCH(int, format);
    QFETCH(int, lineCount);
    QFETCH(int, channels);
    QFETCH(double, scale);
    QFETCH(double, step);
    QFETCH(int, lateFrom);
    QFETCH(int, badEvery);
    QFETCH(double, nominal);
    QFETCH(bool, lossless);

    const Lines lines = numberLines(lineCount, channels, scale, step, lateFrom, badEvery);
    // 1,000 lines a second, of which the bad ones hold no sample.
    Made made = make(lines.lines, 1000);
    const double rate = nominal > 0 ? nominal : 1000.0 * lines.values.size() / lineCount;
    // Markers on sample lines 0, 100 and the last; a labelled one; an event after the end.
    const int lastLine = lines.sampleLines.last();
    made.input.events = {marker(made, 0, 1), marker(made, lines.sampleLines[100], 2, QString(), -1),
                         marker(made, lines.sampleLines[500], 0, QStringLiteral("trial, \"3\"")),
                         marker(made, lastLine, 9)};
    CaptureEvent stop;
    stop.type = CaptureEvent::Type::Stop;
    stop.offset = made.input.capture.size() + 10;
    made.input.events.append(stop);
    const QVector<int> markedSamples = {0, 100, 500, lines.values.size() - 1};
    const QStringList markerTexts = {"1", "2", "trial, \"3\"", "9"};

    const auto kind = CaptureExport::Format(format);
    const QString suffix = QStringList{"csv", "edf", "bdf"}[format];
    const QString path = rowFile(dir, QString(), suffix);
    const CaptureExport::Outcome outcome
        = CaptureExport::run(path, kind, nominal, made.input, nullptr);
    QCOMPARE(outcome.reason, QString());
    QCOMPARE(int(outcome.result), int(CaptureExport::Result::Exported));
    const int samples = lines.values.size();
    const QLocale locale;
    QVERIFY2(outcome.report.startsWith(QStringLiteral("%1 samples, %2 channels, %3 lines skipped, ")
                                           .arg(locale.toString(samples))
                                           .arg(channels)
                                           .arg(locale.toString(lineCount - samples))),
             qPrintable(outcome.report));

    const QJsonObject back = readBack(suffix, path);
    QVERIFY(!back.isEmpty());
    if (kind == CaptureExport::Format::Csv) {
        QStringList header;
        for (const QJsonValue &v : back["header"].toArray())
            header << v.toString();
        QStringList want{"time_s"};
        for (int c = 0; c < channels; ++c)
            want << QStringLiteral("ch%1").arg(c + 1);
        QCOMPARE(header, want << "marker");
        const QJsonArray rows = back["rows"].toArray();
        QCOMPARE(rows.size(), samples);
        const double t0 = rows[0].toArray()[0].toString().toDouble();
        const double t1 = rows[samples - 1].toArray()[0].toString().toDouble();
        // The fitted rate, not the bursts: every step of time is the same, to the microsecond.
        const double period = (t1 - t0) / (samples - 1);
        QVERIFY2(std::abs(period * rate - 1) < 0.002, qPrintable(QString::number(1 / period)));
        QVERIFY2(std::abs(t0 - 0.001) < 0.005, qPrintable(QString::number(t0)));
        for (int k = 0; k < samples; ++k) {
            const QJsonArray row = rows[k].toArray();
            QCOMPARE(row.size(), channels + 2);
            QVERIFY(std::abs(row[0].toString().toDouble() - (t0 + k * period)) < 2e-6);
            for (int c = 0; c < channels; ++c) {
                const std::optional<double> &value = lines.values[k][c];
                if (!value)
                    QCOMPARE(row[c + 1].toString(), QString());
                else
                    QCOMPARE(row[c + 1].toString().toDouble(), *value);
            }
            const int m = markedSamples.indexOf(k);
            QCOMPARE(row[channels + 1].toString(), m < 0 ? QString() : markerTexts[m]);
        }
        return;
    }

    QCOMPARE(back["names"].toArray().size(), channels);
    const double fileRate = back["rate"].toDouble();
    if (nominal > 0)
        QCOMPARE(fileRate, nominal);
    else
        QVERIFY2(std::abs(fileRate / rate - 1) < 0.002, qPrintable(QString::number(fileRate)));
    QVERIFY2(outcome.report.contains(locale.toString(fileRate, 'f', 3)),
             qPrintable(outcome.report));
    // The capture's start, moved to its first sample.
    const QDateTime start = QDateTime::fromString(back["start"].toString(), Qt::ISODateWithMs);
    const qint64 startMs = made.input.startedUtc.msecsTo(start);
    QVERIFY2(startMs >= -1000 && startMs <= 100, qPrintable(back["start"].toString()));

    const int digitalMin = kind == CaptureExport::Format::Edf ? -32768 : -8388608;
    const QJsonArray signals0 = back["signals"].toArray();
    const int perRecord = int(std::round(fileRate));
    const int padded = (samples + perRecord - 1) / perRecord * perRecord;
    double worst = 0;
    for (int c = 0; c < channels; ++c) {
        const QJsonArray signal = signals0[c].toArray();
        QCOMPARE(signal.size(), padded);
        double lowest = 0;
        for (int k = 0; k < samples; ++k) {
            if (lines.values[k][c])
                lowest = std::min(lowest, *lines.values[k][c]);
        }
        // The lowest digital value, below every value of the data.
        const double fill = lossless ? double(digitalMin) : signal[padded - 1].toDouble();
        QVERIFY(padded > samples || lossless);
        QVERIFY(fill < lowest);
        for (int k = 0; k < padded; ++k) {
            const double got = signal[k].toDouble();
            if (k >= samples || !lines.values[k][c]) {
                QCOMPARE(got, fill);
                continue;
            }
            const double want = *lines.values[k][c];
            if (lossless)
                QCOMPARE(got, want);
            else
                worst = std::max(worst, std::abs(got - want) / std::max(1.0, std::abs(scale)));
        }
    }
    // Scaled: within half a step of 16 or 24 bits over the data's range (twice the scale).
    QVERIFY2(worst <= (kind == CaptureExport::Format::Edf ? 2.0 / 65535 : 2.0 / 16777215),
             qPrintable(QString::number(worst)));
    if (!lossless)
        QVERIFY2(outcome.report.contains(QStringLiteral("step")), qPrintable(outcome.report));

    const auto [annotations, onsets] = annotationsOf(back);
    for (int m = 0; m < markerTexts.size(); ++m) {
        const int at = annotations.indexOf(markerTexts[m]);
        QVERIFY2(at >= 0, qPrintable(annotations.join('|')));
        QVERIFY(std::abs(onsets[at] - markedSamples[m] / fileRate) < 2e-4);
    }
    // The stop came after the last line: at the last sample.
    const int stopAt = annotations.indexOf(QStringLiteral("stop"));
    QVERIFY(stopAt >= 0);
    QVERIFY(std::abs(onsets[stopAt] - (samples - 1) / fileRate) < 2e-4);
    // The samples that EDF's last record needs and the capture does not have, said so.
    if (padded > samples) {
        const int at = annotations.indexOf(
            QStringLiteral("end of data: %1 samples of fill follow").arg(padded - samples));
        QVERIFY2(at >= 0, qPrintable(annotations.join('|')));
        QVERIFY(std::abs(onsets[at] - samples / fileRate) < 2e-4);
    }
    if (lateFrom > 0) {
        const QString text = QStringLiteral("ch%1: no value, filled with %2")
                                 .arg(channels)
                                 .arg(signals0[channels - 1].toArray()[0].toDouble());
        const int at = annotations.indexOf(text);
        QVERIFY2(at >= 0, qPrintable(annotations.join('|')));
        QCOMPARE(onsets[at], 0.0);
    }
}

void TestCaptureExport::pausesKeepTheirTimes_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<QVector<int>>("types"); // the events the capture recorded at the pause
    QTest::addColumn<double>("pause"); // seconds
    QTest::addColumn<double>("nominal");
    QTest::addColumn<bool>("cut"); // the loss cut a line

    using T = CaptureEvent::Type;
    const QVector<int> lost{int(T::Lost), int(T::Reconnected)};
    const QVector<int> restarted{int(T::Lost), int(T::Reconnected), int(T::Restarted)};
    const int csv = int(CaptureExport::Format::Csv);
    const int edf = int(CaptureExport::Format::Edf);
    const int bdf = int(CaptureExport::Format::Bdf);
    QTest::newRow("csv, lost 300 s, back idle") << csv << restarted << 300.0 << 0.0 << false;
    QTest::newRow("csv, lost, a line cut") << csv << lost << 10.0 << 0.0 << true;
    QTest::newRow("edf, lost 10 s") << edf << lost << 10.0 << 0.0 << false;
    QTest::newRow("edf, typed rate, lost, a line cut") << edf << lost << 10.0 << 1000.0 << true;
    QTest::newRow("edf, silence") << edf << QVector<int>{int(T::Silence)} << 4.0 << 0.0 << false;
    QTest::newRow("bdf, stop and start")
        << bdf << QVector<int>{int(T::Stop), int(T::Start)} << 2.5 << 0.0 << false;
}

// A capture at 1,000 lines a second that pauses after 1,500 lines and goes on for 1,500 more:
// each sample keeps its time, and a file of a steady grid fills the pause.
void TestCaptureExport::pausesKeepTheirTimes()
{
    QFETCH(int, format);
    QFETCH(QVector<int>, types);
    QFETCH(double, pause);
    QFETCH(double, nominal);
    QFETCH(bool, cut);

    const int before = 1500;
    QList<QByteArray> lines;
    for (int i = 0; i < 2 * before; ++i)
        lines.append(QByteArray::number(i * 3 % 1000) + "\r\n");
    // A line begun before the loss, and its rest after the return: no sample of its own.
    if (cut) {
        lines.insert(before, "77");
        lines.insert(before + 1, "788\r\n");
    }
    Made made = make(lines, 1000, 16, before + (cut ? 1 : 0), pause);
    const qint64 pausedAt = made.lineStart[before] + (cut ? 2 : 0);
    for (const int type : types) {
        CaptureEvent event;
        event.type = CaptureEvent::Type(type);
        event.offset = pausedAt;
        made.input.events.append(event);
    }
    made.input.events.append(marker(made, before + 100 + (cut ? 2 : 0), 4));

    const auto kind = CaptureExport::Format(format);
    const QString suffix = QStringList{"csv", "edf", "bdf"}[format];
    const QString path = rowFile(dir, QStringLiteral("paused-"), suffix);
    const CaptureExport::Outcome outcome
        = CaptureExport::run(path, kind, nominal, made.input, nullptr);
    QCOMPARE(outcome.reason, QString());
    const int samples = 2 * before;
    QVERIFY2(outcome.report.startsWith(QStringLiteral("%1 samples, 1 channels, %2 lines skipped")
                                           .arg(QLocale().toString(samples))
                                           .arg(cut ? 1 : 0)),
             qPrintable(outcome.report));
    auto wanted = [&](int k) { return double(k * 3 % 1000); };
    // Where sample k arrived: its line's end, give or take the bursts and their delay.
    auto arrived = [&](int k) { return (k + 1) / 1000.0 + (k >= before ? pause : 0); };

    const QJsonObject back = readBack(suffix, path);
    QVERIFY(!back.isEmpty());
    if (kind == CaptureExport::Format::Csv) {
        const QJsonArray rows = back["rows"].toArray();
        QCOMPARE(rows.size(), samples);
        for (int k = 0; k < samples; ++k) {
            const QJsonArray row = rows[k].toArray();
            const double t = row[0].toString().toDouble();
            QVERIFY2(std::abs(t - arrived(k)) < 0.005,
                     qPrintable(QStringLiteral("sample %1 at %2 s").arg(k).arg(t)));
            QCOMPARE(row[1].toString().toDouble(), wanted(k));
            QCOMPARE(row[2].toString(), k == before + 100 ? QStringLiteral("4") : QString());
        }
        return;
    }

    const auto [annotations, onsets] = annotationsOf(back);
    const QString said = annotations.join('|');
    const QRegularExpression note(QStringLiteral("^pause: (\\d+) samples of fill follow$"));
    const int at = annotations.indexOf(note);
    QVERIFY2(at >= 0, qPrintable(said));
    const int fill = note.match(annotations[at]).captured(1).toInt();
    QVERIFY2(std::abs(fill - pause * 1000) <= 5, qPrintable(said));
    const double fileRate = back["rate"].toDouble();
    QVERIFY(std::abs(onsets[at] - before / fileRate) < 2e-4);
    const int marked = annotations.indexOf(QStringLiteral("4"));
    QVERIFY2(marked >= 0, qPrintable(said));
    QVERIFY(std::abs(onsets[marked] - (before + fill + 100) / fileRate) < 2e-4);

    const QJsonArray signal = back["signals"].toArray()[0].toArray();
    QVERIFY(signal.size() >= samples + fill);
    const double lowest = kind == CaptureExport::Format::Edf ? -32768 : -8388608;
    for (int k = 0; k < samples + fill; ++k) {
        const double got = signal[k].toDouble();
        const int sample = k < before ? k : k < before + fill ? -1 : k - fill;
        if (sample < 0)
            QCOMPARE(got, lowest);
        else
            QCOMPARE(got, wanted(sample));
    }
}

void TestCaptureExport::edfLimits_data()
{
    QTest::addColumn<int>("lineCount"); // at 1,000 a second
    QTest::addColumn<int>("channels");
    QTest::addColumn<int>("missingEvery"); // ch2 has no value on every Nth line
    QTest::addColumn<int>("markers");
    QTest::addColumn<QString>("label"); // of the last marker
    QTest::addColumn<bool>("rail"); // a sample at the lowest 16-bit value
    QTest::addColumn<QString>("said"); // in the report or the reason
    QTest::addColumn<QString>("annotation"); // the last marker's, in the file

    // EDFlib keeps 40 bytes: "1 ", 37 x, and the first byte of the é are no text.
    const QString x37(37, QLatin1Char('x'));
    QTest::newRow("gaps beyond room, a marker at the end")
        << 3000 << 2 << 2 << 1 << "end" << false << ""
        << "1 end";
    QTest::newRow("more markers than EDF+ holds")
        << 2000 << 1 << 0 << 500 << "" << false << "export it as CSV"
        << "";
    QTest::newRow("a long label cut at a character")
        << 1000 << 1 << 0 << 1 << x37 + QStringLiteral("é and more") << false << ""
        << "1 " + x37;
    QTest::newRow("a sample at the lowest value")
        << 1000 << 1 << 0 << 0 << "" << true << "ch1 scaled to 16 bits"
        << "";
    QTest::newRow("ten channels") << 1000 << 10 << 0 << 0 << "" << false
                                  << "more than 8 channels: only the first 8 exported"
                                  << "";
}

void TestCaptureExport::edfLimits()
{
    QFETCH(int, lineCount);
    QFETCH(int, channels);
    QFETCH(int, missingEvery);
    QFETCH(int, markers);
    QFETCH(QString, label);
    QFETCH(bool, rail);
    QFETCH(QString, said);
    QFETCH(QString, annotation);

    QList<QByteArray> lines;
    for (int i = 0; i < lineCount; ++i) {
        QByteArrayList fields;
        for (int c = 0; c < channels; ++c) {
            const bool missing = c == 1 && missingEvery > 0 && i % missingEvery == 0;
            fields << (missing ? QByteArray() : QByteArray::number(rail && i == 5 ? -32768 : i));
        }
        lines.append(fields.join(',') + "\r\n");
    }
    Made made = make(lines, 1000);
    for (int m = 0; m < markers; ++m)
        made.input.events.append(marker(made, (m + 1) * (lineCount - 1) / markers, m + 1,
                                        m == markers - 1 ? label : QString()));
    const QString path = rowFile(dir, QStringLiteral("limits-"), QStringLiteral("edf"));
    const CaptureExport::Outcome outcome
        = CaptureExport::run(path, CaptureExport::Format::Edf, 0, made.input, nullptr);
    const QString text = outcome.reason + outcome.report;
    QVERIFY2(text.contains(said), qPrintable(text));
    if (!outcome.reason.isEmpty()) {
        QCOMPARE(int(outcome.result), int(CaptureExport::Result::Failed));
        QVERIFY(!QFile::exists(path));
        return;
    }
    const QJsonObject back = readBack(QStringLiteral("edf"), path);
    QVERIFY(!back.isEmpty());
    const QStringList annotations = annotationsOf(back).texts;
    const QString all = annotations.join('|');
    // Every marker, and no gap note pushed out by another.
    for (int m = 0; m < markers; ++m) {
        const QString want
            = m == markers - 1 && !annotation.isEmpty() ? annotation : QString::number(m + 1);
        QVERIFY2(annotations.contains(want), qPrintable(want + " in " + all));
    }
    if (missingEvery > 0)
        QVERIFY2(
            all.contains(QRegularExpression(QStringLiteral("\\d+ more gaps are not annotated"))),
            qPrintable(all));
    if (rail) {
        const QJsonArray signal = back["signals"].toArray()[0].toArray();
        const double fill = signal[signal.size() - 1].toDouble();
        QVERIFY2(signal[5].toDouble() > fill && std::abs(signal[5].toDouble() + 32768) < 1.01,
                 qPrintable(QStringLiteral("%1, fill %2").arg(signal[5].toDouble()).arg(fill)));
    }
}

void TestCaptureExport::failureOrCancelKeepsOldFile_data()
{
    QTest::addColumn<int>("format");
    QTest::addColumn<bool>("cancel");
    QTest::addColumn<QByteArray>("line");
    QTest::newRow("csv cancelled")
        << int(CaptureExport::Format::Csv) << true << QByteArray("1,2\n");
    QTest::newRow("edf cancelled")
        << int(CaptureExport::Format::Edf) << true << QByteArray("1,2\n");
    // Beyond what the 8 characters of EDF's header can say.
    QTest::newRow("edf, values too large")
        << int(CaptureExport::Format::Edf) << false << QByteArray("1.5e12\n");
    QTest::newRow("csv, no number")
        << int(CaptureExport::Format::Csv) << false << QByteArray("hello\n");
}

void TestCaptureExport::failureOrCancelKeepsOldFile()
{
    QFETCH(int, format);
    QFETCH(bool, cancel);
    QFETCH(QByteArray, line);
    QTemporaryDir folder;
    const QString path = folder.filePath(QStringLiteral("old.dat"));
    QFile old(path);
    QVERIFY(old.open(QIODevice::WriteOnly));
    old.write("old content");
    old.close();
    QList<QByteArray> lines;
    for (int i = 0; i < 5000; ++i)
        lines << line;
    const Made made = make(lines, 1000);
    CaptureExport::Control control;
    control.cancelled = cancel;
    const CaptureExport::Outcome outcome
        = CaptureExport::run(path, CaptureExport::Format(format), 0, made.input, &control);
    QCOMPARE(int(outcome.result),
             int(cancel ? CaptureExport::Result::Cancelled : CaptureExport::Result::Failed));
    QVERIFY(cancel || !outcome.reason.isEmpty());
    QVERIFY(old.open(QIODevice::ReadOnly));
    QCOMPARE(old.readAll(), QByteArray("old content"));
    QCOMPARE(QDir(folder.path()).entryList(QDir::Files), QStringList{"old.dat"});
}

void TestCaptureExport::headerNumbers_data()
{
    QTest::addColumn<double>("value");
    QTest::addColumn<bool>("up");
    QTest::addColumn<double>("want");
    QTest::newRow("fits") << 12.5 << true << 12.5;
    QTest::newRow("decimals cut up") << 1.23456789 << true << 1.234568;
    QTest::newRow("decimals cut down") << 1.23456789 << false << 1.234567;
    QTest::newRow("negative down") << -3.14159265 << false << -3.14160;
    QTest::newRow("large") << 12345678.4 << true << 12345679.0;
}

void TestCaptureExport::headerNumbers()
{
    QFETCH(double, value);
    QFETCH(bool, up);
    QFETCH(double, want);
    double got = 0;
    QVERIFY(EdfExport::headerNumber(value, up, &got));
    QCOMPARE(got, want);
    QVERIFY(up ? got >= value : got <= value);
}

void TestCaptureExport::tenMillionLinesStayFlat()
{
    // In a file, as a long capture is, so that the capture itself takes no memory.
    const QString capturePath = dir.filePath(QStringLiteral("long-capture.txt"));
    QFile capture(capturePath);
    QVERIFY(capture.open(QIODevice::WriteOnly));
    const int lines = 10000000;
    QVector<TimePoint> times;
    QByteArray block;
    qint64 size = 0;
    for (int i = 0; i < lines; ++i) {
        block += QByteArray::number(i % 2000 - 1000) + ',' + QByteArray::number(i % 77) + ','
            + QByteArray::number(-(i % 1000)) + "\r\n";
        if (block.size() > (1 << 20) || i + 1 == lines) {
            size += block.size();
            capture.write(block);
            block.clear();
            times.append({size, qint64(i + 1) * 100});
        }
    }
    capture.close();
    ExportPlan::Input input;
    input.capture = CaptureSnapshot::ofLeftover(capturePath, size);
    input.times = times;
    input.startedUtc = QDateTime::currentDateTimeUtc();
    for (const auto format : {CaptureExport::Format::Csv, CaptureExport::Format::Edf}) {
        const qint64 before = testkit::peakResidentBytes();
        const QString path
            = dir.filePath(format == CaptureExport::Format::Csv ? QStringLiteral("long.csv")
                                                                : QStringLiteral("long.edf"));
        const CaptureExport::Outcome outcome = CaptureExport::run(path, format, 0, input, nullptr);
        QCOMPARE(outcome.reason, QString());
        QVERIFY2(outcome.report.startsWith(QLocale().toString(lines) + " samples"),
                 qPrintable(outcome.report));
        const qint64 growth = testkit::peakResidentBytes() - before;
        QVERIFY2(growth < 32 * 1024 * 1024, qPrintable(QString::number(growth)));
        QFile::remove(path);
    }
}

QTEST_GUILESS_MAIN(TestCaptureExport)
#include "tst_captureexport.moc"
