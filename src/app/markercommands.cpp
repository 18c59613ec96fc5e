#include "app/markercommands.h"

#include "app/mainwindowform.h"
#include "app/markerentry.h"
#include "plot/plotdock.h"
#include "plot/plotview.h"
#include "serial/capturestore.h"

#include <QAction>
#include <QStatusBar>

MarkerCommands::MarkerCommands(CaptureStore *store, PlotDock *plot, MainWindowForm *form,
                               QObject *parent)
    : QObject(parent)
    , store(store)
    , plot(plot)
    , statusBar(form->statusBar)
    , entry(new MarkerEntry)
{
    // A permanent widget, so that the status bar's messages do not hide it.
    statusBar->addPermanentWidget(entry);
    connect(entry, &MarkerEntry::labelled, this, &MarkerCommands::applyLabel);
    connect(form->actionMarker, &QAction::triggered, this, &MarkerCommands::placeLabelled);
    for (int n = 1; n <= MainWindowForm::NumberedMarkers; ++n)
        connect(form->actionMarkerNumber[n - 1], &QAction::triggered, this,
                [this, n] { placeNumbered(n); });

    plot->markers().setCaptureSize([store] { return store->size(); });
    connect(store, &CaptureStore::eventRecorded, this, [plot](const CaptureEvent &event) {
        plot->markers().add(event, plot->model());
        plot->view()->dataChanged();
    });
    connect(store, &CaptureStore::eventsReset, this, &MarkerCommands::eventsReset);
}

QString MarkerCommands::describe(const CaptureEvent &marker)
{
    const QString seconds = QString::number(double(marker.micros) / 1e6, 'f', 3);
    if (!marker.label.isEmpty())
        return tr("Marker \u201c%1\u201d at %2 s").arg(marker.label, seconds);
    if (marker.number > 0)
        return tr("Marker %1 at %2 s").arg(marker.number).arg(seconds);
    return tr("Marker at %1 s").arg(seconds);
}

void MarkerCommands::placeNumbered(int number)
{
    // First, before anything that takes time: the marker lands where the key was pressed.
    const CaptureEvent marker = store->record(CaptureEvent::Type::Marker, QString(), number);
    statusBar->showMessage(describe(marker), MessageMs);
}

void MarkerCommands::placeLabelled()
{
    const CaptureEvent marker = store->record(CaptureEvent::Type::Marker);
    // A label begun for the marker before goes to it rather than being lost.
    const CaptureEvent before = entry->marker();
    const QString typed = entry->typed();
    if (before.id != 0 && !typed.isEmpty())
        applyLabel(before, typed);
    statusBar->showMessage(describe(marker), MessageMs);
    entry->ask(marker,
               tr("Label of the marker at %1 s:")
                   .arg(QString::number(double(marker.micros) / 1e6, 'f', 3)));
}

void MarkerCommands::applyLabel(const CaptureEvent &marker, const QString &label)
{
    if (!store->relabel(marker.id, label)) {
        statusBar->showMessage(tr("The marker is gone with the capture it was in"), MessageMs);
        return;
    }
    CaptureEvent labelled = marker;
    labelled.label = label;
    statusBar->showMessage(describe(labelled), MessageMs);
}

void MarkerCommands::eventsReset()
{
    const QVector<CaptureEvent> events = store->events();
    plot->markers().reset(events);
    plot->view()->dataChanged();
    // A Start only sets the marker's capture aside until the device answers, and a put-back
    // brings it again: the label goes on being typed, and goes only with the marker itself.
    const qint64 asked = entry->marker().id;
    if (asked != 0 && !store->holds(asked))
        entry->dismiss();
}
