#ifndef UTF8DECODER_H
#define UTF8DECODER_H

#include <QTextDecoder>

#include <memory>

// A UTF-8 decoder for a byte stream that arrives in pieces: it carries a character split
// between two pieces over to the next, and keeps a byte-order mark as data.
std::unique_ptr<QTextDecoder> newUtf8StreamDecoder();

#endif // UTF8DECODER_H
