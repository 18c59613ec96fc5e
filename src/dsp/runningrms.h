#ifndef RUNNINGRMS_H
#define RUNNINGRMS_H

#include <cstddef>
#include <vector>

// The root mean square of the last `length` values, O(1) a value.
class RunningRms
{
public:
    void setLength(std::size_t length);
    std::size_t length() const { return squares.size(); }
    // Over what came so far while fewer than `length` did. A value that is not finite gives NaN
    // and starts the window afresh: a sum that held it would stay NaN or swamp what follows.
    float add(float x);

private:
    std::vector<double> squares;
    std::size_t next = 0;
    std::size_t filled = 0;
    double sum = 0;
};

#endif // RUNNINGRMS_H
