#include "console/console.h"

#include <QClipboard>
#include <QMimeData>
#include <QScreen>
#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
#include <QTextCodec>
#include <QtTest>

using Chunks = QList<QByteArray>;

class TestConsole : public QObject
{
    Q_OBJECT

private:
    // Shows each delivery at once, or (as while data streams) all together at the end.
    static QString feed(Console &c, const Chunks &chunks, bool showEach = false)
    {
        for (const QByteArray &chunk : chunks) {
            c.displayData(chunk);
            if (showEach)
                c.showPending();
        }
        c.showPending();
        return c.toPlainText();
    }
    static QByteArray numberedLines(int from, int to)
    {
        QByteArray lines;
        for (int i = from; i <= to; ++i)
            lines += "line " + QByteArray::number(i) + "\r\n";
        return lines;
    }

private slots:
    void display_data();
    void display();
    void keepsNewestText_data();
    void keepsNewestText();
    void gathersWhileStreaming();
    void screenMatchesText_data();
    void screenMatchesText();
    void keys_data();
    void keys();
    void typedNonAscii_data();
    void typedNonAscii();
    void clickKeepsCursor();
    void newestStaysLast_data();
    void newestStaysLast();
    void greenOnBlackWhenDisabled();
};

void TestConsole::display_data()
{
    // clang-format off
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QString>("shown");

    QTest::newRow("zero byte is hidden, rest shown") << Chunks{QByteArray("ab\0cd", 5)} << "abcd";
    QTest::newRow("split four-byte char")
        << Chunks{"\xf0", "\x9f\x98", "\x80"} << QString::fromUtf8("\xf0\x9f\x98\x80");
    QTest::newRow("CRLF is one break") << Chunks{"a\r\nb"} << "a\nb";
    QTest::newRow("CRLF split across chunks") << Chunks{"a\r", "\nb"} << "a\nb";
    QTest::newRow("lone CR breaks") << Chunks{"a\rb"} << "a\nb";
    QTest::newRow("not UTF-8") << Chunks{"a\xb5", "b\xe2\x82", "z\xff"}
                               << QString::fromUtf8("a\xef\xbf\xbd" "b\xef\xbf\xbd\xef\xbf\xbd" "z\xef\xbf\xbd");
    // clang-format on
}

void TestConsole::display()
{
    QFETCH(Chunks, chunks);
    QFETCH(QString, shown);
    Console c;
    QCOMPARE(feed(c, chunks), shown);
}

void TestConsole::keepsNewestText_data()
{
    // clang-format off
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<bool>("showEach");
    QTest::addColumn<QStringList>("shown");

    // The newest MaxLines lines, after a line that was already begun.
    const QByteArray lines = numberedLines(1, 250);
    QStringList newest;
    for (int i = 152; i <= 250; ++i)
        newest << QStringLiteral("line %1").arg(i);
    newest << QString();
    const QByteArray begun = "partial line before";
    Chunks single{begun};
    for (int i = 1; i <= 250; ++i)
        single << numberedLines(i, i);
    QTest::newRow("one big delivery") << Chunks{begun, lines} << false << newest;
    QTest::newRow("a line per delivery, each shown") << single << true << newest;
    QTest::newRow("uneven cuts, each shown") << Chunks{begun, lines.left(7), lines.mid(7, 2000), lines.mid(2007)} << true << newest;

    // The newest MaxLineLength characters of each line.
    const QByteArray digits = QByteArray("0123456789").repeated(1000);
    const QString tail = QString::fromLatin1(digits.right(Console::MaxLineLength));
    Chunks small;
    for (int i = 0; i < digits.size(); i += 300)
        small << digits.mid(i, 300);
    QTest::newRow("no line end, many deliveries") << small << false << QStringList{tail};
    QTest::newRow("no line end, each shown") << small << true << QStringList{tail};
    QTest::newRow("huge line then a short one") << Chunks{digits + "\nshort"} << false << QStringList{tail, "short"};
    // clang-format on
}

void TestConsole::keepsNewestText()
{
    QFETCH(Chunks, chunks);
    QFETCH(bool, showEach);
    QFETCH(QStringList, shown);
    Console c;
    QCOMPARE(feed(c, chunks, showEach).split('\n'), shown);
}

void TestConsole::gathersWhileStreaming()
{
    Console c;
    c.resize(200, 100);
    c.show();
    // Deliveries come faster than the view is redrawn: they are shown together, and the
    // view still ends at the newest line.
    for (int i = 1; i <= 300; ++i)
        c.displayData(numberedLines(i, i));
    QTRY_VERIFY(c.toPlainText().endsWith("line 300\n"));
    QScrollBar *bar = c.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QTRY_COMPARE(bar->value(), bar->maximum());
    QCOMPARE(c.document()->blockCount(), Console::MaxLines);

    // Scrolled up by the user, the view goes back to the newest line with the next delivery.
    bar->setValue(0);
    c.displayData(QByteArray());
    QTRY_COMPARE(bar->value(), bar->maximum());
}

