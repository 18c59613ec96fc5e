#include "serial/capturerecovery.h"

#include "serial/capturesaver.h"
#include "serial/capturestore.h"

#include <QDir>
#include <QFileDialog>
#include <QFileInfo>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <algorithm>

CaptureRecovery::CaptureRecovery(const QString &folder, CaptureSaver *saver, QWidget *window)
    : QObject(window)
    , folder(folder)
    , saver(saver)
    , window(window)
{
    connect(saver, &CaptureSaver::finished, this, &CaptureRecovery::saveFinished);
}

void CaptureRecovery::offer()
{
    leftovers = Leftovers::find(folder);
    if (leftovers.isEmpty()) {
        deleteLater();
        return;
    }
    const QLocale locale;
    QStringList lines;
    bool readable = false;
    for (const LeftoverCapture &leftover : qAsConst(leftovers)) {
        const QString name = QDir::toNativeSeparators(leftover.path);
        if (!leftover.unreadable.isEmpty()) {
            lines << tr("%1: cannot be read: %2").arg(name, leftover.unreadable);
            continue;
        }
        readable = true;
        lines << tr("%1: %2, last written %3")
                     .arg(name,
                          locale.formattedDataSize(leftover.size, 1, QLocale::DataSizeSIFormat),
                          locale.toString(leftover.lastWritten, QLocale::ShortFormat));
    }
    QMessageBox box(QMessageBox::Question, tr("Unsaved capture"),
                    tr("The program ended without quitting while it held a capture. What it had "
                       "received is still there:"),
                    QMessageBox::NoButton, window);
    box.setObjectName(QStringLiteral("leftoverBox"));
    box.setInformativeText(lines.join('\n'));
    QPushButton *save = readable ? box.addButton(tr("Save…"), QMessageBox::AcceptRole) : nullptr;
    QPushButton *discard
        = readable ? box.addButton(tr("Discard"), QMessageBox::DestructiveRole) : nullptr;
    QPushButton *later = box.addButton(tr("Later"), QMessageBox::RejectRole);
    box.setDefaultButton(readable ? save : later);
    box.setEscapeButton(later);
    box.exec();
    if (box.clickedButton() == save && save)
        saveAll();
    else if (box.clickedButton() == discard && discard)
        discardAll();
    // What was not handed to a save stays as it is, unlocked, for a later start.
    leftovers.clear();
    if (saving.isEmpty())
        deleteLater();
}

void CaptureRecovery::saveAll()
{
    for (const LeftoverCapture &leftover : qAsConst(leftovers)) {
        if (!leftover.unreadable.isEmpty())
            continue;
        const QString fileName = QFileDialog::getSaveFileName(
            window, tr("save %1").arg(QFileInfo(leftover.path).fileName()), QStringLiteral("."),
            tr("text file (*.txt);;all (*.*)"));
        if (fileName.isEmpty())
            continue;
        const QString target = QFileInfo(fileName).absoluteFilePath();
        const QString own = QFileInfo(leftover.path).canonicalFilePath();
        if (QFileInfo(target).canonicalFilePath() == own || saving.contains(target)) {
            // It would be removed once saved, and the saved capture with it.
            showError(tr("%1 is the capture's own file; choose another name.")
                          .arg(QDir::toNativeSeparators(target)));
            continue;
        }
        saving.insert(target, leftover);
        saver->save(target, CaptureSnapshot::ofLeftover(leftover.path, leftover.size));
        emit saveStarted();
    }
}

void CaptureRecovery::discardAll()
{
    const int readable
        = int(std::count_if(leftovers.cbegin(), leftovers.cend(),
                            [](const LeftoverCapture &l) { return l.unreadable.isEmpty(); }));
    if (QMessageBox::question(
            window, tr("Discard"),
            tr("Remove %n unsaved capture(s)? They cannot be brought back.", nullptr, readable),
            QMessageBox::Yes | QMessageBox::No, QMessageBox::No)
        != QMessageBox::Yes)
        return;
    for (LeftoverCapture leftover : qAsConst(leftovers)) {
        QString reason;
        if (leftover.unreadable.isEmpty() && !Leftovers::remove(&leftover, &reason))
            showError(QDir::toNativeSeparators(leftover.path) + ": " + reason);
    }
}

void CaptureRecovery::saveFinished(const QString &fileName, const CaptureFile::SaveOutcome &outcome)
{
    auto found = saving.find(QFileInfo(fileName).absoluteFilePath());
    if (found == saving.end())
        return;
    LeftoverCapture leftover = found.value();
    saving.erase(found);
    // Only a complete save lets the leftover go; the window tells of a failure.
    QString reason;
    if (outcome.result == CaptureFile::SaveResult::Saved && !Leftovers::remove(&leftover, &reason))
        showError(QDir::toNativeSeparators(leftover.path) + ": " + reason);
    if (saving.isEmpty())
        deleteLater();
}

void CaptureRecovery::showError(const QString &text)
{
    QMessageBox::critical(window, tr("Error"), text);
}
