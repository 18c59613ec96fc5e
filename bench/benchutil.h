#ifndef BENCHUTIL_H
#define BENCHUTIL_H

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include <unistd.h>

// Small measuring helpers shared by the bench programs.
namespace bench {

// Resident set size in bytes, or -1 where /proc is missing.
inline long long residentBytes()
{
    std::FILE *f = std::fopen("/proc/self/statm", "r");
    if (!f)
        return -1;
    long long pages = 0;
    long long resident = -1;
    if (std::fscanf(f, "%lld %lld", &pages, &resident) != 2)
        resident = -1;
    std::fclose(f);
    return resident < 0 ? -1 : resident * sysconf(_SC_PAGESIZE);
}

inline double clockSeconds(clockid_t clock)
{
    timespec ts{};
    clock_gettime(clock, &ts);
    return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// CPU time of the calling thread: unlike wall time, barely moved by other load on the machine.
inline double threadCpuSeconds()
{
    return clockSeconds(CLOCK_THREAD_CPUTIME_ID);
}

inline double percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    const auto index
        = static_cast<std::size_t>(std::lround(p / 100.0 * static_cast<double>(values.size() - 1)));
    return values[std::min(index, values.size() - 1)];
}

inline double median(const std::vector<double> &values)
{
    return percentile(values, 50);
}

// One figure per line: name, value, unit.
inline void report(const std::string &name, double value, const char *unit)
{
    const double magnitude = value < 0 ? -value : value;
    const int decimals = magnitude >= 100 ? 0 : magnitude >= 10 ? 1 : magnitude >= 1 ? 2 : 3;
    std::printf("%s %.*f %s\n", name.c_str(), decimals, value, unit);
    std::fflush(stdout);
}

} // namespace bench

#endif // BENCHUTIL_H
