#include "console/receivedtext.h"

#include <cstring>

namespace {

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
