#include "export/ratefit.h"

void RateFit::add(double index, double seconds)
{
    ++n;
    const double di = index - meanI;
    meanI += di / double(n);
    const double dt = seconds - meanT;
    meanT += dt / double(n);
    sumIT += di * (seconds - meanT);
    sumII += di * (index - meanI);
}

double RateFit::period() const
{
    return sharedPeriod({*this});
}

double RateFit::sharedPeriod(const std::vector<RateFit> &fits)
{
    double it = 0;
    double ii = 0;
    for (const RateFit &fit : fits) {
        it += fit.sumIT;
        ii += fit.sumII;
    }
    if (ii <= 0)
        return 0;
    const double p = it / ii;
    return p > 0 ? p : 0;
}
