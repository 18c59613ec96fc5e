#include "console/utf8decoder.h"

#include <QTextCodec>

std::unique_ptr<QTextDecoder> newUtf8StreamDecoder()
{
    return std::unique_ptr<QTextDecoder>(
        QTextCodec::codecForName("UTF-8")->makeDecoder(QTextCodec::IgnoreHeader));
}
