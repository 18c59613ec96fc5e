#ifndef SIDECARS_H
#define SIDECARS_H

#include "timeline/capturetimeline.h"

#include <QByteArray>
#include <QString>
#include <QVector>

// The tab-separated files a save writes beside a capture: its events, and its time record.
namespace Sidecars {

// NAME.events.tsv and NAME.times.tsv for a capture saved as NAME.txt or NAME.
QString eventsPath(const QString &captureName);
QString timesPath(const QString &captureName);

// A label as one cell: backslash, tab, CR and LF as \\, \t, \r and \n.
QString escape(const QString &text);
QString unescape(const QString &text);

// The line each offset falls on, counted from the bytes as they stream past.
class LineCounter
{
public:
    explicit LineCounter(const QVector<qint64> &offsets);
    void feed(const QByteArray &block);
    // 1-based, in the order of the offsets given; offsets past the bytes fed count all of them.
    QVector<qint64> lines() const;

private:
    QVector<qint64> offsets;
    // The offsets' indexes, by offset.
    QVector<int> order;
    int next = 0;
    qint64 position = 0;
    qint64 lineEnds = 0;
    QVector<qint64> found;
};

// The table of events: a header row, then one row per event in order of onset. lines gives each
// event's line, in the order of timeline.events.
QByteArray eventsTable(const CaptureTimeline &timeline, const QVector<qint64> &lines);
QByteArray timesTable(const QVector<TimePoint> &points);

} // namespace Sidecars

#endif // SIDECARS_H
