#ifndef MARKERCOMMANDS_H
#define MARKERCOMMANDS_H

#include "timeline/captureevent.h"

#include <QObject>

class CaptureStore;
class MainWindowForm;
class MarkerEntry;
class PlotDock;
class QStatusBar;

// Places the user's markers in the capture at the moment of the key, whatever the plot shows,
// says so in the status bar, takes a label typed afterwards, and hands the capture's events to
// the plot.
class MarkerCommands : public QObject
{
    Q_OBJECT

public:
    // How long the status bar tells of a marker.
    static constexpr int MessageMs = 5000;

    // Joins the form's marker actions, and puts the label's entry into its status bar.
    MarkerCommands(CaptureStore *store, PlotDock *plot, MainWindowForm *form, QObject *parent);

    // Numbers 1 to 9.
    void placeNumbered(int number);
    // Unnumbered; its label may be typed afterwards.
    void placeLabelled();

    // "Marker 3 at 12.345 s", seconds since the capture's start.
    static QString describe(const CaptureEvent &marker);

private:
    void applyLabel(const CaptureEvent &marker, const QString &label);
    void eventsReset();

    CaptureStore *store;
    PlotDock *plot;
    QStatusBar *statusBar;
    MarkerEntry *entry;
};

#endif // MARKERCOMMANDS_H
