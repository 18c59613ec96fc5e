#ifndef MARKERENTRY_H
#define MARKERENTRY_H

#include "timeline/captureevent.h"

#include <QPointer>
#include <QWidget>

class QLabel;
class QLineEdit;

// The label of a marker already placed, typed in the status bar: nothing modal, so the capture
// goes on meanwhile and the marker stays where it landed. Enter gives the label, Escape leaves
// the marker unlabelled; either gives the keys back to where they went before.
class MarkerEntry : public QWidget
{
    Q_OBJECT

public:
    explicit MarkerEntry(QWidget *parent = nullptr);

    // Asks for the label of marker, described to the user as prompt.
    void ask(const CaptureEvent &marker, const QString &text);
    // The marker asked about; its id is 0 while nothing is asked.
    const CaptureEvent &marker() const { return asked; }
    // What was typed so far, as it would be given.
    QString typed() const;
    // Stops asking, and gives the focus back.
    void dismiss();

signals:
    // Enter with something typed.
    void labelled(const CaptureEvent &marker, const QString &label);

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private:
    void apply();

    QLabel *prompt = nullptr;
    QLineEdit *field = nullptr;
    CaptureEvent asked;
    QPointer<QWidget> focusBefore;
};

#endif // MARKERENTRY_H
