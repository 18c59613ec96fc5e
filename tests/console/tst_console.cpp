#include "console/console.h"

#include <QScrollBar>
#include <QSignalSpy>
#include <QTextBlock>
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
    void keepsNewestLines_data();
    void keepsNewestLines();
    void boundsOverlongLines_data();
    void boundsOverlongLines();
    void scrollsToBottom();
    void gathersWhileStreaming();
    void keys_data();
    void keys();
    void clickKeepsCursor();
    void greenOnBlackWhenDisabled();
};

void TestConsole::display_data()
{
    // clang-format off
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QString>("shown");

    QTest::newRow("zero byte is hidden, rest shown") << Chunks{QByteArray("ab\0cd", 5)} << "abcd";
    QTest::newRow("leading zero byte") << Chunks{QByteArray("\0x", 2)} << "x";
    QTest::newRow("empty chunk") << Chunks{QByteArray()} << "";
    QTest::newRow("split two-byte char") << Chunks{"caf\xc3", "\xa9!"} << QString::fromUtf8("café!");
    QTest::newRow("split four-byte char")
        << Chunks{"\xf0", "\x9f\x98", "\x80"} << QString::fromUtf8("\xf0\x9f\x98\x80");
    QTest::newRow("CRLF is one break") << Chunks{"a\r\nb"} << "a\nb";
    QTest::newRow("CRLF split across chunks") << Chunks{"a\r", "\nb"} << "a\nb";
    QTest::newRow("lone CR breaks") << Chunks{"a\rb"} << "a\nb";
    QTest::newRow("not UTF-8") << Chunks{"a\xb5", "b\xe2\x82", "z\xff"}
                               << QString::fromUtf8("a\xef\xbf\xbd" "b\xef\xbf\xbd\xef\xbf\xbd" "z\xef\xbf\xbd");
    QTest::newRow("split, then not UTF-8") << Chunks{"\xe2", "\x82z"}
                                           << QString::fromUtf8("\xef\xbf\xbd\xef\xbf\xbdz");
    // clang-format on
}

void TestConsole::display()
{
    QFETCH(Chunks, chunks);
    QFETCH(QString, shown);
    Console c;
    QCOMPARE(feed(c, chunks), shown);
}

void TestConsole::keepsNewestLines_data()
{
    // clang-format off
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<bool>("showEach");

    const QByteArray lines = numberedLines(1, 250);
    QTest::newRow("one big delivery") << Chunks{lines} << false;
    Chunks single;
    for (int i = 1; i <= 250; ++i)
        single << numberedLines(i, i);
    QTest::newRow("a line per delivery") << single << false;
    QTest::newRow("a line per delivery, each shown") << single << true;
    QTest::newRow("uneven cuts, each shown") << Chunks{lines.left(7), lines.mid(7, 2000), lines.mid(2007)} << true;
    // clang-format on
}

void TestConsole::keepsNewestLines()
{
    QFETCH(Chunks, chunks);
    QFETCH(bool, showEach);
    Console c;
    c.displayData("partial line before");
    const QStringList shown = feed(c, chunks, showEach).split('\n');
    QCOMPARE(shown.size(), Console::MaxLines);
    QCOMPARE(shown.first(), QStringLiteral("line 152"));
    QCOMPARE(shown.at(shown.size() - 2), QStringLiteral("line 250"));
    QCOMPARE(shown.last(), QString());
}

void TestConsole::boundsOverlongLines_data()
{
    // clang-format off
    QTest::addColumn<Chunks>("chunks");
    QTest::addColumn<QString>("lastLine");

    const QByteArray digits = QByteArray("0123456789").repeated(1000);
    const QString tail = QString::fromLatin1(digits.right(Console::MaxLineLength));
    Chunks small;
    for (int i = 0; i < digits.size(); i += 300)
        small << digits.mid(i, 300);
    QTest::newRow("no line end, many deliveries") << small << tail;
    QTest::newRow("one huge delivery") << Chunks{digits} << tail;
    QTest::newRow("huge line then a short one") << Chunks{digits + "\nshort"} << "short";
    QTest::newRow("grows past the limit") << Chunks{digits.left(4000), digits.mid(4000, 200)}
                                          << QString::fromLatin1(digits.mid(104, 4096));
    QTest::newRow("no line end, each shown") << small << tail;
    // clang-format on
}

