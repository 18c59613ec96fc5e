#include "plot/plotdock.h"

#include "plot/plotview.h"
#include "plot/psdview.h"
#include "plot/rangebox.h"
#include "plot/viewcontrols.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDoubleSpinBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMainWindow>
#include <QPushButton>
#include <QScreen>
#include <QStackedWidget>
#include <QVBoxLayout>

PlotDock::PlotDock(QWidget *parent)
    : QDockWidget(tr("Plot"), parent)
{
    setObjectName(QStringLiteral("plotDock"));
    setAllowedAreas(Qt::AllDockWidgetAreas);
    setFeatures(QDockWidget::DockWidgetClosable | QDockWidget::DockWidgetMovable
                | QDockWidget::DockWidgetFloatable);
    QAction *toggle = toggleViewAction();
    toggle->setObjectName(QStringLiteral("actionPlot"));
    toggle->setText(tr("Plot"));
    toggle->setToolTip(tr("Show or hide the plot of the numbers received"));
    toggle->setShortcut(QKeySequence(tr("Alt+P")));

    auto *body = new QWidget(this);
    auto *column = new QVBoxLayout(body);
    column->setContentsMargins(4, 2, 4, 4);
    column->setSpacing(2);
    auto *controls = new QHBoxLayout;
    controls->setSpacing(6);

    pauseButton = new QPushButton(tr("Pause"), body);
    pauseButton->setObjectName(QStringLiteral("plotPause"));
    pauseButton->setCheckable(true);
    pauseButton->setToolTip(tr("Freeze the view; the capture goes on"));
    controls->addWidget(pauseButton);

    windowBox = new QComboBox(body);
    windowBox->setObjectName(QStringLiteral("plotWindow"));
    for (int seconds : {1, 2, 5, 10, 30, 60})
        windowBox->addItem(tr("%1 s").arg(seconds), seconds);
    windowBox->setCurrentIndex(2);
    windowBox->setToolTip(tr("How much time the view shows"));
    controls->addWidget(windowBox);

    // Off by default: the plot opens on the raw signal.
    viewControls = new ViewControls(body);
    controls->addWidget(viewControls);

    fixedBox = new QCheckBox(tr("Fixed range"), body);
    fixedBox->setObjectName(QStringLiteral("plotFixed"));
    controls->addWidget(fixedBox);
    lowBox = new RangeBox(body);
    lowBox->setObjectName(QStringLiteral("plotLow"));
    highBox = new RangeBox(body);
    highBox->setObjectName(QStringLiteral("plotHigh"));
    for (QDoubleSpinBox *box : {lowBox, highBox}) {
        // Room for about ten digits: the row holds the view's choices too.
        box->setMaximumWidth(box->fontMetrics().horizontalAdvance(QStringLiteral("-0.00000000"))
                             + 24);
        box->setEnabled(false);
        box->setKeyboardTracking(false);
    }
    lowBox->setValue(-1000);
    highBox->setValue(1000);
    controls->addWidget(lowBox);
    controls->addWidget(new QLabel(tr("to"), body));
    controls->addWidget(highBox);
    controls->addStretch(1);
    column->addLayout(controls);

    views = new QStackedWidget(body);
    plotView = new PlotView(&plotModel, views);
    plotView->setProcessor(&viewProcessor);
    plotView->setMarkers(&plotMarkers);
    spectrum = new SpectrumView(&plotModel, views);
    views->addWidget(plotView);
    views->addWidget(spectrum);
    column->addWidget(views, 1);
    setWidget(body);

    connect(viewControls, &ViewControls::settingsChanged, this,
            [this](const ViewProcessor::Settings &settings) {
                viewProcessor.setSettings(settings);
                plotView->dataChanged();
            });
    connect(viewControls, &ViewControls::adcLimitsChanged, this, [this](double lo, double hi) {
        viewProcessor.setAdcLimits(lo, hi);
        plotView->dataChanged();
    });
    connect(viewControls, &ViewControls::spectrumToggled, this, [this](bool shown) {
        views->setCurrentWidget(shown ? static_cast<QWidget *>(spectrum) : plotView);
    });
    connect(plotView, &PlotView::framePainted, this,
            [this] { viewControls->showState(viewProcessor); });

    connect(pauseButton, &QPushButton::toggled, this, [this](bool paused) {
        pauseButton->setText(paused ? tr("Resume") : tr("Pause"));
        plotView->setPaused(paused);
        spectrum->setPaused(paused);
    });
    connect(windowBox, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
            [this] { plotView->setWindowSeconds(windowBox->currentData().toDouble()); });
    connect(fixedBox, &QCheckBox::toggled, this, [this](bool fixed) {
        if (fixed) {
            // Start from what the view shows, so that fixing it changes nothing at first.
            const QSignalBlocker lowBlock(lowBox);
            const QSignalBlocker highBlock(highBox);
            lowBox->setValue(plotView->rangeLow());
            highBox->setValue(plotView->rangeHigh());
        }
        lowBox->setEnabled(fixed);
        highBox->setEnabled(fixed);
        applyRange();
    });
    for (QDoubleSpinBox *box : {lowBox, highBox})
        connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                &PlotDock::applyRange);
    connect(this, &QDockWidget::visibilityChanged, this, &PlotDock::makeRoom);
}

PlotDock::~PlotDock()
{
    // The views draw from the model and the processor, members that die before the children do:
    // they go first.
    delete views;
}

void PlotDock::append(const QByteArray &data)
{
    plotMarkers.feed(plotModel, data);
    plotView->dataChanged();
}

void PlotDock::clear()
{
    plotModel.clear();
    viewProcessor.clear();
    plotMarkers.clear();
    pauseButton->setChecked(false);
    plotView->cleared();
}

void PlotDock::applyRange()
{
    const bool fixed = fixedBox->isChecked();
    const bool valid = lowBox->value() < highBox->value();
    if (fixed && valid)
        plotView->setFixedRange(lowBox->value(), highBox->value());
    else if (!fixed)
        plotView->setAutoRange();
    // A low end not below the high end holds the range last set, and says why.
    const bool refused = fixed && !valid;
    for (QDoubleSpinBox *box : {lowBox, highBox}) {
        QPalette palette; // an empty one: the box's own colours again
        if (refused)
            palette.setColor(QPalette::Text, QColor(0xB0, 0x30, 0x00));
        box->setPalette(palette);
        box->setToolTip(refused ? tr("The low end must be below the high end") : QString());
    }
}

void PlotDock::makeRoom(bool visible)
{
    // The window starts small; the first time the plot shows there, the window grows to fit it.
    auto *window = qobject_cast<QMainWindow *>(parentWidget());
    if (!visible || roomMade || isFloating() || !window || !window->isVisible()
        || (window->windowState() & (Qt::WindowMaximized | Qt::WindowFullScreen)))
        return;
    roomMade = true;
    QSize wanted = window->size().expandedTo(QSize(900, 680));
    if (const QScreen *screen = window->screen())
        wanted = wanted.boundedTo(screen->availableGeometry().size());
    if (wanted != window->size())
        window->resize(wanted);
    window->resizeDocks({this}, {wanted.height() / 2}, Qt::Vertical);
}