void TestConsole::screenMatchesText_data()
{
    QTest::addColumn<QByteArray>("frame"); // what arrives between two frames
    QTest::addColumn<int>("width");
    QTest::newRow("a line a frame") << QByteArray("line\r\n") << 300;
    QTest::newRow("lines and a part") << QByteArray("one\r\ntwo\r\nthree\r\nfou") << 300;
    QTest::newRow("part of a line") << QByteArray("abc") << 300;
    QTest::newRow("wrapped lines") << QByteArray("0123456789").repeated(7) + "\n" << 150;
    QTest::newRow("a screenful") << numberedLines(1, 40) << 300;
}

// What reaches the screen, frame after frame, is what a full redraw of the text would show:
// the view moves the pixels of the lines that only scrolled, and draws what is new.
void TestConsole::screenMatchesText()
{
    QFETCH(QByteArray, frame);
    QFETCH(int, width);
    Console c;
    c.resize(width, 200);
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    QScreen *screen = c.windowHandle()->screen();
    for (int i = 0; i < 150; ++i) {
        c.displayData(frame + QByteArray::number(i));
        c.showPending();
        QCoreApplication::processEvents();
        if (i % 10 != 9)
            continue;
        const QImage shown = screen->grabWindow(c.winId()).toImage();
        const QImage drawn = c.grab().toImage().convertToFormat(shown.format());
        QVERIFY2(shown == drawn, qPrintable(QStringLiteral("differs after frame %1").arg(i)));
    }
}

void TestConsole::keys_data()
{
    // clang-format off
    QTest::addColumn<int>("key");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QString>("shown");

    for (int key : {Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down})
        QTest::addRow("swallowed %x", key) << key << true << QList<QByteArray>() << "";
    QTest::newRow("letter, echo off") << int(Qt::Key_A) << false << QList<QByteArray>{"a"} << "";
    QTest::newRow("letter, echo on") << int(Qt::Key_A) << true << QList<QByteArray>{"a"} << "a";
    // clang-format on
}

void TestConsole::keys()
{
    QFETCH(int, key);
    QFETCH(bool, echo);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QString, shown);

    Console c;
    c.setLocalEcho(echo);
    QSignalSpy spy(&c, &Console::getData);
    QTest::keyClick(&c, Qt::Key(key));
    QList<QByteArray> got;
    for (const QList<QVariant> &args : qAsConst(spy))
        got << args.first().toByteArray();
    QCOMPARE(got, sent);
    QCOMPARE(c.toPlainText(), shown);
}

void TestConsole::typedNonAscii_data()
{
    QTest::addColumn<QByteArray>("codec");
    QTest::addColumn<QString>("text");
    QTest::addColumn<QByteArray>("sent");
    QTest::newRow("é, UTF-8") << QByteArray("UTF-8") << "é" << QByteArray("\xc3\xa9");
    QTest::newRow("µ, UTF-8") << QByteArray("UTF-8") << "µ" << QByteArray("\xc2\xb5");
    QTest::newRow("€, UTF-8") << QByteArray("UTF-8") << "€" << QByteArray("\xe2\x82\xac");
    QTest::newRow("é, Latin-1") << QByteArray("ISO-8859-1") << "é" << QByteArray("\xe9");
    QTest::newRow("µ, Latin-1") << QByteArray("ISO-8859-1") << "µ" << QByteArray("\xb5");
}

// A typed key goes to the device in the system's encoding, as the keyboard's other programs
// would send it.
void TestConsole::typedNonAscii()
{
    QFETCH(QByteArray, codec);
    QFETCH(QString, text);
    QFETCH(QByteArray, sent);

    QTextCodec *const previous = QTextCodec::codecForLocale();
    QTextCodec::setCodecForLocale(QTextCodec::codecForName(codec));
    Console c;
    c.setLocalEcho(true);
    QSignalSpy spy(&c, &Console::getData);
    QKeyEvent press(QEvent::KeyPress, 0, Qt::NoModifier, text);
    QApplication::sendEvent(&c, &press);
    QTextCodec::setCodecForLocale(previous);
    QCOMPARE(spy.size(), 1);
    QCOMPARE(spy.first().first().toByteArray(), sent);
    QCOMPARE(c.toPlainText(), text);
}

