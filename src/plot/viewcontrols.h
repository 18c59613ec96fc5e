#ifndef VIEWCONTROLS_H
#define VIEWCONTROLS_H

#include "plot/viewprocessor.h"

#include <QWidget>

class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPushButton;
class QToolButton;

// The plot dock's choice of view: high-pass, mains notch, signal or envelope and its window, the
// spectrum, and
// the ADC's range for the clipping mark. Each says when the rate keeps it from running.
class ViewControls : public QWidget
{
    Q_OBJECT

public:
    explicit ViewControls(QWidget *parent = nullptr);

    ViewProcessor::Settings settings() const;
    bool spectrumShown() const;
    // Marks the choices that the processor could not run, with the reason as their tip.
    void showState(const ViewProcessor &processor);

signals:
    void settingsChanged(const ViewProcessor::Settings &settings);
    void spectrumToggled(bool shown);
    // lo < hi, or both 0 when the range is not stated.
    void adcLimitsChanged(double lo, double hi);

private:
    void emitSettings();
    void emitLimits();
    static void mark(QWidget *control, bool refused, const QString &why, const QString &tip);

    QComboBox *highPassBox = nullptr;
    QComboBox *mainsBox = nullptr;
    QComboBox *showBox = nullptr;
    QPushButton *spectrumButton = nullptr;
    QToolButton *adcButton = nullptr;
    QCheckBox *adcBox = nullptr;
    QDoubleSpinBox *adcLow = nullptr;
    QDoubleSpinBox *adcHigh = nullptr;
};

#endif // VIEWCONTROLS_H
