// The window's Save and Open: the file dialogs, the saves handed to the saver, and their errors.

#include "app/capturestatus.h"
#include "app/mainwindow.h"
#include "serial/capturerecovery.h"
#include "serial/capturesaver.h"
#include "serial/capturestore.h"

#include <QAbstractItemView>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace {
const char *const FileFilter = QT_TRANSLATE_NOOP("MainWindow", "text file (*.txt);;all (*.*)");
}

void MainWindow::on_actionSave_triggered()
{
    const QString fileName = askFileName(QFileDialog::AcceptSave, tr("save file"));
    if (fileName.isEmpty())
        return;
    if (receivedChunks->isOwnFile(fileName)) {
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
    auto *recovery = new CaptureRecovery(
        receivedChunks->folder(), saver, this,
        [this](const QString &caption) { return askFileName(QFileDialog::AcceptSave, caption); });
    connect(recovery, &CaptureRecovery::saveStarted, captureStatus, &CaptureStatus::saveStarted);
    recovery->offer();
}

void MainWindow::on_actionOpen_triggered()
{
    const QString fileName = askFileName(QFileDialog::AcceptOpen, tr("open file"));
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

QString MainWindow::askFileName(QFileDialog::AcceptMode mode, const QString &caption)
{
    QPointer<QFileDialog> &dialog = mode == QFileDialog::AcceptSave ? saveDialog : openDialog;
    const QStringList filters = tr(FileFilter).split(QStringLiteral(";;"));
    if (!dialog) {
        dialog = new QFileDialog(this);
        dialog->setAcceptMode(mode);
        dialog->setFileMode(mode == QFileDialog::AcceptSave ? QFileDialog::AnyFile
                                                            : QFileDialog::ExistingFile);
        dialog->setNameFilters(filters);
    }
    // Each time as a new one would open: in the current folder, on the first filter, no name.
    dialog->setWindowTitle(caption);
    dialog->setDirectory(QDir::currentPath());
    dialog->selectNameFilter(filters.first());
    if (auto *name = dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit")))
        name->clear();
    // Emptying the name selects the folder itself, which would then be the answer to a name
    // typed later; the list and the tree view share the selection.
    if (auto *list = dialog->findChild<QAbstractItemView *>(QStringLiteral("listView")))
        list->clearSelection();
    // The window may go while the dialog runs, and the dialog with it.
    const QPointer<QFileDialog> running = dialog;
    if (dialog->exec() != QDialog::Accepted || !running)
        return QString();
    return dialog->selectedFiles().value(0);
}

void MainWindow::showFileError(const QString &text, const QString &reason)
{
    QMessageBox::critical(this, tr("Error"), reason.isEmpty() ? text : text + '\n' + reason);
}
