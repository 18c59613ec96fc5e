#include "plot/plotdock.h"
#include "plot/plotview.h"
#include "plot/psdview.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QPushButton>
#include <QStackedWidget>
#include <QtTest>

// The dock's controls reach the view, whatever the values.
class TestPlotDock : public QObject
{
    Q_OBJECT

private slots:
    void windowChoice();
    void viewsStartRawAndSwitch();
    void fixingKeepsTheRange_data();
    void fixingKeepsTheRange();
    void lowNotBelowHighIsRefused();
    void viewGoesBeforeTheModel();
};

void TestPlotDock::windowChoice()
{
    PlotDock dock;
    auto *choice = dock.findChild<QComboBox *>(QStringLiteral("plotWindow"));
    QCOMPARE(dock.view()->windowSeconds(), 5.0);
    for (int seconds : {1, 2, 10, 30, 60}) {
        choice->setCurrentIndex(choice->findData(seconds));
        QCOMPARE(dock.view()->windowSeconds(), double(seconds));
    }
}

// The plot opens on the raw signal; each choice reaches the processor, and the spectrum takes
// the plot's place.
void TestPlotDock::viewsStartRawAndSwitch()
{
    PlotDock dock;
    QVERIFY(!dock.processor().settings().any());
    auto *views = dock.findChild<QStackedWidget *>();
    QCOMPARE(views->currentWidget(), dock.view());
    auto *show = dock.findChild<QComboBox *>(QStringLiteral("plotShow"));
    QCOMPARE(show->currentIndex(), 0);
    dock.findChild<QComboBox *>(QStringLiteral("plotHighPass"))->setCurrentIndex(1);
    dock.findChild<QComboBox *>(QStringLiteral("plotMains"))->setCurrentIndex(2);
    show->setCurrentIndex(show->findData(200));
    const ViewProcessor::Settings s = dock.processor().settings();
    QCOMPARE(s.filter.highPassHz, 10.0);
    QCOMPARE(s.filter.mainsHz, 60.0);
    QVERIFY(s.envelope);
    QCOMPARE(s.envelopeMs, 200);
    dock.findChild<QPushButton *>(QStringLiteral("plotSpectrum"))->click();
    QCOMPARE(views->currentWidget(), dock.spectrumView());
    dock.findChild<QPushButton *>(QStringLiteral("plotSpectrum"))->click();
    QCOMPARE(views->currentWidget(), dock.view());
}

void TestPlotDock::fixingKeepsTheRange_data()
{
    QTest::addColumn<QByteArray>("lines");
    QTest::newRow("small") << QByteArray("40\n60\n");
    QTest::newRow("beyond a billion") << QByteArray("1835456128\n1835456128\n");
    QTest::newRow("below minus a billion") << QByteArray("-5e9\n-4e9\n");
    QTest::newRow("beyond a float") << QByteArray("1e39\n");
    QTest::newRow("finer than two decimals") << QByteArray("0.001\n0.0012\n");
}

void TestPlotDock::fixingKeepsTheRange()
{
    QFETCH(QByteArray, lines);
    PlotDock dock;
    dock.append(lines);
    PlotView *view = dock.view();
    view->resize(400, 200);
    view->grab();
    const double low = view->rangeLow();
    const double high = view->rangeHigh();
    QVERIFY(low < high);
    dock.findChild<QCheckBox *>(QStringLiteral("plotFixed"))->setChecked(true);
    QVERIFY(!view->isAutoRange());
    view->grab();
    QCOMPARE(float(view->rangeLow()), float(low));
    QCOMPARE(float(view->rangeHigh()), float(high));
    QVERIFY(!view->beyondRange());
    // Typed, and held as typed.
    auto *highBox = dock.findChild<QDoubleSpinBox *>(QStringLiteral("plotHigh"));
    highBox->setValue(high + (high - low));
    view->grab();
    QCOMPARE(float(view->rangeHigh()), float(high + (high - low)));
}

void TestPlotDock::lowNotBelowHighIsRefused()
{
    PlotDock dock;
    dock.append("40\n60\n");
    auto *lowBox = dock.findChild<QDoubleSpinBox *>(QStringLiteral("plotLow"));
    auto *highBox = dock.findChild<QDoubleSpinBox *>(QStringLiteral("plotHigh"));
    dock.findChild<QCheckBox *>(QStringLiteral("plotFixed"))->setChecked(true);
    lowBox->setValue(0);
    highBox->setValue(100);
    lowBox->setValue(200);
    // The range last set holds, and the boxes say why, rather than the view going back to auto.
    QVERIFY(!dock.view()->isAutoRange());
    dock.view()->grab();
    QCOMPARE(dock.view()->rangeLow(), 0.0);
    QCOMPARE(dock.view()->rangeHigh(), 100.0);
    QVERIFY(!lowBox->toolTip().isEmpty());
    highBox->setValue(300);
    QVERIFY(lowBox->toolTip().isEmpty());
}

void TestPlotDock::viewGoesBeforeTheModel()
{
    auto *dock = new PlotDock;
    dock->append("1,2\n");
    int channels = -1;
    float value = 0;
    // Read at the view's end: after the model died, AddressSanitizer reports a use after free.
    connect(dock->view(), &QObject::destroyed, this, [&] {
        channels = dock->model().channelCount();
        if (!dock->model().history().value(1, 0, &value))
            value = -1;
    });
    delete dock;
    QCOMPARE(channels, 2);
    QCOMPARE(value, 2.f);
}

QTEST_MAIN(TestPlotDock)
#include "tst_plotdock.moc"
