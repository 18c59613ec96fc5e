#ifndef CAPTURERECOVERY_H
#define CAPTURERECOVERY_H

#include "serial/capturefile.h"
#include "serial/leftovers.h"

#include <QHash>
#include <QObject>
#include <QSet>

#include <functional>

class CaptureSaver;
class QWidget;

// Offers the captures that earlier runs left behind, once, in one box: save them through the
// window's saver, discard them, or keep them for later. Goes away by itself when done.
class CaptureRecovery : public QObject
{
    Q_OBJECT

public:
    // askSaveName asks for a file name under the caption given; empty when cancelled.
    using AskSaveName = std::function<QString(const QString &caption)>;
    CaptureRecovery(const QString &folder, CaptureSaver *saver, QWidget *window,
                    AskSaveName askSaveName);

    // Looks for leftovers; asks only when there are some.
    void offer();

signals:
    // A save of a leftover was handed to the saver.
    void saveStarted();

private:
    void saveAll();
    void discardAll();
    void saveFinished(const QString &fileName, const CaptureFile::SaveOutcome &outcome);
    // False when this went away meanwhile.
    bool showError(const QString &text);
    // Once neither a box nor a save needs it.
    void finishIfDone();

    QString folder;
    CaptureSaver *saver;
    QWidget *window;
    AskSaveName askSaveName;
    QList<LeftoverCapture> leftovers;
    // By the name each is being saved to; removed once it is saved.
    QHash<QString, LeftoverCapture> saving;
    // Every name chosen so far: a second capture saved there would replace the first, whose
    // leftover is gone by then.
    QSet<QString> chosen;
    // How many of our boxes and dialogs run their own event loop, in which saves may finish.
    int asking = 0;
};

#endif // CAPTURERECOVERY_H
