#pragma once
// The x axis of a histogram line: its length and centre as integers in a unit code that the chain can carry.

#include "utilif/algo.h"

#include <cmath>

struct HistAxis
{
    int unit;    // unit code of PhysX and OffsetX
    int physX;   // length
    int offsetX; // centre
    bool valid;  // false when the length or centre is not a finite number (both are then 0)
};

/// `length` and `lowEdge` in `unit`. The unit is rescaled to a prefix that keeps the mantissa in 1 ... 999; while
/// the centre does not fit into 32 bits it moves to larger prefixes. As both go out as integers, a mantissa that
/// would be rounded (2.5 µs sent as 3 µs would put every peak at the wrong place) moves to smaller prefixes while
/// the numbers fit, so that length and centre stay exact to a millionth.
inline HistAxis histogramAxis(double length, double lowEdge, int unit)
{
    HistAxis a{unit, 0, 0, false};
    double len = length;
    const double g = algoRescaleUnit(&len, &a.unit, false);
    double centre = (lowEdge + length / 2) * g;
    if (!std::isfinite(centre) || !std::isfinite(len))
        return a;
    const bool prefixed = a.unit >= 0x80; // kind codes carry the prefix in the low byte
    for (int i = 0; prefixed && i < 12 && std::fabs(centre) > 2147483647.0; ++i) {
        centre /= 1000.0;
        len /= 1000.0;
        ++a.unit;
    }
    for (int i = 0; prefixed && i < 3; ++i) {
        const bool exact = std::fabs(len - std::round(len)) <= 1e-6 * std::fabs(len) &&
                           std::fabs(centre - std::round(centre)) <= 1e-6 * std::fabs(len);
        if (exact || std::fabs(len) * 1000.0 > 2147483647.0 || std::fabs(centre) * 1000.0 > 2147483647.0 ||
            (a.unit & 0xFF) <= 122)
            break;
        centre *= 1000.0;
        len *= 1000.0;
        --a.unit;
    }
    a.physX = algoNearest(len);
    a.offsetX = algoNearest(centre);
    a.valid = true;
    return a;
}
