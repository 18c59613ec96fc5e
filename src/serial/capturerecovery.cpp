#include "serial/capturerecovery.h"

#include "serial/capturesaver.h"
#include "serial/capturestore.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QGridLayout>
#include <QListWidget>
#include <QLocale>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QScrollBar>
#include <QStyle>
#include <QWidget>

#include <algorithm>

CaptureRecovery::CaptureRecovery(const QString &folder, CaptureSaver *saver, QWidget *window,
                                 AskSaveName askSaveName)
    : QObject(window)
    , folder(folder)
    , saver(saver)
    , window(window)
    , askSaveName(std::move(askSaveName))
{
    connect(saver, &CaptureSaver::finished, this, &CaptureRecovery::saveFinished);
}

namespace {

// The leftovers in a list that scrolls, between the box's texts and its buttons: a box with a
// line for each would grow past the screen.
void addList(QMessageBox *box, const QStringList &lines)
{
    auto *list = new QListWidget(box);
    list->setObjectName(QStringLiteral("leftoverList"));
    list->addItems(lines);
    list->setSelectionMode(QAbstractItemView::NoSelection);
    // Enter stays with the default button.
    list->setFocusPolicy(Qt::NoFocus);
    const int frame = 2 * list->frameWidth();
    const int scrollBar = list->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
    const int wanted = list->sizeHintForColumn(0) + frame + scrollBar;
    const int width = qMin(wanted, 640);
    list->setMinimumWidth(width);
    // Up to 8 lines are seen at once, none under a scroll bar for lines too long.
    const int rows = qMin(lines.size(), 8);
    list->setFixedHeight(qMax(list->sizeHintForRow(0), 1) * rows + frame
                         + (wanted > width ? scrollBar : 0));
    auto *grid = qobject_cast<QGridLayout *>(box->layout());
    auto *buttons = box->findChild<QDialogButtonBox *>();
    const int at = grid && buttons ? grid->indexOf(buttons) : -1;
    if (at < 0) {
        // A layout of another make: the list at its end still scrolls.
        box->layout()->addWidget(list);
        return;
    }
    int row = 0;
    int column = 0;
    int rowSpan = 0;
    int columnSpan = 0;
    grid->getItemPosition(at, &row, &column, &rowSpan, &columnSpan);
    grid->removeWidget(buttons);
    grid->addWidget(list, row, 1, 1, grid->columnCount() - 1);
    grid->addWidget(buttons, row + 1, column, rowSpan, columnSpan);
}

} // namespace

void CaptureRecovery::offer()
{
    QString refused;
    leftovers = Leftovers::find(folder, &refused);
    if (!refused.isEmpty()) {
        const QString name = QDir::toNativeSeparators(folder);
        QMessageBox::warning(
            window, tr("Capture folder refused"),
            tr("The program does not use its capture folder %1, because others could change "
               "what is kept there:\n%2")
                .arg(name, refused),
            tr("Captures that a run left there when it ended without quitting are not offered, "
               "and new captures are kept in memory only. Make the folder yours, with write "
               "access for you alone (for example: chmod 700 %1), and start the program again.")
                .arg(name));
    }
    if (leftovers.isEmpty()) {
        finishIfDone();
        return;
    }
    const QLocale locale;
    QStringList lines;
    bool readable = false;
    for (const LeftoverCapture &leftover : qAsConst(leftovers)) {
        const QString name = QFileInfo(leftover.path).fileName();
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
                       "received is still there, in %1:")
                        .arg(QDir::toNativeSeparators(folder)),
                    QMessageBox::NoButton, window);
    box.setObjectName(QStringLiteral("leftoverBox"));
    addList(&box, lines);
    QPushButton *save = readable ? box.addButton(tr("Save…"), QMessageBox::AcceptRole) : nullptr;
    QPushButton *discard
        = readable ? box.addButton(tr("Discard"), QMessageBox::DestructiveRole) : nullptr;
    QPushButton *later = box.addButton(tr("Later"), QMessageBox::RejectRole);
    box.setDefaultButton(readable ? save : later);
    box.setEscapeButton(later);
    // Saves finish inside the event loops of the box and of the dialogs after it: this stays
    // until they are all closed.
    ++asking;
    const QPointer<CaptureRecovery> alive(this);
    box.exec();
    if (!alive)
        return;
    if (box.clickedButton() == save && save)
        saveAll();
    else if (box.clickedButton() == discard && discard)
        discardAll();
    if (!alive)
        return;
    --asking;
    // What was not handed to a save stays as it is, unlocked, for a later start.
    leftovers.clear();
    finishIfDone();
}

void CaptureRecovery::saveAll()
{
    const QPointer<CaptureRecovery> alive(this);
    // A copy: the dialogs' event loops run anything, and the list must stay as it is.
    const QList<LeftoverCapture> offered = leftovers;
    for (const LeftoverCapture &leftover : offered) {
        if (!leftover.unreadable.isEmpty())
            continue;
        const QString fileName
            = askSaveName(tr("save %1").arg(QFileInfo(leftover.path).fileName()));
        if (!alive)
            return;
        if (fileName.isEmpty())
            continue;
        const QString target = QFileInfo(fileName).absoluteFilePath();
        if (Leftovers::isCaptureFile(folder, target)) {
            // It would be removed, this one once saved or another one when it is, and the saved
            // capture with it.
            if (!showError(tr("%1 is one of the program's own capture files, which it removes; "
                              "choose another name.")
                               .arg(QDir::toNativeSeparators(target))))
                return;
            continue;
        }
        if (chosen.contains(target)) {
            if (!showError(tr("%1 was chosen for another capture already; choose another name.")
                               .arg(QDir::toNativeSeparators(target))))
                return;
            continue;
        }
        chosen.insert(target);
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
    const QList<LeftoverCapture> offered = leftovers;
    for (LeftoverCapture leftover : offered) {
        QString reason;
        if (leftover.unreadable.isEmpty() && !Leftovers::remove(&leftover, &reason)
            && !showError(QDir::toNativeSeparators(leftover.path) + ": " + reason))
            return;
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
    if (outcome.result == CaptureFile::SaveResult::Saved && !Leftovers::remove(&leftover, &reason)
        && !showError(QDir::toNativeSeparators(leftover.path) + ": " + reason))
        return;
    finishIfDone();
}

void CaptureRecovery::finishIfDone()
{
    if (asking == 0 && saving.isEmpty())
        deleteLater();
}

bool CaptureRecovery::showError(const QString &text)
{
    const QPointer<CaptureRecovery> alive(this);
    ++asking;
    QMessageBox::critical(window, tr("Error"), text);
    if (!alive)
        return false;
    --asking;
    return true;
}
