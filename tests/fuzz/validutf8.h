#ifndef VALIDUTF8_H
#define VALIDUTF8_H

#include <QByteArray>

#include <cstdio>
#include <cstdlib>

// Strict UTF-8 (no overlong forms, surrogates or code points past U+10FFFF), judged
// apart from Qt's decoder so that the decoder is not its own oracle.
inline bool isValidUtf8(const QByteArray &bytes)
{
    const auto *p = reinterpret_cast<const unsigned char *>(bytes.constData());
    const int n = bytes.size();
    for (int i = 0; i < n;) {
        const unsigned char lead = p[i];
        int length = 1;
        char32_t cp = lead;
        char32_t min = 0;
        if (lead >= 0xf0 && lead <= 0xf7) {
            length = 4, cp = lead & 0x07u, min = 0x10000;
        } else if (lead >= 0xe0 && lead <= 0xef) {
            length = 3, cp = lead & 0x0fu, min = 0x800;
        } else if (lead >= 0xc0 && lead <= 0xdf) {
            length = 2, cp = lead & 0x1fu, min = 0x80;
        } else if (lead >= 0x80) {
            return false;
        }
        if (n - i < length)
            return false;
        for (int k = 1; k < length; ++k) {
            if ((p[i + k] & 0xc0u) != 0x80u)
                return false;
            cp = (cp << 6) | (p[i + k] & 0x3fu);
        }
        if (cp < min || cp > 0x10ffff || (cp >= 0xd800 && cp <= 0xdfff))
            return false;
        i += length;
    }
    return true;
}

// A failed check must stop the fuzzer with a reproducer, as a crash would.
inline void require(bool ok, const char *what)
{
    if (!ok) {
        std::fprintf(stderr, "check failed: %s\n", what);
        std::abort();
    }
}

#endif // VALIDUTF8_H
