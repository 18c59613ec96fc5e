#include "plot/plotmarkers.h"
#include "plot/plotmodel.h"

#include <QtTest>

// Events placed at the plot's samples by their byte offsets in the capture, which reads the same
// bytes just before the plot does, and may start anew meanwhile.
class TestPlotMarkers : public QObject
{
    Q_OBJECT

private:
    PlotModel model;
    PlotMarkers markers;
    qint64 capture = 0;

    // Both read a delivery, as the window's reading does: the capture first.
    void deliver(const QByteArray &bytes)
    {
        capture += bytes.size();
        markers.feed(model, bytes);
    }
    static CaptureEvent event(qint64 id, qint64 offset,
                              CaptureEvent::Type type = CaptureEvent::Type::Marker)
    {
        CaptureEvent e;
        e.id = id;
        e.type = type;
        e.offset = offset;
        return e;
    }

private slots:
    void init()
    {
        model.clear();
        markers = PlotMarkers();
        capture = 0;
        markers.setCaptureSize([this] { return capture; });
    }
    void landsOnTheArrivingLine_data();
    void landsOnTheArrivingLine();
    void resetKeepsWhatIsStillThere();
    void plotClearedForgetsItsMarks();
};

void TestPlotMarkers::landsOnTheArrivingLine_data()
{
    QTest::addColumn<QByteArray>("before");
    // The capture starts anew after `before`.
    QTest::addColumn<bool>("restart");
    // Taken by the capture, not yet by the plot, when the marker is placed.
    QTest::addColumn<QByteArray>("unread");
    QTest::addColumn<QByteArray>("after");
    QTest::addColumn<int>("sample");
    // clang-format off
    QTest::newRow("at a line's end") << QByteArray("1\n2\n3\n") << false << QByteArray() << QByteArray("4\n") << 2;
    QTest::newRow("within a line") << QByteArray("1\n2\n3") << false << QByteArray() << QByteArray("4\n") << 2;
    QTest::newRow("between CR and LF") << QByteArray("1\r\n2\r") << false << QByteArray() << QByteArray("\n3\r\n") << 1;
    QTest::newRow("a line without a number last") << QByteArray("1\n2\nabc\n") << false << QByteArray() << QByteArray("4\n") << 1;
    QTest::newRow("in a delivery the plot has not read") << QByteArray("1\n2\n") << false << QByteArray("3\n4\n") << QByteArray("5\n") << 3;
    QTest::newRow("within a line the plot has not read") << QByteArray("1\n2\n") << false << QByteArray("3\n4") << QByteArray("\n5\n") << 3;
    QTest::newRow("just after a start") << QByteArray("1\n2\n") << true << QByteArray() << QByteArray("3\n4\n") << 1;
    QTest::newRow("after a start, unread") << QByteArray("1\n2\n") << true << QByteArray("3\n") << QByteArray("4\n") << 2;
    // clang-format on
}

void TestPlotMarkers::landsOnTheArrivingLine()
{
    QFETCH(QByteArray, before);
    QFETCH(bool, restart);
    QFETCH(QByteArray, unread);
    QFETCH(QByteArray, after);
    QFETCH(int, sample);
    deliver(before);
    if (restart)
        capture = 0;
    capture += unread.size();
    markers.add(event(1, capture), model);
    if (!unread.isEmpty()) {
        // Its bytes are not read yet: it waits for them.
        QCOMPARE(markers.waitingCount(), 1);
        markers.feed(model, unread);
    }
    deliver(after);
    QCOMPARE(markers.waitingCount(), 0);
    QCOMPARE(int(markers.marks().size()), 1);
    QCOMPARE(int(markers.marks().front().sample), sample);
}

void TestPlotMarkers::resetKeepsWhatIsStillThere()
{
    // Lines of 3 bytes: the sample of byte b is b / 3.
    deliver("10\n11\n12\n");
    markers.add(event(1, capture), model);
    deliver("13\n14\n15\n");
    markers.add(event(2, capture, CaptureEvent::Type::Lost), model);
    // Not drawn.
    markers.add(event(3, capture, CaptureEvent::Type::Silence), model);
    deliver("16\n17\n18\n19\n");
    QCOMPARE(int(markers.marks().size()), 2);

    // Put back: one of them is gone, one is labelled, one comes back at an offset read before.
    CaptureEvent labelled = event(1, 999);
    labelled.label = QStringLiteral("rest");
    markers.reset({labelled, event(4, 21)});
    deliver("20\n");
    QCOMPARE(markers.waitingCount(), 0);
    QCOMPARE(int(markers.marks().size()), 2);
    QCOMPARE(markers.marks().at(0).id, 1);
    // Where it was placed, whatever its offset reads now.
    QCOMPARE(int(markers.marks().at(0).sample), 2);
    QCOMPARE(PlotMarkers::text(markers.marks().at(0)), QStringLiteral("rest"));
    QCOMPARE(markers.marks().at(1).id, 4);
    QCOMPARE(int(markers.marks().at(1).sample), 6);

    // Emptied with the capture.
    markers.reset({});
    QVERIFY(markers.marks().empty());
}

void TestPlotMarkers::plotClearedForgetsItsMarks()
{
    deliver("1\n2\n3\n");
    markers.add(event(1, capture), model);
    model.clear();
    markers.clear();
    QVERIFY(markers.marks().empty());
    // The plot counts its samples from the clear; the capture goes on counting.
    deliver("4\n5\n");
    markers.add(event(2, capture), model);
    QCOMPARE(int(markers.marks().size()), 1);
    QCOMPARE(int(markers.marks().front().sample), 1);
}

QTEST_MAIN(TestPlotMarkers)
#include "tst_plotmarkers.moc"
