// Saving the capture to a file and reading one back.

#include "serial/capturefile.h"

#include "app/mainwindow.h"
#include "serial/capturestore.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QTextStream>

namespace CaptureFile {

SaveResult save(const QString &fileName, const QStringList &chunks)
{
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly))
        return SaveResult::OpenFailed;
    // UTF-8 whatever the locale: a device sending UTF-8 gets back exactly its bytes.
    for (const QString &chunk : chunks) {
        const QByteArray bytes = chunk.toUtf8();
        if (file.write(bytes) != bytes.size())
            break; // commit() fails after a failed write
    }
    return file.commit() ? SaveResult::Saved : SaveResult::WriteFailed;
}

bool load(const QString &fileName, QStringList *lines)
{
    QFile file(fileName);
    // Not in text mode: that would drop every CR, also one inside a line. readLine()
    // already takes both LF and CRLF as a line end.
    if (!file.open(QIODevice::ReadOnly))
        return false;
    *lines += readLines(&file);
    return true;
}

QStringList readLines(QIODevice *device)
{
    QTextStream in(device);
    in.setCodec("UTF-8");
    QStringList lines;
    while (!in.atEnd())
        lines.append(in.readLine());
    return lines;
}

} // namespace CaptureFile

namespace {
const char *const FileFilter = QT_TRANSLATE_NOOP("MainWindow", "text file (*.txt);;all (*.*)");
}

void MainWindow::on_actionSave_triggered()
{
    const QString fileName
        = QFileDialog::getSaveFileName(this, tr("save file"), QStringLiteral("."), tr(FileFilter));
    if (fileName.isEmpty())
        return;

    switch (CaptureFile::save(fileName, receivedChunks)) {
    case CaptureFile::SaveResult::Saved:
        break;
    case CaptureFile::SaveResult::OpenFailed:
        QMessageBox::critical(this, tr("Error"), tr("Could not open file"));
        break;
    case CaptureFile::SaveResult::WriteFailed:
        QMessageBox::critical(this, tr("Error"), tr("Could not save file"));
        break;
    }
}

void MainWindow::on_actionOpen_triggered()
{
    const QString fileName
        = QFileDialog::getOpenFileName(this, tr("open file"), QStringLiteral("."), tr(FileFilter));
    if (fileName.isEmpty())
        return;

    if (!CaptureFile::load(fileName, &receivedChunks))
        QMessageBox::critical(this, tr("Error"), tr("Could not open file"));
}
