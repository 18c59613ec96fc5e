#include "plot/history.h"
#include "plot/plotmodel.h"

#include <QRandomGenerator>
#include <QtTest>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdlib>
#include <new>

namespace {

// Counts this program's allocations, so that a test can see a path that makes none.
std::atomic<long> allocations{0};

} // namespace

void *operator new(std::size_t size)
{
    ++allocations;
    if (void *p = std::malloc(size ? size : 1))
        return p;
    throw std::bad_alloc();
}

// The replacements pair malloc with free, as they must; mingw's GCC takes the free for one of
// a pointer that new returned.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wmismatched-new-delete"
#endif
void operator delete(void *p) noexcept
{
    std::free(p);
}

void operator delete(void *p, std::size_t) noexcept
{
    std::free(p);
}
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC diagnostic pop
#endif

class TestHistory : public QObject
{
    Q_OBJECT

private slots:
    void columns_data();
    void columns();
    void boundHolds();
    void deliveryAllocatesNothing();
};

void TestHistory::columns_data()
{
    QTest::addColumn<double>("perColumn");
    QTest::addColumn<qint64>("spikeAt");
    // From fewer samples than pixels to every level of the history, with spikes on block edges.
    for (double perColumn : {1.0, 3.7, 15.9, 16.0, 100.0, 255.0, 1234.5, 10000.0}) {
        for (qint64 spikeAt : {qint64(0), qint64(4095), qint64(777777)}) {
            QTest::addRow("%g per column, spike at %lld", perColumn, spikeAt)
                << perColumn << spikeAt;
        }
    }
}

void TestHistory::columns()
{
    QFETCH(double, perColumn);
    QFETCH(qint64, spikeAt);
    const int columnCount = 800;
    const double span = perColumn * columnCount;
    const qint64 total = qint64(span) + spikeAt + 1000;
    const double first = double(total) - span;

    History history;
    history.setChannelCount(2);
    QRandomGenerator random(7);
    std::vector<float> raw(static_cast<size_t>(total));
    for (qint64 i = 0; i < total; ++i) {
        raw[size_t(i)] = float(random.bounded(200) - 100);
        // Channel 1 is quiet but for one sample, which lands in view.
        const qint64 spike = qint64(first) + spikeAt % qint64(span);
        const float values[2] = {raw[size_t(i)], i == spike ? 5000.f : 0.f};
        history.append(values);
    }
    std::vector<float> lo(columnCount), hi(columnCount);

    history.columns(1, first, span, columnCount, lo.data(), hi.data());
    QCOMPARE(*std::max_element(hi.begin(), hi.end()), 5000.f);

    history.columns(0, first, span, columnCount, lo.data(), hi.data());
    const double block = perColumn < 16 ? 1 : perColumn < 256 ? 16 : perColumn < 4096 ? 256 : 4096;
    for (int c = 0; c < columnCount; ++c) {
        const qint64 a = qint64(std::floor(first + c * perColumn));
        const qint64 b = qint64(std::floor(first + (c + 1) * perColumn));
        // Inside: every sample of the whole blocks in the column; outside: at most a block more.
        float inLo = HUGE_VALF, inHi = -HUGE_VALF, outLo = HUGE_VALF, outHi = -HUGE_VALF;
        for (qint64 i = std::max<qint64>(0, a - qint64(block));
             i < std::min(total, b + qint64(block)); ++i) {
            outLo = std::min(outLo, raw[size_t(i)]);
            outHi = std::max(outHi, raw[size_t(i)]);
            if (i >= qint64(std::ceil(a / block) * block)
                && i < qint64(std::floor(b / block) * block)) {
                inLo = std::min(inLo, raw[size_t(i)]);
                inHi = std::max(inHi, raw[size_t(i)]);
            }
        }
        QVERIFY2(lo[c] <= inLo && hi[c] >= inHi && lo[c] >= outLo && hi[c] <= outHi,
                 qPrintable(QStringLiteral("column %1: %2..%3, true %4..%5")
                                .arg(c)
                                .arg(lo[c])
                                .arg(hi[c])
                                .arg(inLo)
                                .arg(inHi)));
        if (block == 1)
            QVERIFY(lo[c] == inLo && hi[c] == inHi);
    }
}

void TestHistory::boundHolds()
{
    // Eight channels for longer than the raw ring and the first level hold (3 million samples,
    // from the parser on): each ring grows to its fixed length and no further, 20 MiB in all.
    PlotModel model;
    QByteArray lines;
    for (int i = 0; i < 1000; ++i) {
        for (int c = 0; c < 8; ++c)
            lines += QByteArray::number((i * 37 + c * 101) % 2000 - 1000) + (c < 7 ? "," : "\r\n");
    }
    const std::size_t bound = 8 * ((1u << 18) + 3 * 2 * (1u << 16)) * sizeof(float);
    for (int round = 0; round < 3000; ++round) {
        model.append(lines);
        QVERIFY(model.history().memoryBytes() <= bound);
    }
    QCOMPARE(model.history().sampleCount(), std::int64_t(3000000));
    qInfo("history of 8 channels: %.1f MB", double(model.history().memoryBytes()) / 1048576);
    // The newest minute at 80,000 samples a second is still drawn in full.
    std::vector<float> lo(800), hi(800);
    model.history().columns(7, 3000000 - 60 * 80000, 60 * 80000, 800, lo.data(), hi.data());
    QVERIFY(std::all_of(lo.begin(), lo.end(), [](float v) { return v >= -1000; }));
    QVERIFY(std::all_of(hi.begin(), hi.end(), [](float v) { return v <= 999; }));
}

void TestHistory::deliveryAllocatesNothing()
{
    static std::int64_t now = 0;
    PlotModel model;
    model.setClock([] { return now; });
    QByteArray delivery;
    for (int i = 0; i < 100; ++i)
        delivery += QByteArray::number(i % 7 - 3) + ",12.5;-1e3\r\n";
    // Past the rings' growing steps: from 1,400 to 2,400 deliveries none of them grows.
    for (int i = 0; i < 1400; ++i, now += 3)
        model.append(delivery);
    const long before = allocations;
    for (int i = 0; i < 1000; ++i, now += 3)
        model.append(delivery);
    QCOMPARE(allocations - before, 0L);
    QCOMPARE(model.history().sampleCount(), 240000);
}

QTEST_GUILESS_MAIN(TestHistory)
#include "tst_history.moc"
