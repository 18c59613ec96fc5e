#include "console/console.h"

#include <QKeyEvent>
#include <QResizeEvent>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QTextBlock>
#include <QTextCursor>
#include <QTimer>

#include <algorithm>

namespace {

const QChar LineFeed(u'\n');

// More than this waiting to be shown is shown at once, so that a flood cannot pile up.
constexpr int MaxPending = 1 << 20;

bool isBlockBreak(QChar c)
{
    // Characters that a text cursor turns into a new block when inserted.
    return c == u'\n' || c == u'\r' || c == QChar::ParagraphSeparator || c == u'\xfdd0'
        || c == u'\xfdd1';
}

} // namespace

Console::Console(QWidget *parent)
    : QPlainTextEdit(parent)
    , showTimer(new QTimer(this))
{
    // insertBounded() keeps to this itself; the limit still bounds what is typed with local echo.
    document()->setMaximumBlockCount(MaxLines);
    // An undo history would keep every received byte for the life of the window.
    setUndoRedoEnabled(false);

    // Kerning and ligatures have no place in a terminal; without them Latin text skips the
    // shaper, which is most of the cost of laying out each new line.
    QFont f = font();
    f.setStyleStrategy(QFont::PreferNoShaping);
    setFont(f);

    QPalette p = palette();
    p.setBrush(QPalette::All, QPalette::Base, QBrush(Qt::black, Qt::SolidPattern));
    p.setBrush(QPalette::All, QPalette::Text, QBrush(Qt::green, Qt::SolidPattern));
    setPalette(p);

    connect(this, &QPlainTextEdit::updateRequest, this, [this](const QRect &, int dy) {
        if (followScrolls)
            scrolledBy += dy;
    });

    showTimer->setSingleShot(true);
    connect(showTimer, &QTimer::timeout, this, &Console::showPending);
}

Console::~Console() = default;

void Console::displayData(const QByteArray &data)
{
    appendDisplayText(data);
    if (showTimer->isActive() && pending.size() <= MaxPending)
        return;
    // After a quiet spell the first delivery shows at once; later ones wait for the interval.
    const qint64 elapsed = sinceShown.isValid() ? sinceShown.elapsed() : ShowIntervalMs;
    if (elapsed >= ShowIntervalMs || pending.size() > MaxPending)
        showPending();
    else
        showTimer->start(int(ShowIntervalMs - elapsed));
}

void Console::showPending()
{
    showTimer->stop();
    if (pending.isEmpty()) {
        scrollToEnd();
        sinceShown.start();
        return;
    }
    // The document tells the view that all of it changed whenever its line count changes,
    // which repaints every line on screen, 25 times a second. Lines above the newest one
    // only move up: the view's own pixels are moved instead, and only what is new is drawn.
    QScrollBar *bar = verticalScrollBar();
    const bool wasAtEnd = bar->value() == bar->maximum();
    const QTextBlock head = document()->lastBlock();
    const qreal headBefore = blockBoundingGeometry(head).translated(contentOffset()).top();
    bool headKept = false;
    {
        const QSignalBlocker quiet(document()->documentLayout());
        headKept = insertBounded(pending);
    }
    pending.clear();
    scrolledBy = 0;
    followScrolls = true;
    scrollToEnd();
    followScrolls = false;
    sinceShown.start();

    QWidget *view = viewport();
    if (!wasAtEnd || !headKept) {
        view->update();
        return;
    }
    const qreal headAfter = blockBoundingGeometry(head).translated(contentOffset()).top();
    const int moved = qRound(headAfter - headBefore);
    if (headAfter < 0 || headAfter > view->height() || moved > 0
        || qAbs(headAfter - headBefore - moved) > 0.01) {
        view->update();
        return;
    }
    // What the view scrolled by itself was moved already.
    view->scroll(0, moved - scrolledBy);
    view->update(QRect(0, int(headAfter), view->width(), view->height() - int(headAfter)));
}

void Console::scrollToEnd()
{
    // An edit that keeps the line count does not make the view recount its scroll range, though
    // wrapped lines may have come or gone; a resize to the same size does, without a relayout.
    const QSize size = viewport()->size();
    QResizeEvent same(size, size);
    QPlainTextEdit::resizeEvent(&same);
    QScrollBar *bar = verticalScrollBar();
    bar->setValue(bar->maximum());
}

void Console::setLocalEcho(bool set)
{
    localEchoOn = set;
}

void Console::resetDecoder()
{
    decoder.reset();
    lastWasCarriageReturn = false;
}

// Decodes across deliveries, drops zero bytes (they cannot be shown), shows a byte that is
// not part of a character as U+FFFD and turns every kind of line break into a single LF so
// that lines can be counted.
void Console::appendDisplayText(const QByteArray &data)
{
    const QString decoded = decoder.decode(data);
    // Written in place: a call per character would cost more than the rest of a delivery.
    const int start = pending.size();
    pending.resize(start + decoded.size());
    QChar *out = pending.data() + start;
    bool afterHighSurrogate = false;
    for (QChar c : decoded) {
        if (c.isNull())
            continue;
        if (isEscapedByte(c) && !afterHighSurrogate)
            c = QChar::ReplacementCharacter;
        afterHighSurrogate = c.isHighSurrogate();
        const bool completesCrLf = c == u'\n' && lastWasCarriageReturn;
        lastWasCarriageReturn = c == u'\r';
        if (completesCrLf)
            continue;
        *out++ = isBlockBreak(c) ? LineFeed : c;
    }
    pending.resize(int(out - pending.constData()));
}

