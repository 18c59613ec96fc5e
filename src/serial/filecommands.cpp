// The window's Save and Open: the file dialogs, the saves handed to the saver, and their errors.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "serial/capturerecovery.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"
#include "serial/leftovers.h"

#include <QDir>
#include <QFileDialog>
#include <QMessageBox>

namespace {
const char *const FileFilter = QT_TRANSLATE_NOOP("MainWindow", "text file (*.txt);;all (*.*)");
}

void MainWindow::on_actionSave_triggered()
{
    const QString fileName
        = QFileDialog::getSaveFileName(this, tr("save file"), QStringLiteral("."), tr(FileFilter));
    if (fileName.isEmpty())
        return;
    if (receivedChunks->isOwnFile(fileName)
        || Leftovers::isCaptureFile(receivedChunks->folder(), fileName)) {
        // The program removes such files, and the saved capture with them.
        showFileError(tr("Could not save file"),
                      tr("%1 is one of the program's own capture files, which it removes; "
                         "choose another name.")
                          .arg(QDir::toNativeSeparators(fileName)));
        return;
    }

    // What has arrived by now, however long the writing takes and whatever happens meanwhile.
    saver->save(fileName, receivedChunks->snapshot());
    captureStatus->saveStarted();
}

void MainWindow::saveFinished(const QString &fileName, const CaptureFile::SaveOutcome &outcome)
{
    Q_UNUSED(fileName)
    switch (outcome.result) {
    case CaptureFile::SaveResult::Saved:
    case CaptureFile::SaveResult::Cancelled:
        break;
    case CaptureFile::SaveResult::OpenFailed:
        showFileError(tr("Could not open file"), outcome.reason);
        break;
    case CaptureFile::SaveResult::WriteFailed:
        showFileError(tr("Could not save file"), outcome.reason);
        break;
    }
}

void MainWindow::offerLeftovers()
{
    if (!isVisible())
        return;
    auto *recovery = new CaptureRecovery(receivedChunks->folder(), saver, this);
    connect(recovery, &CaptureRecovery::saveStarted, captureStatus, &CaptureStatus::saveStarted);
    recovery->offer();
}

void MainWindow::on_actionOpen_triggered()
{
    const QString fileName
        = QFileDialog::getOpenFileName(this, tr("open file"), QStringLiteral("."), tr(FileFilter));
    if (fileName.isEmpty())
        return;

    QString reason;
    QList<QByteArray> lines;
    if (!CaptureFile::load(fileName, &lines, &reason))
        showFileError(tr("Could not open file"), reason);
    for (const QByteArray &line : qAsConst(lines))
        receivedChunks->append(line);
    captureStatus->refresh();
}

void MainWindow::showFileError(const QString &text, const QString &reason)
{
    QMessageBox::critical(this, tr("Error"), reason.isEmpty() ? text : text + '\n' + reason);
}
