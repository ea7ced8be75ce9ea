#pragma once

namespace vardune {

// The arithmetic of the sliding progress picture.
struct ProgressStep {
    // Width of the foreground for a step of 1 to 100 over a background w pixels wide.
    static int Width(int value, int backgroundWidth);
    // The picture to show next, 1 to count, from a random number in [0, 1).
    static int Pick(float random, int count);
};

} // namespace vardune