void TestConsole::clickKeepsCursor()
{
    Console c;
    c.resize(300, 200);
    c.show();
    // Focus goes only to an active window.
    c.activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(&c));
    c.displayData("first line\nsecond line");
    const int end = c.textCursor().position();
    QTest::mouseClick(c.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QCOMPARE(c.textCursor().position(), end);
    QVERIFY(c.hasFocus());
    QTest::mouseDClick(c.viewport(), Qt::LeftButton, {}, QPoint(5, 5));
    QVERIFY(!c.textCursor().hasSelection());
    c.displayData("!");
    QTRY_VERIFY(c.toPlainText().endsWith("second line!"));
}

void TestConsole::newestStaysLast_data()
{
    // clang-format off
    QTest::addColumn<QString>("action");
    QTest::addColumn<int>("key");
    QTest::addColumn<int>("modifiers");
    QTest::addColumn<QString>("text"); // what the key carries on a real keyboard
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QString>("echoed");

    QTest::newRow("middle click") << "middle" << 0 << 0 << "" << false << "";
    QTest::newRow("drop") << "drop" << 0 << 0 << "" << false << "";
    QTest::newRow("view's cursor moved to the top") << "cursor" << 0 << 0 << "" << false << "";
    QTest::newRow("Ctrl+A") << "key" << int(Qt::Key_A) << int(Qt::ControlModifier) << "\x01" << true << "";
    QTest::newRow("Home") << "key" << int(Qt::Key_Home) << 0 << "" << true << "";
    QTest::newRow("PageUp") << "key" << int(Qt::Key_PageUp) << 0 << "" << true << "";
    QTest::newRow("Ctrl+Home") << "key" << int(Qt::Key_Home) << int(Qt::ControlModifier) << "" << true << "";
    QTest::newRow("Delete after Home") << "Home, key" << int(Qt::Key_Delete) << 0 << "\x7f" << true << "";
    QTest::newRow("Ctrl+V") << "key" << int(Qt::Key_V) << int(Qt::ControlModifier) << "\x16" << true << "";
    QTest::newRow("letter") << "key" << int(Qt::Key_X) << 0 << "x" << true << "x";
    QTest::newRow("Return") << "key" << int(Qt::Key_Return) << 0 << "\r" << true << "\n";
    // clang-format on
}

void TestConsole::newestStaysLast()
{
    QFETCH(QString, action);
    QFETCH(int, key);
    QFETCH(int, modifiers);
    QFETCH(QString, text);
    QFETCH(bool, echo);
    QFETCH(QString, echoed);

    Console c;
    c.setLocalEcho(echo);
    c.resize(300, 200);
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
    QApplication::clipboard()->setText("PASTED");
    if (QApplication::clipboard()->supportsSelection())
        QApplication::clipboard()->setText("SELECTED", QClipboard::Selection);
    QSignalSpy spy(&c, &Console::getData);

    const QByteArray older = numberedLines(1, 30);
    c.displayData(older + "PART");
    c.showPending();
    c.displayData("IAL");
    const QPoint top(5, 5);
    if (action == "middle") {
        QTest::mouseClick(c.viewport(), Qt::MiddleButton, {}, top);
    } else if (action == "drop") {
        QMimeData dropped;
        dropped.setText("DROPPED");
        QDropEvent drop(top, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QDragEnterEvent enter(top, Qt::CopyAction, &dropped, Qt::LeftButton, Qt::NoModifier);
        QApplication::sendEvent(c.viewport(), &enter);
        QApplication::sendEvent(c.viewport(), &drop);

    } else if (action == "cursor") {
        c.moveCursor(QTextCursor::Start);
    } else {
        if (action.startsWith("Home"))
            QTest::keyClick(&c, Qt::Key_Home);
        QKeyEvent press(QEvent::KeyPress, key, Qt::KeyboardModifiers(modifiers), text);
        QApplication::sendEvent(&c, &press);
        QCOMPARE(spy.last().first().toByteArray(), text.toLocal8Bit());
    }
    c.displayData("NEW\r\nline 31\r\nline 32");
    c.showPending();

    const QString shown = QString::fromLatin1(older).replace("\r\n", "\n");
    QCOMPARE(c.toPlainText(), shown + "PARTIAL" + echoed + "NEW\nline 31\nline 32");
    const QPoint bottom(5, c.viewport()->height() - 1);
    QCOMPARE(c.cursorForPosition(bottom).block().text(), QStringLiteral("line 32"));
}

void TestConsole::greenOnBlackWhenDisabled()
{
    Console c;
    c.setEnabled(false);
    QCOMPARE(c.palette().color(QPalette::Disabled, QPalette::Base), QColor(Qt::black));
    QCOMPARE(c.palette().color(QPalette::Disabled, QPalette::Text), QColor(Qt::green));
    QCOMPARE(c.document()->maximumBlockCount(), Console::MaxLines);
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
