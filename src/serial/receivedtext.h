#ifndef RECEIVEDTEXT_H
#define RECEIVEDTEXT_H

#include <QByteArray>
#include <QString>
#include <QStringList>

// Received bytes as text, without losing a byte. Valid UTF-8 becomes its characters; every
// other byte becomes a code point of its own, U+DC80 to U+DCFF (a lone low surrogate, which no
// valid UTF-8 can produce), so that encodeReceivedText() gives back exactly the bytes that came.

// Decodes bytes that arrive in pieces: a character split between two pieces is carried over,
// so the text never depends on where the pieces were cut.
class ReceiveDecoder
{
public:
    QString decode(const QByteArray &bytes);
    // The bytes of an unfinished character at the end of the stream, as escaped bytes.
    QString pendingText() const;
    // Hands those bytes over as escaped bytes and starts afresh.
    QString takePending();
    void reset() { pendingSize = 0; }

private:
    char pending[4] = {};
    int pendingSize = 0;
};

// A whole byte array; an unfinished character at its end is escaped byte by byte.
QString decodeReceivedBytes(const QByteArray &bytes);

// The exact bytes that decoding gave the text from.
QByteArray encodeReceivedText(const QString &text);

// Number of bytes encodeReceivedText() makes of the text, without making them.
qint64 encodedSize(const QString &text);

// True for a code point that stands for a byte that was not part of a valid character.
inline bool isEscapedByte(QChar c)
{
    return c.unicode() >= 0xdc80 && c.unicode() <= 0xdcff;
}

// The size of a store as encodeReceivedText() would write it, followed as the store grows
// without counting again what was counted: entries are only appended, and only the last one
// grows. A store that shrank is counted afresh.
class StoreSize
{
public:
    qint64 update(const QStringList &store);

private:
    int entries = 0;
    qint64 bytes = 0;
    qint64 lastEntryBytes = 0;
};

// The receive step: decodes one delivery from the port and appends it to the store.
void receiveDelivery(const QByteArray &data, ReceiveDecoder *decoder, QStringList *store);

#endif // RECEIVEDTEXT_H
