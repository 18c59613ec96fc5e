#ifndef CAPTURESTATUS_H
#define CAPTURESTATUS_H

#include <QWidget>

#include <functional>

class CaptureExporter;
class CaptureSaver;
class CaptureStore;
class QLabel;
class QProgressBar;
class QTimer;
class QToolButton;

// The capture's corner of the status bar: whether a capture runs and how much it holds, and the
// progress of a running save with its Cancel.
class CaptureStatus : public QWidget
{
    Q_OBJECT

public:
    CaptureStatus(const CaptureStore *store, CaptureSaver *saver, QWidget *parent = nullptr);

    // A capture's size as the indicator shows it, e.g. "1.2 MB".
    static QString sizeText(qint64 bytes);

    // What the capture is (running, kept, partly in memory only) shows at once; a size that
    // changed alone waits for the next tick. Cheap enough to call on every delivery.
    void refresh();
    // Bytes arrived: shown at the next tick, a few times a second.
    void dataArrived();
    // A save was asked for: its progress shows once it takes long enough for a person to wonder.
    void saveStarted();
    // Shows the progress of the exporter's exports, with a Cancel.
    void watchExports(CaptureExporter *watched);
    // How long nothing has arrived, when that is worth a note while capturing; else negative.
    void setSilence(std::function<qint64()> silentMs);
    // True while saves run: the window must stay until they are done, and then readyToClose
    // follows. Asked again meanwhile, cancels them and lets the window go.
    bool holdClose();

signals:
    void readyToClose();

private:
    // Which of the texts the indicator shows, whatever the size in it.
    int kind() const;
    void show();
    void updateSaveProgress();
    void savesDone();
    void updateExportProgress();

    const CaptureStore *store;
    CaptureSaver *saver;
    QLabel *captureLabel;
    int shownKind = -1;
    QTimer *indicatorTimer;
    std::function<qint64()> silence;
    // Counts the silence up while capturing.
    QTimer *silenceTimer;
    QProgressBar *saveProgress;
    QToolButton *cancelSaveButton;
    QTimer *saveProgressTimer;
    bool closeWhenSaved = false;
    CaptureExporter *exporter = nullptr;
    QProgressBar *exportProgress = nullptr;
    QToolButton *cancelExportButton = nullptr;
    QTimer *exportProgressTimer = nullptr;
};

#endif // CAPTURESTATUS_H