void TestConsole::boundsOverlongLines()
{
    QFETCH(Chunks, chunks);
    QFETCH(QString, lastLine);
    Console c;
    const QStringList shown
        = feed(c, chunks, QByteArray(QTest::currentDataTag()).endsWith("each shown")).split('\n');
    QCOMPARE(shown.last(), lastLine);
    for (const QString &line : shown)
        QVERIFY(line.size() <= Console::MaxLineLength);
}

void TestConsole::scrollsToBottom()
{
    Console c;
    c.resize(200, 100);
    c.show();
    c.displayData(numberedLines(1, 80));
    QScrollBar *bar = c.verticalScrollBar();
    QVERIFY(bar->maximum() > 0);
    QCOMPARE(bar->value(), bar->maximum());
    bar->setValue(0);
    c.displayData(QByteArray());
    QTRY_COMPARE(bar->value(), bar->maximum());
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
}

void TestConsole::keys_data()
{
    // clang-format off
    QTest::addColumn<int>("key");
    QTest::addColumn<QString>("text");
    QTest::addColumn<bool>("echo");
    QTest::addColumn<QList<QByteArray>>("sent");
    QTest::addColumn<QString>("shown");

    const QList<QByteArray> nothing;
    for (bool echo : {false, true}) {
        const char *mode = echo ? "echo on" : "echo off";
        for (int key : {Qt::Key_Backspace, Qt::Key_Left, Qt::Key_Up, Qt::Key_Right, Qt::Key_Down})
            QTest::addRow("swallowed %x, %s", key, mode) << key << QString() << echo << nothing << "";
        QTest::addRow("letter, %s", mode) << int(Qt::Key_A) << "a" << echo
                                          << QList<QByteArray>{"a"} << (echo ? "a" : "");
        QTest::addRow("no text, %s", mode) << int(Qt::Key_Shift) << "" << echo
                                           << QList<QByteArray>{QByteArray()} << "";
    }
    // clang-format on
}

void TestConsole::keys()
{
    QFETCH(int, key);
    QFETCH(QString, text);
    QFETCH(bool, echo);
    QFETCH(QList<QByteArray>, sent);
    QFETCH(QString, shown);

    Console c;
    c.setLocalEcho(echo);
    QSignalSpy spy(&c, &Console::getData);
    QKeyEvent press(QEvent::KeyPress, key, Qt::NoModifier, text);
    QApplication::sendEvent(&c, &press);
    QList<QByteArray> got;
    for (const QList<QVariant> &args : qAsConst(spy))
        got << args.first().toByteArray();
    QCOMPARE(got, sent);
    QCOMPARE(c.toPlainText(), shown);
}

void TestConsole::clickKeepsCursor()
{
    Console c;
    c.resize(300, 200);
    c.show();
    QVERIFY(QTest::qWaitForWindowExposed(&c));
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

void TestConsole::greenOnBlackWhenDisabled()
{
    Console c;
    c.setEnabled(false);
    QCOMPARE(c.palette().color(QPalette::Disabled, QPalette::Base), QColor(Qt::black));
    QCOMPARE(c.palette().color(QPalette::Disabled, QPalette::Text), QColor(Qt::green));
    QCOMPARE(c.document()->maximumBlockCount(), Console::MaxLines);
    // No undo history: it would keep every received byte for the life of the window.
    c.displayData("received");
    c.showPending();
    c.undo();
    QCOMPARE(c.toPlainText(), QStringLiteral("received"));
}

QTEST_MAIN(TestConsole)
#include "tst_console.moc"
