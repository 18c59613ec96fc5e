#ifndef CAPTUREEXPORT_H
#define CAPTUREEXPORT_H

#include "export/exportplan.h"

#include <QString>

#include <atomic>
#include <cstdint>

// Exports a capture for analysis: its samples, at a steady rate, with its markers and events.
namespace CaptureExport {

enum class Format { Csv, Edf, Bdf };
enum class Result { Exported, Failed, Cancelled };

struct Outcome
{
    Result result = Result::Exported;
    QString reason; // why it failed
    QString report; // what was exported, for the user
};

// Shared between an export and whoever watches it, from any thread.
struct Control
{
    std::atomic<bool> cancelled{false};
    // Bytes read of twice the capture's size: it is read once to plan, once to write.
    std::atomic<std::int64_t> done{0};
};

// Blocks until the file is written; it replaces an existing one only once complete. A nominal
// rate above 0 is taken instead of the rate measured from the time record.
Outcome run(const QString &fileName, Format format, double nominalRate,
            const ExportPlan::Input &input, Control *control);

// The format a file name's suffix asks for; Csv for any other.
Format formatOf(const QString &fileName);

} // namespace CaptureExport

#endif // CAPTUREEXPORT_H
