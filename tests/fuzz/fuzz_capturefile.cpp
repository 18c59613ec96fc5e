// Fuzzes reading a capture file back into lines.

#include "require.h"
#include "serial/capturefile.h"

#include <QBuffer>

#include <cstddef>
#include <cstdint>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *input, std::size_t size)
{
    const QByteArray bytes(reinterpret_cast<const char *>(input), int(size));
    QBuffer buffer;
    buffer.setData(bytes);
    require(buffer.open(QIODevice::ReadOnly), "buffer does not open");
    const QList<QByteArray> lines = CaptureFile::readLines(&buffer);

    // The lines are exactly the text between line ends: LF or CRLF, or a CR that ends the
    // file. A CR anywhere else is text.
    QByteArray text = bytes;
    if (text.startsWith("\xef\xbb\xbf"))
        text.remove(0, 3);
    text.replace("\r\n", "\n");
    if (text.endsWith('\r'))
        text.back() = '\n';
    if (text.endsWith('\n'))
        text.chop(1);
    require(QByteArrayList(lines).join('\n') == text, "lines differ from the file");
    return 0;
}
