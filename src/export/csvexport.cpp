#include "export/csvexport.h"

#include <charconv>
#include <cmath>
#include <cstdint>

namespace {

constexpr std::size_t FlushBytes = 1 << 20;

void appendInteger(std::string &out, std::uint64_t n)
{
    char text[24];
    char *p = text + sizeof text;
    do {
        *--p = char('0' + n % 10);
        n /= 10;
    } while (n > 0);
    out.append(p, std::size_t(text + sizeof text - p));
}

void appendNumber(std::string &out, double value)
{
    // Integers, the usual values, written directly: to_chars's shortest form costs far more.
    if (value == std::trunc(value) && std::abs(value) < 1e15
        && !(value == 0 && std::signbit(value))) {
        if (value < 0)
            out += '-';
        appendInteger(out, std::uint64_t(std::llround(std::abs(value))));
        return;
    }
    char text[32];
    // The shortest text that reads back as the same double, in the C locale.
    auto *const end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, std::size_t(end - text));
}

// Seconds to the microsecond.
void appendSeconds(std::string &out, double seconds)
{
    const std::int64_t micros = std::llround(seconds * 1e6);
    if (micros < 0)
        out += '-';
    const std::uint64_t whole = std::uint64_t(micros < 0 ? -micros : micros);
    appendInteger(out, whole / 1000000);
    char fraction[6];
    std::uint64_t rest = whole % 1000000;
    for (int i = 6; i-- > 0; rest /= 10)
        fraction[i] = char('0' + rest % 10);
    out += '.';
    out.append(fraction, 6);
}

} // namespace

CsvExport::CsvExport(const QString &fileName, const ExportPlan &plan)
    : file(fileName)
    , plan(plan)
{ }

std::string CsvExport::field(const QString &text)
{
    const QByteArray utf8 = text.toUtf8();
    std::string out(utf8.constData(), std::size_t(utf8.size()));
    if (out.find_first_of(",\"\r\n") == std::string::npos)
        return out;
    std::string quoted = "\"";
    for (char c : out) {
        if (c == '"')
            quoted += '"';
        quoted += c;
    }
    return quoted + '"';
}

bool CsvExport::open(QString *reason)
{
    if (!file.open(QIODevice::WriteOnly)) {
        *reason = file.errorString();
        return false;
    }
    buffer.reserve(FlushBytes + 4096);
    buffer = "time_s";
    for (const ExportPlan::Channel &channel : plan.channels)
        buffer += ',' + field(channel.name);
    buffer += ",marker\r\n";
    return true;
}

bool CsvExport::add(const SampleReader::Sample &sample, const QVector<const CaptureEvent *> &events,
                    QString *reason)
{
    // Microseconds: finer than any serial device's samples are apart.
    appendSeconds(
        buffer, plan.segmentOf(sample.index, &segment).origin + double(sample.index) * plan.period);
    for (int c = 0; c < plan.channels.size(); ++c) {
        buffer += ',';
        // A channel without a value in this line, or not yet or no longer sending: empty.
        if (sample.present & (1u << c))
            appendNumber(buffer, sample.values[c]);
    }
    buffer += ',';
    if (events.isEmpty()) {
        buffer += "\r\n";
        return buffer.size() < FlushBytes || flush(reason);
    }
    QString markers;
    for (const CaptureEvent *event : events) {
        if (event->type != CaptureEvent::Type::Marker)
            continue;
        if (!markers.isEmpty())
            markers += ';';
        markers += ExportPlan::eventText(*event);
    }
    if (!markers.isEmpty())
        buffer += field(markers);
    buffer += "\r\n";
    return buffer.size() < FlushBytes || flush(reason);
}

bool CsvExport::flush(QString *reason)
{
    if (file.write(buffer.data(), qint64(buffer.size())) != qint64(buffer.size())) {
        *reason = file.errorString();
        return false;
    }
    buffer.clear();
    return true;
}

bool CsvExport::finish(QString *reason)
{
    if (!flush(reason))
        return false;
    if (!file.commit()) {
        *reason = file.errorString();
        return false;
    }
    return true;
}
