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
    if (n < 2 || sumII <= 0)
        return 0;
    const double p = sumIT / sumII;
    return p > 0 ? p : 0;
}
