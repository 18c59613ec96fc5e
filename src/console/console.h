#ifndef CONSOLE_H
#define CONSOLE_H

#include <QElapsedTimer>
#include <QPlainTextEdit>

#include <memory>

class QTextDecoder;
class QTimer;

// Green-on-black terminal view: shows received bytes and turns key presses into bytes to send.
class Console : public QPlainTextEdit
{
    Q_OBJECT

public:
    // The view keeps this many of the newest lines...
    static constexpr int MaxLines = 100;
    // ...and of an over-long line only its newest characters, so that a device that
    // never sends a line end cannot make each delivery slower than the last.
    static constexpr int MaxLineLength = 4096;
    // While data streams in, the view is repainted at most once in this many milliseconds:
    // a repaint lays out and draws every visible line, far more work than a delivery.
    static constexpr int RepaintIntervalMs = 10;

    explicit Console(QWidget *parent = nullptr);
    ~Console() override;

    void displayData(const QByteArray &data);
    void setLocalEcho(bool set);
    // Forgets a character left incomplete by the previous connection.
    void resetDecoder();

signals:
    void getData(const QByteArray &data);

protected:
    void mousePressEvent(QMouseEvent *e) override;
    void mouseDoubleClickEvent(QMouseEvent *e) override;
    void keyPressEvent(QKeyEvent *e) override;
    void contextMenuEvent(QContextMenuEvent *e) override;
    void paintEvent(QPaintEvent *e) override;

private:
    QString toDisplayText(const QByteArray &data);
    void insertBounded(QString text);
    void dropOldestLines();
    void deferRepaint();
    void scrollToEnd();

    bool localEchoOn = false;
    std::unique_ptr<QTextDecoder> decoder;
    // A CR that ended the previous delivery has already broken the line; an LF that
    // starts the next one completes the same CRLF and must not break it again.
    bool lastWasCarriageReturn = false;
    QElapsedTimer sinceRepaint;
    QTimer *repaintTimer = nullptr;
};

#endif // CONSOLE_H
