#ifndef CAPTURERECOVERY_H
#define CAPTURERECOVERY_H

#include "serial/capturefile.h"
#include "serial/leftovers.h"

#include <QHash>
#include <QObject>

class CaptureSaver;
class QWidget;

// Offers the captures that earlier runs left behind, once, in one box: save them through the
// window's saver, discard them, or keep them for later. Goes away by itself when done.
class CaptureRecovery : public QObject
{
    Q_OBJECT

public:
    CaptureRecovery(const QString &folder, CaptureSaver *saver, QWidget *window);

    // Looks for leftovers; asks only when there are some.
    void offer();

signals:
    // A save of a leftover was handed to the saver.
    void saveStarted();

private:
    void saveAll();
    void discardAll();
    void saveFinished(const QString &fileName, const CaptureFile::SaveOutcome &outcome);
    void showError(const QString &text);

    QString folder;
    CaptureSaver *saver;
    QWidget *window;
    QList<LeftoverCapture> leftovers;
    // By the name each is being saved to; removed once it is saved.
    QHash<QString, LeftoverCapture> saving;
};

#endif // CAPTURERECOVERY_H
