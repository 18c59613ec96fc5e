// Saving the capture to a file and reading one back.

#include "app/mainwindow.h"
#include "serial/capturestore.h"

#include <QFile>
#include <QFileDialog>
#include <QMessageBox>
#include <QSaveFile>
#include <QTextStream>

namespace {
const char *const FileFilter = QT_TRANSLATE_NOOP("MainWindow", "text file (*.txt);;all (*.*)");
}

void MainWindow::on_actionSave_triggered()
{
    const QString fileName = QFileDialog::getSaveFileName(
        this, tr("save file"), QStringLiteral("."), tr(FileFilter));
    if (fileName.isEmpty())
        return;

    // Written aside and renamed over the old file only once complete, so a failing
    // write never destroys an earlier capture.
    QSaveFile file(fileName);
    if (!file.open(QIODevice::WriteOnly)) {
        QMessageBox::critical(this, tr("Error"), tr("Could not open file"));
        return;
    }
    // UTF-8 whatever the locale: a device sending UTF-8 gets back exactly its bytes.
    for (const QString &chunk : qAsConst(receivedChunks)) {
        const QByteArray bytes = chunk.toUtf8();
        if (file.write(bytes) != bytes.size())
            break;
    }
    if (!file.commit())
        QMessageBox::critical(this, tr("Error"), tr("Could not save file"));
}

void MainWindow::on_actionOpen_triggered()
{
    const QString fileName = QFileDialog::getOpenFileName(
        this, tr("open file"), QStringLiteral("."), tr(FileFilter));
    if (fileName.isEmpty())
        return;

    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly | QIODevice::Text)) {
        QMessageBox::critical(this, tr("Error"), tr("Could not open file"));
        return;
    }
    QTextStream in(&file);
    in.setCodec("UTF-8");
    while (!in.atEnd())
        receivedChunks.append(in.readLine());
}
