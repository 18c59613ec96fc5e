#ifndef MODALANSWERER_H
#define MODALANSWERER_H

#include <QObject>
#include <QStringList>
#include <QTimer>

// Answers the modal windows the program opens while a test drives it: a file dialog gets
// the chosen name (or is cancelled), an overwrite question is confirmed, a box with a button
// of the chosen text gets it clicked, and every other message box is recorded as
// "title: text" and closed.
class QWidget;

class ModalAnswerer : public QObject
{
    Q_OBJECT

public:
    explicit ModalAnswerer(QObject *parent = nullptr);

    QString fileName; // null: cancel file dialogs
    QString choice; // a message box with a button of this text gets it clicked
    QStringList boxes; // message boxes seen
    QStringList statusAtBoxes; // the main window's status text when each box was seen
    QStringList fileDialogs; // "caption|directory|filters" of file dialogs seen

private:
    void answer();
    QTimer timer;
    int unansweredTicks = 0;
};

#endif // MODALANSWERER_H
