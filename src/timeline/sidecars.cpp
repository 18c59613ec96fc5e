#include "timeline/sidecars.h"

#include <algorithm>
#include <numeric>

namespace Sidecars {

namespace {

QString stem(const QString &captureName)
{
    return captureName.endsWith(QLatin1String(".txt")) ? captureName.chopped(4) : captureName;
}

QByteArray seconds(qint64 micros)
{
    return QByteArray::number(double(micros) / 1e6, 'f', 6);
}

} // namespace

QString eventsPath(const QString &captureName)
{
    return stem(captureName) + QStringLiteral(".events.tsv");
}

QString timesPath(const QString &captureName)
{
    return stem(captureName) + QStringLiteral(".times.tsv");
}

QString escape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (const QChar c : text) {
        switch (c.unicode()) {
        case '\\':
            out += QLatin1String("\\\\");
            break;
        case '\t':
            out += QLatin1String("\\t");
            break;
        case '\n':
            out += QLatin1String("\\n");
            break;
        case '\r':
            out += QLatin1String("\\r");
            break;
        default:
            out += c;
        }
    }
    return out;
}

QString unescape(const QString &text)
{
    QString out;
    out.reserve(text.size());
    for (int i = 0; i < text.size(); ++i) {
        const QChar c = text.at(i);
        if (c != QLatin1Char('\\') || i + 1 == text.size()) {
            out += c;
            continue;
        }
        const QChar n = text.at(++i);
        out += n == QLatin1Char('t') ? QChar('\t')
            : n == QLatin1Char('n')  ? QChar('\n')
            : n == QLatin1Char('r')  ? QChar('\r')
                                     : n;
    }
    return out;
}

LineCounter::LineCounter(const QVector<qint64> &offsets)
    : offsets(offsets)
    , order(offsets.size())
    , found(offsets.size(), 1)
{
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(),
                     [&offsets](int a, int b) { return offsets.at(a) < offsets.at(b); });
}

void LineCounter::feed(const QByteArray &block)
{
    const char *const begin = block.constData();
    const qint64 end = position + block.size();
    qint64 counted = position;
    // The line of the byte at an offset: one more than the line ends before it.
    for (; next < order.size() && offsets.at(order.at(next)) <= end; ++next) {
        const qint64 at = std::max(offsets.at(order.at(next)), counted);
        lineEnds += std::count(begin + (counted - position), begin + (at - position), '\n');
        counted = at;
        found[order.at(next)] = lineEnds + 1;
    }
    if (next < order.size())
        lineEnds += std::count(begin + (counted - position), begin + block.size(), '\n');
    position = end;
}

QVector<qint64> LineCounter::lines() const
{
    QVector<qint64> all = found;
    for (int i = next; i < order.size(); ++i)
        all[order.at(i)] = lineEnds + 1;
    return all;
}

QByteArray eventsTable(const CaptureTimeline &timeline, const QVector<qint64> &lines)
{
    QByteArray table("onset\tduration\ttype\tlabel\tbyte_offset\tline\tutc\n");
    QVector<int> order(timeline.events.size());
    std::iota(order.begin(), order.end(), 0);
    std::stable_sort(order.begin(), order.end(), [&timeline](int a, int b) {
        return timeline.events.at(a).micros < timeline.events.at(b).micros;
    });
    for (const int i : qAsConst(order)) {
        const CaptureEvent &event = timeline.events.at(i);
        // BIDS: n/a for a cell without a value.
        QString label = event.label;
        if (label.isEmpty() && event.type == CaptureEvent::Type::Marker && event.number > 0)
            label = QString::number(event.number);
        const QDateTime utc = timeline.startUtc.addMSecs(event.micros / 1000);
        table += seconds(event.micros) + '\t' + seconds(event.durationMicros) + '\t'
            + CaptureEvent::typeName(event.type).toUtf8() + '\t'
            + (label.isEmpty() ? QByteArray("n/a") : escape(label).toUtf8()) + '\t'
            + QByteArray::number(event.offset) + '\t' + QByteArray::number(lines.value(i, 1)) + '\t'
            + (utc.isValid() ? utc.toString(Qt::ISODateWithMs).toUtf8() : QByteArray("n/a")) + '\n';
    }
    return table;
}

QByteArray timesTable(const QVector<TimePoint> &points)
{
    QByteArray table("byte_offset\ttime_s\n");
    table.reserve(table.size() + points.size() * 24);
    for (const TimePoint &point : points)
        table += QByteArray::number(point.offset) + '\t' + seconds(point.micros) + '\n';
    return table;
}

} // namespace Sidecars
