#ifndef PSDVIEW_H
#define PSDVIEW_H

#include "dsp/welchpsd.h"
#include "plot/history.h"

#include <QTimer>
#include <QVector>
#include <QWidget>

#include <array>
#include <memory>

class PlotModel;

// The power spectral density of each channel over its last 1.5 s, in dB from 0 Hz to the
// Nyquist frequency, with guides at 50 and 60 Hz and their harmonics and each channel's share
// of power in the mains lines; refreshed four times a second while shown.
class SpectrumView : public QWidget
{
    Q_OBJECT

public:
    static constexpr double seconds = 1.5;

    explicit SpectrumView(const PlotModel *model, QWidget *parent = nullptr);
    ~SpectrumView() override;

    void setPaused(bool paused);
    // Works the spectra out now from the model's last samples.
    void refresh();
    // "ch1 mains 50 Hz: 23 %" a channel, or why there is no spectrum; as last drawn.
    QStringList readouts() const { return texts; }
    const Spectrum &spectrum(int channel) const { return *spectra[std::size_t(channel)]; }
    int channels() const { return shownChannels; }

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

signals:
    void refreshed();

protected:
    void paintEvent(QPaintEvent *event) override;
    void showEvent(QShowEvent *event) override;
    void hideEvent(QHideEvent *event) override;

private:
    const PlotModel *model;
    QTimer timer;
    bool paused = false;
    std::array<std::unique_ptr<Spectrum>, History::maxChannels> spectra;
    int shownChannels = 0;
    double shownRate = 0;
    QStringList texts;
};

#endif // PSDVIEW_H
