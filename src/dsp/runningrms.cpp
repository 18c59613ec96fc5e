#include "dsp/runningrms.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numeric>

void RunningRms::setLength(std::size_t length)
{
    squares.assign(std::max<std::size_t>(1, length), 0.0);
    next = 0;
    filled = 0;
    sum = 0;
}

float RunningRms::add(float x)
{
    if (squares.empty())
        setLength(1);
    if (!std::isfinite(x)) {
        setLength(squares.size());
        return std::numeric_limits<float>::quiet_NaN();
    }
    const double square = double(x) * double(x);
    sum += square - squares[next];
    squares[next] = square;
    if (++next == squares.size()) {
        next = 0;
        // Once a round, afresh: what a running sum gains and loses leaves rounding behind.
        sum = std::accumulate(squares.begin(), squares.end(), 0.0);
    }
    filled = std::min(filled + 1, squares.size());
    return float(std::sqrt(std::max(0.0, sum) / double(filled)));
}