namespace {

// Cuts every line of text to its newest MaxLineLength characters. The first line
// continues one that already holds headLength characters; how many of those have
// to go is returned in dropFromHead.
QString trimLines(const QString &text, int headLength, int maxLength, int *dropFromHead)
{
    QString trimmed;
    trimmed.reserve(text.size());
    int lineStart = 0;
    bool firstLine = true;
    while (lineStart <= text.size()) {
        int lineEnd = text.indexOf(LineFeed, lineStart);
        if (lineEnd < 0)
            lineEnd = text.size();
        int length = lineEnd - lineStart;
        const int existing = firstLine ? headLength : 0;
        if (length >= maxLength) {
            if (firstLine)
                *dropFromHead = existing;
            lineStart = lineEnd - maxLength;
            length = maxLength;
        } else if (existing + length > maxLength) {
            *dropFromHead = existing + length - maxLength;
        }
        trimmed.append(text.midRef(lineStart, length));
        if (lineEnd < text.size())
            trimmed.append(LineFeed);
        lineStart = lineEnd + 1;
        firstLine = false;
    }
    return trimmed;
}

} // namespace

// Inserts in one edit, bounded so that the cost does not depend on what came before:
// at most MaxLines lines and at most MaxLineLength characters in each. Tells whether the line
// that the text continues is still there as it was.
bool Console::insertBounded(QString text)
{
    int breaks = text.count(LineFeed);
    if (breaks > MaxLines) {
        // Lines before the newest MaxLines would scroll out at once; the LF kept in
        // front pushes the current line out with them.
        int from = -1;
        for (int skip = breaks - MaxLines; skip >= 0; --skip)
            from = text.indexOf(LineFeed, from + 1);
        text.remove(0, from);
        breaks = MaxLines;
    }

    // Lines that the new ones push out go first, in an edit of their own: within one edit the
    // document would count everything from the oldest line to the newest as changed and lay out
    // every line on screen again, and past its limit it would lay out what it removes.
    dropOldestLines(breaks);

    QTextDocument *doc = document();
    QTextCursor cursor(doc);
    cursor.setPosition(doc->characterCount() - 1);
    const QTextBlock block = cursor.block();
    const int headLength = block.length() - 1;
    int dropFromHead = 0;
    if (headLength + text.size() > MaxLineLength)
        text = trimLines(text, headLength, MaxLineLength, &dropFromHead);

    cursor.beginEditBlock();
    if (dropFromHead > 0) {
        QTextCursor head(block);
        head.setPosition(block.position() + dropFromHead, QTextCursor::KeepAnchor);
        head.removeSelectedText();
    }
    // The view's own cursor, at the end as well, moves on with the insertion.
    cursor.insertText(text);
    cursor.endEditBlock();
    return dropFromHead == 0 && breaks < MaxLines;
}

// Removes the oldest lines, so that `coming` more line breaks keep to MaxLines lines, but never
// the line that new text continues. The document's own limit would lay out each line it
// removes just to step over it.
void Console::dropOldestLines(int coming)
{
    QTextDocument *doc = document();
    const int excess = std::min(doc->blockCount() + coming - MaxLines, doc->blockCount() - 1);
    if (excess <= 0)
        return;
    // setPosition() inside an edit block skips the layout that movePosition() needs.
    QTextCursor oldest(doc);
    oldest.beginEditBlock();
    oldest.setPosition(doc->findBlockByNumber(excess).position(), QTextCursor::KeepAnchor);
    oldest.removeSelectedText();
    oldest.endEditBlock();
}

void Console::mousePressEvent(QMouseEvent *e)
{
    Q_UNUSED(e)
    setFocus(Qt::OtherFocusReason);
}

// The editor would paste the selection at the place of a middle click.
void Console::mouseReleaseEvent(QMouseEvent *e)
{
    Q_UNUSED(e)
}

void Console::mouseDoubleClickEvent(QMouseEvent *e)
{
    Q_UNUSED(e)
}

void Console::keyPressEvent(QKeyEvent *e)
{
    switch (e->key()) {
    case Qt::Key_Backspace:
    case Qt::Key_Left:
    case Qt::Key_Right:
    case Qt::Key_Up:
    case Qt::Key_Down:
        return;
    default:
        break;
    }
    // The editor's own key handling never runs: it would move the place where data lands, or
    // remove or paste text.
    if (localEchoOn)
        echo(e);
    emit getData(e->text().toLocal8Bit());
}

// Shows what the key types, as the editor would have inserted it, but at the end.
void Console::echo(const QKeyEvent *e)
{
    QString text = e->text();
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)
        text = LineFeed;
    else if (text.isEmpty() || !(QChar::isPrint(text.toUcs4().value(0)) || text.at(0) == u'\t'))
        return;
    // What arrived before the key goes in before its echo.
    showPending();
    insertBounded(text);
    scrollToEnd();
}

void Console::contextMenuEvent(QContextMenuEvent *e)
{
    Q_UNUSED(e)
}

void Console::dragEnterEvent(QDragEnterEvent *e)
{
    e->ignore();
}

void Console::dragMoveEvent(QDragMoveEvent *e)
{
    e->ignore();
}

void Console::dropEvent(QDropEvent *e)
{
    e->ignore();
}

// Nothing is pasted, by any way the editor offers.
bool Console::canInsertFromMimeData(const QMimeData *source) const
{
    Q_UNUSED(source)
    return false;
}

void Console::insertFromMimeData(const QMimeData *source)
{
    Q_UNUSED(source)
}
