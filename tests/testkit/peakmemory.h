#ifndef PEAKMEMORY_H
#define PEAKMEMORY_H

#include <QtGlobal>

namespace testkit {

// The most memory this process has held at once (VmHWM), in bytes; -1 where the system does not
// say (only Linux does).
qint64 peakResidentBytes();

} // namespace testkit

#endif // PEAKMEMORY_H
