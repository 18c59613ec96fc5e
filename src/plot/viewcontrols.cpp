#include "plot/viewcontrols.h"

#include "plot/rangebox.h"

#include <QCheckBox>
#include <QComboBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QToolButton>
#include <QWidgetAction>

ViewControls::ViewControls(QWidget *parent)
    : QWidget(parent)
{
    auto *row = new QHBoxLayout(this);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(6);

    highPassBox = new QComboBox(this);
    highPassBox->setObjectName(QStringLiteral("plotHighPass"));
    highPassBox->addItem(tr("HP off"), 0.0);
    highPassBox->addItem(tr("HP 10 Hz"), 10.0);
    highPassBox->addItem(tr("HP 20 Hz"), 20.0);
    mainsBox = new QComboBox(this);
    mainsBox->setObjectName(QStringLiteral("plotMains"));
    mainsBox->addItem(tr("Notch off"), 0.0);
    mainsBox->addItem(tr("Notch 50 Hz"), 50.0);
    mainsBox->addItem(tr("Notch 60 Hz"), 60.0);
    showBox = new QComboBox(this);
    showBox->setObjectName(QStringLiteral("plotShow"));
    showBox->addItem(tr("Signal"), 0);
    // The envelope's window, 50 to 500 ms: the RMS of the filtered signal over it.
    for (int ms : {50, 100, 200, 300, 500})
        showBox->addItem(tr("Envelope %1 ms").arg(ms), ms);
    for (QWidget *w : {static_cast<QWidget *>(highPassBox), static_cast<QWidget *>(mainsBox),
                       static_cast<QWidget *>(showBox)})
        row->addWidget(w);
    mark(highPassBox, false, QString(),
         tr("High-pass (HP): a causal fourth-order Butterworth, in the view only; the capture "
            "stays raw"));
    mark(mainsBox, false, QString(),
         tr("Notches at the mains frequency and its harmonics up to the Nyquist frequency, in the "
            "view only"));
    mark(showBox, false, QString(),
         tr("The signal, or its envelope: the RMS of the filtered signal over a window"));

    spectrumButton = new QPushButton(tr("Spectrum"), this);
    spectrumButton->setObjectName(QStringLiteral("plotSpectrum"));
    spectrumButton->setCheckable(true);
    spectrumButton->setToolTip(
        tr("The power spectrum of the last 1.5 s, with the share of power in the mains lines"));
    row->addWidget(spectrumButton);

    // The ADC's range is set once a setup: in a menu, so that the row stays short.
    adcButton = new QToolButton(this);
    adcButton->setObjectName(QStringLiteral("plotAdc"));
    adcButton->setText(tr("ADC…"));
    adcButton->setToolTip(tr("The ADC's range: values at its limits count as clipping"));
    adcButton->setPopupMode(QToolButton::InstantPopup);
    auto *menu = new QMenu(adcButton);
    auto *panel = new QWidget(menu);
    auto *panelRow = new QHBoxLayout(panel);
    panelRow->setContentsMargins(6, 4, 6, 4);
    adcBox = new QCheckBox(tr("ADC range"), panel);
    adcBox->setObjectName(QStringLiteral("plotAdcStated"));
    adcLow = new RangeBox(panel);
    adcLow->setObjectName(QStringLiteral("plotAdcLow"));
    adcHigh = new RangeBox(panel);
    adcHigh->setObjectName(QStringLiteral("plotAdcHigh"));
    adcLow->setValue(0);
    adcHigh->setValue(4095);
    for (QDoubleSpinBox *box : {adcLow, adcHigh}) {
        box->setKeyboardTracking(false);
        box->setEnabled(false);
    }
    panelRow->addWidget(adcBox);
    panelRow->addWidget(adcLow);
    panelRow->addWidget(new QLabel(tr("to"), panel));
    panelRow->addWidget(adcHigh);
    auto *action = new QWidgetAction(menu);
    action->setDefaultWidget(panel);
    menu->addAction(action);
    adcButton->setMenu(menu);
    row->addWidget(adcButton);

    for (QComboBox *box : {highPassBox, mainsBox, showBox})
        connect(box, QOverload<int>::of(&QComboBox::currentIndexChanged), this,
                &ViewControls::emitSettings);
    connect(spectrumButton, &QPushButton::toggled, this, &ViewControls::spectrumToggled);
    connect(adcBox, &QCheckBox::toggled, this, [this](bool on) {
        adcLow->setEnabled(on);
        adcHigh->setEnabled(on);
        emitLimits();
    });
    for (QDoubleSpinBox *box : {adcLow, adcHigh})
        connect(box, QOverload<double>::of(&QDoubleSpinBox::valueChanged), this,
                &ViewControls::emitLimits);
}

ViewProcessor::Settings ViewControls::settings() const
{
    ViewProcessor::Settings s;
    s.filter.highPassHz = highPassBox->currentData().toDouble();
    s.filter.mainsHz = mainsBox->currentData().toDouble();
    const int ms = showBox->currentData().toInt();
    s.envelope = ms > 0;
    if (s.envelope)
        s.envelopeMs = ms;
    return s;
}

bool ViewControls::spectrumShown() const
{
    return spectrumButton->isChecked();
}

void ViewControls::emitSettings()
{
    emit settingsChanged(settings());
}

void ViewControls::emitLimits()
{
    const bool stated = adcBox->isChecked() && adcLow->value() < adcHigh->value();
    adcButton->setText(stated ? tr("ADC %1…%2").arg(adcLow->value()).arg(adcHigh->value())
                              : tr("ADC…"));
    if (stated)
        emit adcLimitsChanged(adcLow->value(), adcHigh->value());
    else
        emit adcLimitsChanged(0, 0);
}

void ViewControls::mark(QWidget *control, bool refused, const QString &why, const QString &tip)
{
    // The palette and tip change only when they do: this runs after every frame.
    const QString wantedTip = refused ? why : tip;
    if (control->property("refused").toBool() == refused && control->toolTip() == wantedTip)
        return;
    control->setProperty("refused", refused);
    QPalette palette; // an empty one: the control's own colours again
    if (refused) {
        palette.setColor(QPalette::ButtonText, QColor(0xB0, 0x30, 0x00));
        palette.setColor(QPalette::Text, QColor(0xB0, 0x30, 0x00));
    }
    control->setPalette(palette);
    control->setToolTip(wantedTip);
}

void ViewControls::showState(const ViewProcessor &processor)
{
    const QString why = processor.refusal();
    mark(highPassBox, processor.highPassRefused(), tr("Not filtered: %1").arg(why),
         tr("High-pass (HP): a causal fourth-order Butterworth, in the view only; the capture "
            "stays raw"));
    mark(mainsBox, processor.mainsRefused(), tr("Not filtered: %1").arg(why),
         tr("Notches at the mains frequency and its harmonics up to the Nyquist frequency, in the "
            "view only"));
    mark(showBox, processor.envelopeRefused(), tr("No envelope: %1").arg(why),
         tr("The signal, or its envelope: the RMS of the filtered signal over a window"));
}
