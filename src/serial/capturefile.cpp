// Saving the capture to a file and reading one back.

#include "serial/capturefile.h"

#include "app/mainwindow.h"
#include "serial/capturestore.h"
#include "serial/receivedtext.h"

#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QMessageBox>
#include <QSaveFile>

namespace {

bool writeText(QIODevice *out, const QString &text)
{
    const QByteArray bytes = encodeReceivedText(text);
    return out->write(bytes) == bytes.size();
}

} // namespace

namespace CaptureFile {

bool write(QIODevice *out, const QStringList &chunks, const QString &tail)
{
    for (const QString &chunk : chunks) {
        if (!writeText(out, chunk))
            return false;
    }
    return writeText(out, tail);
}

SaveOutcome save(const QString &fileName, const QStringList &chunks, const QString &tail)
{
    const QFileInfo info(fileName);
    if (info.exists() && !info.isFile()) {
        // A device or a pipe: replacing it with a plain file would destroy it.
        QFile file(fileName);
        if (!file.open(QIODevice::WriteOnly))
            return {SaveResult::OpenFailed, file.errorString()};
        if (!write(&file, chunks, tail) || !file.flush())
            return {SaveResult::WriteFailed, file.errorString()};
        return {};
    }

    QSaveFile file(fileName);
    // A writable file in a folder where no temporary file can be made is still written.
    file.setDirectWriteFallback(true);
    if (!file.open(QIODevice::WriteOnly))
        return {SaveResult::OpenFailed, file.errorString()};
    if (!write(&file, chunks, tail)) {
        const QString reason = file.errorString();
        file.cancelWriting();
        return {SaveResult::WriteFailed, reason};
    }
    if (!file.commit())
        return {SaveResult::WriteFailed, file.errorString()};
    return {};
}

bool load(const QString &fileName, QStringList *lines, QString *reason)
{
    QFile file(fileName);
    // Not in text mode: that would drop every CR, also one inside a line.
    if (!file.open(QIODevice::ReadOnly)) {
        *reason = file.errorString();
        return false;
    }
    *lines += readLines(&file);
    return true;
}

QStringList readLines(QIODevice *device)
{
    QStringList lines;
    bool first = true;
    while (!device->atEnd()) {
        QByteArray line = device->readLine();
        if (first && line.startsWith("\xef\xbb\xbf")) {
            line.remove(0, 3);
            if (line.isEmpty())
                continue;
        }
        first = false;
        // LF or CRLF ends a line; so does a CR that ends the file.
        if (line.endsWith('\n'))
            line.chop(1);
        if (line.endsWith('\r'))
            line.chop(1);
        lines.append(decodeReceivedBytes(line));
    }
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

    // The bytes of a character still arriving are part of the capture too.
    const CaptureFile::SaveOutcome outcome
        = CaptureFile::save(fileName, receivedChunks, receiveDecoder.pendingText());
    switch (outcome.result) {
    case CaptureFile::SaveResult::Saved:
        break;
    case CaptureFile::SaveResult::OpenFailed:
        showFileError(tr("Could not open file"), outcome.reason);
        break;
    case CaptureFile::SaveResult::WriteFailed:
        showFileError(tr("Could not save file"), outcome.reason);
        break;
    }
}

void MainWindow::on_actionOpen_triggered()
{
    const QString fileName
        = QFileDialog::getOpenFileName(this, tr("open file"), QStringLiteral("."), tr(FileFilter));
    if (fileName.isEmpty())
        return;

    QString reason;
    if (!CaptureFile::load(fileName, &receivedChunks, &reason))
        showFileError(tr("Could not open file"), reason);
    updateCaptureIndicator();
}

void MainWindow::showFileError(const QString &text, const QString &reason)
{
    QMessageBox::critical(this, tr("Error"), reason.isEmpty() ? text : text + '\n' + reason);
}
