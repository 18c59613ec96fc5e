// Fuzzes the way from the port's deliveries to the console.
//
// Input: byte 0 gives a count k (mod 16) of size bytes that follow; the rest is the data,
// cut into deliveries of those sizes in turn (one delivery when k is 0). A size byte b below
// 0xf0 cuts b + 1 bytes, from 0xf0 up (b - 0xef) KiB, so that one delivery can hold more
// than a console line.

#include "console/console.h"
#include "console/receivedtext.h"
#include "require.h"

#include <QApplication>
#include <QTextBlock>
#include <QTextCodec>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <memory>

namespace {

QList<QByteArray> deliveries(const std::uint8_t *input, std::size_t size)
{
    if (size == 0)
        return {};
    const std::size_t k = std::min<std::size_t>(input[0] % 16, size - 1);
    const std::uint8_t *sizes = input + 1;
    const QByteArray data(reinterpret_cast<const char *>(input + 1 + k), int(size - 1 - k));
    if (k == 0)
        return {data};
    QList<QByteArray> chunks;
    for (int at = 0, i = 0; at < data.size(); i = (i + 1) % int(k)) {
        const int length = sizes[i] < 0xf0 ? sizes[i] + 1 : (sizes[i] - 0xef) * 1024;
        chunks << data.mid(at, length);
        at += length;
    }
    return chunks;
}

void requireBounded(const Console &console)
{
    const QTextDocument *document = console.document();
    require(document->blockCount() <= Console::MaxLines, "too many lines");
    for (QTextBlock b = document->begin(); b.isValid(); b = b.next())
        require(b.text().size() <= Console::MaxLineLength, "line too long");
}

} // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    static int argc = 1;
    static char name[] = "fuzz_receive";
    static char *argv[] = {name, nullptr};
    // Lives as long as the process: every input needs it.
    new QApplication(argc, argv);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    const QList<QByteArray> chunks = deliveries(input, size);
    Console console;
    ReceiveDecoder decoder;
    QString text;
    QByteArray data;
    for (const QByteArray &chunk : chunks) {
        console.displayData(chunk);
        console.showPending();
        requireBounded(console);
        text += decoder.decode(chunk);
        data += chunk;
    }

    // Where Qt's own decoder finds nothing wrong, the text is the same as its.
    QTextCodec::ConverterState keepBom(QTextCodec::IgnoreHeader);
    const QString qtText
        = QTextCodec::codecForName("UTF-8")->toUnicode(data.constData(), data.size(), &keepBom);
    require(qtText.contains(QChar::ReplacementCharacter) || keepBom.remainingChars != 0
                || text == qtText,
            "valid text was not decoded");

    // How the bytes were cut must not change what is shown.
    Console whole;
    whole.displayData(data);
    whole.showPending();
    require(console.toPlainText() == whole.toPlainText(), "shown text depends on the cuts");
    return 0;
}
