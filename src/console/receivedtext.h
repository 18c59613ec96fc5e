#ifndef RECEIVEDTEXT_H
#define RECEIVEDTEXT_H

#include <QByteArray>
#include <QString>

// Received bytes as text, for the console. Valid UTF-8 becomes its characters; every other byte
// becomes a code point of its own, U+DC80 to U+DCFF (a lone low surrogate, which no valid UTF-8
// can produce), so that the console can show it as one replacement character.

// Decodes bytes that arrive in pieces: a character split between two pieces is carried over,
// so the text never depends on where the pieces were cut.
class ReceiveDecoder
{
public:
    QString decode(const QByteArray &bytes);
    void reset() { pendingSize = 0; }

private:
    char pending[4] = {};
    int pendingSize = 0;
};

// True for a code point that stands for a byte that was not part of a valid character.
inline bool isEscapedByte(QChar c)
{
    return c.unicode() >= 0xdc80 && c.unicode() <= 0xdcff;
}

#endif // RECEIVEDTEXT_H
