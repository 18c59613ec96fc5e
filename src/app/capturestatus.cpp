#include "app/capturestatus.h"

#include "export/captureexporter.h"
#include "serial/captureflags.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"

#include <QDir>
#include <QHBoxLayout>
#include <QLabel>
#include <QLocale>
#include <QProgressBar>
#include <QTimer>
#include <QToolButton>

CaptureStatus::CaptureStatus(const CaptureStore *store, CaptureSaver *saver, QWidget *parent)
    : QWidget(parent)
    , store(store)
    , saver(saver)
    , captureLabel(new QLabel(this))
    , indicatorTimer(new QTimer(this))
    , silenceTimer(new QTimer(this))
    , saveProgress(new QProgressBar(this))
    , cancelSaveButton(new QToolButton(this))
    , saveProgressTimer(new QTimer(this))
{
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);

    captureLabel->setObjectName(QStringLiteral("captureLabel"));
    captureLabel->setTextFormat(Qt::PlainText);
    layout->addWidget(captureLabel);
    // Counting what arrived a few times a second is plenty for a person to follow; each new
    // text lays out the status bar and the window's layout with it, far more work than a
    // delivery. Started by the first delivery after a tick, never pushed back by the next.
    indicatorTimer->setObjectName(QStringLiteral("indicatorTick"));
    indicatorTimer->setSingleShot(true);
    indicatorTimer->setInterval(250);
    connect(indicatorTimer, &QTimer::timeout, this, &CaptureStatus::show);
    silenceTimer->setObjectName(QStringLiteral("silenceTick"));
    silenceTimer->setInterval(1000);
    connect(silenceTimer, &QTimer::timeout, this, &CaptureStatus::show);

    saveProgress->setObjectName(QStringLiteral("saveProgress"));
    saveProgress->setRange(0, 1000);
    saveProgress->setMaximumWidth(200);
    saveProgress->hide();
    layout->addWidget(saveProgress);
    cancelSaveButton->setObjectName(QStringLiteral("cancelSaveButton"));
    cancelSaveButton->setText(tr("Cancel"));
    cancelSaveButton->setToolTip(tr("Stop saving; a file that existed keeps its old content"));
    cancelSaveButton->hide();
    layout->addWidget(cancelSaveButton);
    saveProgressTimer->setInterval(100);
    connect(saveProgressTimer, &QTimer::timeout, this, &CaptureStatus::updateSaveProgress);
    connect(cancelSaveButton, &QToolButton::clicked, saver, &CaptureSaver::cancel);
    connect(saver, &CaptureSaver::allDone, this, &CaptureStatus::savesDone);

    show();
}

QString CaptureStatus::sizeText(qint64 bytes)
{
    if (bytes < 1000)
        return tr("%1 B").arg(bytes);
    const QLocale locale;
    const char *const units[]
        = {QT_TRANSLATE_NOOP("CaptureStatus", "%1 kB"), QT_TRANSLATE_NOOP("CaptureStatus", "%1 MB"),
           QT_TRANSLATE_NOOP("CaptureStatus", "%1 GB")};
    // Counted in tenths of the unit, rounded as shown, and the unit picked for the rounded value:
    // 999,950 bytes read "1.0 MB", not "1,000.0 kB".
    qint64 perUnit = 1000;
    int unit = 0;
    const auto tenths = [&] { return (bytes * 10 + perUnit / 2) / perUnit; };
    while (tenths() >= 10000 && unit < 2) {
        perUnit *= 1000;
        ++unit;
    }
    return tr(units[unit]).arg(locale.toString(double(tenths()) / 10, 'f', 1));
}

int CaptureStatus::kind() const
{
    return (captureState != 0 ? 1 : 0) | (store->size() > 0 ? 2 : 0)
        | (store->sizeInMemory() > 0 ? 4 : 0);
}

void CaptureStatus::refresh()
{
    if (kind() != shownKind)
        show();
    else
        dataArrived();
}

