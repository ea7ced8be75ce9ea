#include "progressstep.h"

namespace vardune {

int ProgressStep::Width(int value, int backgroundWidth)
{
    return static_cast<int>(static_cast<double>(value) / 100.0 * backgroundWidth);
}

int ProgressStep::Pick(float random, int count)
{
    const int k = static_cast<int>(random * static_cast<float>(count)) + 1;
    return k > count ? count : k;
}

} // namespace vardune
