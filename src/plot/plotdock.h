#ifndef PLOTDOCK_H
#define PLOTDOCK_H

#include "plot/plotmarkers.h"
#include "plot/plotmodel.h"
#include "plot/viewprocessor.h"

#include <QDockWidget>

class PlotView;
class QStackedWidget;
class SpectrumView;
class ViewControls;
class QCheckBox;
class QComboBox;
class QDoubleSpinBox;
class QPushButton;

// The plot as a dock of the main window: the view and its controls; "Plot" shows and hides it.
class PlotDock : public QDockWidget
{
    Q_OBJECT

public:
    explicit PlotDock(QWidget *parent = nullptr);
    ~PlotDock() override;

    // Reads the numbers in a delivery; the bytes are not changed or kept.
    void append(const QByteArray &data);
    void clear();
    // A gap in the stream: the line it cut is dropped.
    void breakLine() { plotModel.breakLine(); }

    const PlotModel &model() const { return plotModel; }
    // The capture's markers at the plot's samples; the next frame shows what changed in them.
    PlotMarkers &markers() { return plotMarkers; }
    const PlotMarkers &markers() const { return plotMarkers; }
    PlotView *view() const { return plotView; }
    SpectrumView *spectrumView() const { return spectrum; }
    const ViewProcessor &processor() const { return viewProcessor; }

private:
    void applyRange();
    void makeRoom(bool visible);

    PlotModel plotModel;
    ViewProcessor viewProcessor;
    PlotMarkers plotMarkers;
    PlotView *plotView = nullptr;
    SpectrumView *spectrum = nullptr;
    QStackedWidget *views = nullptr;
    ViewControls *viewControls = nullptr;
    QPushButton *pauseButton = nullptr;
    QComboBox *windowBox = nullptr;
    QCheckBox *fixedBox = nullptr;
    QDoubleSpinBox *lowBox = nullptr;
    QDoubleSpinBox *highBox = nullptr;
    bool roomMade = false;
};

#endif // PLOTDOCK_H