void CaptureStatus::show()
{
    indicatorTimer->stop();
    shownKind = kind();
    const qint64 bytes = store->size();
    QString text;
    if (captureState != 0) {
        text = tr("Capturing: %1").arg(sizeText(bytes));
        // A device may pause: silence changes nothing of what we believe, but the user sees it.
        const qint64 silentMs = silence ? silence() : -1;
        if (silentMs >= 0)
            text += tr(", nothing received for %1 s").arg(silentMs / 1000);
    } else if (bytes > 0) {
        text = tr("Kept: %1").arg(sizeText(bytes));
    }
    const qint64 inMemory = store->sizeInMemory();
    if (inMemory > 0)
        text += tr(" (%1 in memory only)").arg(sizeText(inMemory));
    if (text != captureLabel->text())
        captureLabel->setText(text);
    if (captureState == 0)
        silenceTimer->stop();
    else if (!silenceTimer->isActive())
        silenceTimer->start();
}

void CaptureStatus::setSilence(std::function<qint64()> silentMs)
{
    silence = std::move(silentMs);
    show();
}

void CaptureStatus::dataArrived()
{
    if (!indicatorTimer->isActive())
        indicatorTimer->start();
}

void CaptureStatus::saveStarted()
{
    saveProgressTimer->start();
}

bool CaptureStatus::holdClose()
{
    if (!saver->isBusy())
        return false;
    if (closeWhenSaved) {
        // Asked twice: the user would rather lose the save than wait, as for a pipe nobody reads.
        saver->cancelAll();
        return false;
    }
    closeWhenSaved = true;
    updateSaveProgress();
    return true;
}

void CaptureStatus::updateSaveProgress()
{
    // A quick save shows nothing; one that takes longer shows how far it got.
    if (!saver->isBusy() || (saver->elapsedMs() < 500 && !closeWhenSaved))
        return;
    const qint64 total = saver->toWrite();
    saveProgress->setValue(total > 0 ? int(saver->written() * 1000 / total) : 0);
    saveProgress->setFormat(closeWhenSaved ? tr("Saving, then quitting (Quit again to cancel): %p%")
                                           : tr("Saving: %p%"));
    saveProgress->setMaximumWidth(closeWhenSaved ? 400 : 200);
    saveProgress->setToolTip(QDir::toNativeSeparators(saver->fileName()));
    saveProgress->show();
    cancelSaveButton->show();
}

void CaptureStatus::savesDone()
{
    saveProgressTimer->stop();
    saveProgress->hide();
    cancelSaveButton->hide();
    if (closeWhenSaved)
        emit readyToClose();
}

void CaptureStatus::watchExports(CaptureExporter *watched)
{
    exporter = watched;
    exportProgress = new QProgressBar(this);
    exportProgress->setObjectName(QStringLiteral("exportProgress"));
    exportProgress->setRange(0, 1000);
    exportProgress->setMaximumWidth(200);
    exportProgress->setFormat(tr("Exporting: %p%"));
    exportProgress->hide();
    layout()->addWidget(exportProgress);
    cancelExportButton = new QToolButton(this);
    cancelExportButton->setObjectName(QStringLiteral("cancelExportButton"));
    cancelExportButton->setText(tr("Cancel"));
    cancelExportButton->setToolTip(tr("Stop exporting; a file that existed keeps its old content"));
    cancelExportButton->hide();
    layout()->addWidget(cancelExportButton);
    exportProgressTimer = new QTimer(this);
    exportProgressTimer->setInterval(100);
    connect(exportProgressTimer, &QTimer::timeout, this, &CaptureStatus::updateExportProgress);
    connect(exporter, &CaptureExporter::started, exportProgressTimer, qOverload<>(&QTimer::start));
    connect(exporter, &CaptureExporter::finished, this, [this] {
        exportProgressTimer->stop();
        updateExportProgress();
    });
    connect(cancelExportButton, &QToolButton::clicked, exporter, &CaptureExporter::cancel);
}

void CaptureStatus::updateExportProgress()
{
    // As for a save: a quick export shows nothing.
    const bool shown = exporter->isBusy() && exporter->elapsedMs() >= 500;
    if (shown) {
        exportProgress->setValue(int(exporter->progress() * 1000));
        exportProgress->setToolTip(QDir::toNativeSeparators(exporter->fileName()));
    }
    if (shown != exportProgress->isVisible()) {
        exportProgress->setVisible(shown);
        cancelExportButton->setVisible(shown);
    }
}
