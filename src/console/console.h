#ifndef CONSOLE_H
#define CONSOLE_H

#include "console/receivedtext.h"

#include <QElapsedTimer>
#include <QPlainTextEdit>

class QTimer;

// Green-on-black terminal view: shows received bytes and turns key presses into bytes to send.
// Like a terminal, everything lands at its end: no click, drop or key edits what it shows.
class Console : public QPlainTextEdit
{
    Q_OBJECT

public:
    // The view keeps this many of the newest lines...
    static constexpr int MaxLines = 100;
    // ...and of an over-long line only its newest characters, so that a device that
    // never sends a line end cannot make each delivery slower than the last.
    static constexpr int MaxLineLength = 4096;
    // While data streams in, what arrives is gathered and shown at most once in this many
    // milliseconds: each edit of the view lays out and repaints all of it, far more work than
    // a delivery. 25 times a second still looks smooth, and a byte waits at most 40 ms.
    static constexpr int ShowIntervalMs = 40;

    explicit Console(QWidget *parent = nullptr);
    ~Console() override;

    void displayData(const QByteArray &data);
    void setLocalEcho(bool set);
    // Forgets a character left incomplete by the previous connection.
    void resetDecoder();
    // Shows what has arrived without waiting for the interval, and scrolls to the end.
    void showPending();

signals:
    void getData(const QByteArray &data);

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseReleaseEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void dragEnterEvent(QDragEnterEvent *e) override;
    void dragMoveEvent(QDragMoveEvent *e) override;
    void dropEvent(QDropEvent *e) override;
    bool canInsertFromMimeData(const QMimeData *source) const override;
    void insertFromMimeData(const QMimeData *source) override;

private:
    void echo(const QKeyEvent *e);
    void appendDisplayText(const QByteArray &data);
    bool insertBounded(QString text);
    void dropOldestLines(int coming);
    void scrollToEnd();

    bool localEchoOn = false;
    ReceiveDecoder decoder;
    // A CR that ended the previous delivery has already broken the line; an LF that
    // starts the next one completes the same CRLF and must not break it again.
    bool lastWasCarriageReturn = false;
    // Arrived, not yet shown.
    QString pending;
    QElapsedTimer sinceShown;
    QTimer *showTimer = nullptr;
    // While the view is sent to the end: how far it scrolled its pixels itself.
    bool followScrolls = false;
    int scrolledBy = 0;
};

#endif // CONSOLE_H
