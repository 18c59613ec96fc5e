#include "modalanswerer.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFileDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

ModalAnswerer::ModalAnswerer(QObject *parent)
    : QObject(parent)
{
    connect(&timer, &QTimer::timeout, this, &ModalAnswerer::answer);
    timer.start(5);
}

void ModalAnswerer::answer()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    // Marked on the window itself: a file dialog is active again for a moment after the
    // overwrite question it opened is answered, and must not be answered twice.
    if (modal->property("answered").toBool()) {
        // Still open long after its answer: close it so that the test fails instead of hanging.
        if (++unansweredTicks > 400)
            modal->close();
        return;
    }
    modal->setProperty("answered", true);
    unansweredTicks = 0;
    // A dialog the program keeps shows again later, and is to be answered again then.
    if (auto *dialog = qobject_cast<QDialog *>(modal);
        dialog && !dialog->property("reused").toBool()) {
        dialog->setProperty("reused", true);
        connect(dialog, &QDialog::finished, dialog,
                [dialog] { dialog->setProperty("answered", false); });
    }
    // Answered from a fresh event, not from inside this timer's slot: the answer may open
    // another modal window (the overwrite question), and it must be answered too.
    if (auto *dialog = qobject_cast<QFileDialog *>(modal)) {
        fileDialogs << dialog->windowTitle() + '|' + dialog->directory().path() + '|'
                + dialog->nameFilters().join(";;");
        const QString name = fileName;
        QTimer::singleShot(0, dialog, [dialog, name] {
            if (name.isNull()) {
                dialog->reject();
            } else {
                // Typed, as a user would: selectFile() leaves a focused name field alone.
                dialog->findChild<QLineEdit *>(QStringLiteral("fileNameEdit"))->setText(name);
                static_cast<QDialog *>(dialog)->accept(); // public through the base
            }
        });
    } else if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        QAbstractButton *button = box->button(QMessageBox::Yes);
        for (QAbstractButton *offered : box->buttons()) {
            if (!choice.isEmpty() && offered->text() == choice)
                button = offered;
        }
        if (button && button->text() == choice)
            boxes << box->windowTitle() + ": " + box->text() + '\n' + box->informativeText();
        if (!button) {
            boxes << box->windowTitle() + ": " + box->text();
            const QWidget *window = box->parentWidget();
            const QLabel *status
                = window ? window->findChild<QLabel *>(QStringLiteral("statusLabel")) : nullptr;
            statusAtBoxes << (status ? status->text() : QString());
            button = box->button(QMessageBox::Ok);
        }
        // A box of its own buttons only, none of them chosen: its Escape answer.
        if (!button)
            button = box->escapeButton();
        if (button)
            QTimer::singleShot(0, button, &QAbstractButton::click);
    }
}
