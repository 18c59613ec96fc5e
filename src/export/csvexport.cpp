#include "export/csvexport.h"

#include <charconv>

namespace {

constexpr std::size_t FlushBytes = 1 << 20;

void appendNumber(std::string &out, double value)
{
    char text[32];
    // The shortest text that reads back as the same double, in the C locale.
    const auto end = std::to_chars(text, text + sizeof text, value).ptr;
    out.append(text, std::size_t(end - text));
}

void appendFixed(std::string &out, double value, int decimals)
{
    char text[48];
    const auto end
        = std::to_chars(text, text + sizeof text, value, std::chars_format::fixed, decimals).ptr;
    out.append(text, std::size_t(end - text));
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
    appendFixed(buffer, plan.firstSeconds + double(sample.index) * plan.period, 6);
    for (int c = 0; c < plan.channels.size(); ++c) {
        buffer += ',';
        // A channel without a value in this line, or not yet or no longer sending: empty.
        if (sample.present & (1u << c))
            appendNumber(buffer, sample.values[c]);
    }
    buffer += ',';
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
