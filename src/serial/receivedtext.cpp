#include "serial/receivedtext.h"

#include <cstring>

namespace {

// Small deliveries go into the last entry while it has room, so that a stream of tiny
// deliveries does not cost a string header and a list slot each. Save writes the entries
// back to back, so where one ends carries no meaning. An entry is one heap block of just under
// 128 KiB: large enough that the gaps the heap leaves between blocks do not add up, and small
// enough to stay out of the C library's one-mapping-per-block range.
constexpr int EntryCapacity = 65500;

QChar escapeByte(uchar byte)
{
    return QChar(ushort(0xdc00 + byte));
}

// Decodes p[0..n): complete characters and invalid bytes go to out; returns how many bytes
// at the end form the start of a character that is still unfinished.
int decodeInto(const uchar *p, int n, QChar *&out)
{
    int i = 0;
    while (i < n) {
        const uchar lead = p[i];
        if (lead < 0x80) {
            *out++ = QChar(lead);
            ++i;
            continue;
        }
        int length = 0;
        uint codePoint = 0;
        if (lead >= 0xc2 && lead <= 0xdf) {
            length = 2;
            codePoint = lead & 0x1f;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3;
            codePoint = lead & 0x0f;
        } else if (lead >= 0xf0 && lead <= 0xf4) {
            length = 4;
            codePoint = lead & 0x07;
        } else {
            *out++ = escapeByte(lead);
            ++i;
            continue;
        }
        // The second byte's range also rules out overlong forms, surrogates and code points
        // above U+10FFFF.
        uchar low = 0x80;
        uchar high = 0xbf;
        if (lead == 0xe0)
            low = 0xa0;
        else if (lead == 0xed)
            high = 0x9f;
        else if (lead == 0xf0)
            low = 0x90;
        else if (lead == 0xf4)
            high = 0x8f;
        int k = 1;
        bool valid = true;
        for (; k < length && i + k < n; ++k) {
            const uchar next = p[i + k];
            if (next < low || next > high) {
                valid = false;
                break;
            }
            low = 0x80;
            high = 0xbf;
            codePoint = (codePoint << 6) | (next & 0x3f);
        }
        if (!valid) {
            // Only the lead is taken; what follows it is looked at afresh.
            *out++ = escapeByte(lead);
            ++i;
            continue;
        }
        if (k < length)
            return n - i; // the rest of this character has not arrived yet
        if (codePoint >= 0x10000) {
            *out++ = QChar(QChar::highSurrogate(codePoint));
            *out++ = QChar(QChar::lowSurrogate(codePoint));
        } else {
            *out++ = QChar(ushort(codePoint));
        }
        i += length;
    }
    return 0;
}

QString escapeAll(const char *bytes, int n)
{
    QString text(n, Qt::Uninitialized);
    for (int i = 0; i < n; ++i)
        text[i] = escapeByte(uchar(bytes[i]));
    return text;
}

} // namespace

QString ReceiveDecoder::decode(const QByteArray &bytes)
{
    QByteArray joined;
    const char *data = bytes.constData();
    int n = bytes.size();
    if (pendingSize > 0) {
        joined.reserve(pendingSize + n);
        joined.append(pending, pendingSize).append(bytes);
        data = joined.constData();
        n = joined.size();
    }
    // Never more characters than bytes: a four-byte character makes two.
    QString text(n, Qt::Uninitialized);
    QChar *out = text.data();
    pendingSize = decodeInto(reinterpret_cast<const uchar *>(data), n, out);
    std::memcpy(pending, data + n - pendingSize, size_t(pendingSize));
    text.resize(int(out - text.constData()));
    return text;
}

QString ReceiveDecoder::pendingText() const
{
    return escapeAll(pending, pendingSize);
}

QString ReceiveDecoder::takePending()
{
    const QString text = pendingText();
    pendingSize = 0;
    return text;
}

QString decodeReceivedBytes(const QByteArray &bytes)
{
    ReceiveDecoder decoder;
    const QString text = decoder.decode(bytes);
    return text + decoder.takePending();
}

QByteArray encodeReceivedText(const QString &text)
{
    QByteArray bytes;
    bytes.reserve(int(encodedSize(text)));
    const QChar *d = text.constData();
    const int n = text.size();
    int runStart = 0;
    for (int i = 0; i < n; ++i) {
        // The low half of a surrogate pair can fall in the same range; it follows a high half.
        if (!isEscapedByte(d[i]) || (i > 0 && d[i - 1].isHighSurrogate()))
            continue;
        bytes += text.midRef(runStart, i - runStart).toUtf8();
        bytes += char(d[i].unicode() - 0xdc00);
        runStart = i + 1;
    }
    if (runStart == 0)
        return text.toUtf8();
    bytes += text.midRef(runStart).toUtf8();
    return bytes;
}

qint64 encodedSize(const QString &text)
{
    qint64 size = 0;
    const QChar *d = text.constData();
    const int n = text.size();
    for (int i = 0; i < n; ++i) {
        const ushort u = d[i].unicode();
        if (QChar::isHighSurrogate(u) && i + 1 < n && d[i + 1].isLowSurrogate()) {
            size += 4;
            ++i;
        } else if (u < 0x80 || isEscapedByte(d[i])) {
            size += 1;
        } else {
            size += u < 0x800 ? 2 : 3;
        }
    }
    return size;
}

qint64 StoreSize::update(const QStringList &store)
{
    if (store.size() < entries) {
        entries = 0;
        bytes = 0;
    } else if (entries > 0) {
        --entries;
        bytes -= lastEntryBytes;
    }
    for (; entries < store.size(); ++entries) {
        lastEntryBytes = encodedSize(store.at(entries));
        bytes += lastEntryBytes;
    }
    return bytes;
}

void receiveDelivery(const QByteArray &data, ReceiveDecoder *decoder, QStringList *store)
{
    const QString text = decoder->decode(data);
    if (!store->isEmpty()) {
        QString &last = store->last();
        // Only into an entry made here, whose room was set aside when it was made.
        if (last.capacity() == EntryCapacity && last.size() + text.size() <= EntryCapacity) {
            last += text;
            return;
        }
    }
    if (text.size() >= EntryCapacity) {
        store->append(text);
        return;
    }
    QString entry;
    entry.reserve(EntryCapacity);
    entry += text;
    store->append(entry);
}
