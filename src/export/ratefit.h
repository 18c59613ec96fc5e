#ifndef RATEFIT_H
#define RATEFIT_H

#include <cstdint>
#include <vector>

// A steady sample rate fitted to samples' times: the least-squares line of time against sample
// index, taken in one sample at a time in O(1) and with no growing memory.
class RateFit
{
public:
    void add(double index, double seconds);

    std::int64_t count() const { return n; }
    // Seconds per sample; 0 until two samples at different times.
    double period() const;
    // The time of sample 0 on the fitted line, for a given period.
    double intercept(double period) const { return meanT - period * meanI; }
    // The one period of runs of samples that each began at a time of their own: the slope of
    // parallel lines fitted together. 0 as period() gives it.
    static double sharedPeriod(const std::vector<RateFit> &fits);

private:
    std::int64_t n = 0;
    double meanI = 0;
    double meanT = 0;
    // Sums of the products of deviations from the means (Welford), which stay exact enough over
    // billions of samples where plain sums of squares would not.
    double sumIT = 0;
    double sumII = 0;
};

#endif // RATEFIT_H
