#pragma once
// Exact unsigned division by a bin width without a divide instruction: a reciprocal computed when the width
// changes, a multiply-high, and a correction step. The histogram filters divide once per value.

#include <QtGlobal>

class BinDivider
{
public:
    explicit BinDivider(quint64 w = 1) { setWidth(w); }
    /// A width of 0 is taken as 1.
    void setWidth(quint64 w)
    {
        width = w ? w : 1;
        recip = ~quint64(0) / width;
    }
    quint64 divisor() const { return width; }
    /// floor(x / width), for every x.
    quint64 div(quint64 x) const
    {
        // recip = floor((2^64 - 1) / width) makes the estimate at most two below the quotient (one for every x below
        // 2^63 / width), so the loop runs once at most for the values a histogram sees.
        quint64 q = quint64((unsigned __int128)x * recip >> 64);
        while (x - q * width >= width)
            ++q;
        return q;
    }

private:
    quint64 width = 1;
    quint64 recip = ~quint64(0);
};
