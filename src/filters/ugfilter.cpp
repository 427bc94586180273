#include "filters/ugfilter.h"

#include "filters/filterpanel.h"

#include <QComboBox>
#include <climits>
#include <cmath>
#include <cstring>

const GPlugin::PluginDescriptor
    UgFilter::_descriptor(QStringLiteral("Underground Filter"),
                          QStringLiteral("Subtract constant or linear underground from every line."), 0x2002,
                          ugFilterFactory);

GPlugin* ugFilterFactory(QWidget* parent, QString name)
{
    return new UgFilter(parent, name);
}

namespace {

// The difference of two 32-bit words, kept inside the word range instead of wrapping round.
inline int saturatedDifference(qint64 a, qint64 b)
{
    const qint64 d = a - b;
    return int(d < INT_MIN ? INT_MIN : (d > INT_MAX ? INT_MAX : d));
}

// Sums of a stretch of at most 2^16 words p[0..n): the plain sum and sum(p_j * j) over the local index j, both
// exact in 64 bits (2^16 products below 2^47), the lowest and highest word, and the neighbour steps of the stretch,
// the first one taken from p[-1] when the stretch does not start the line.
constexpr int kSumStretch = 1 << 16;

struct Stretch
{
    qint64 total = 0;
    qint64 weighted = 0;
    int lowest = 0;
    int highest = 0;
    LineSteps steps;
};

ORVIK_VECTOR_CLONES Stretch measureStretch(const int* p, int n, bool stepIn)
{
    qint64 t = p[0], w = 0;
    int lowest = p[0], highest = p[0];
    quint32 widest = stepIn ? wordDistance(p[0], p[-1]) : 0;
    quint64 stepSum = widest;
    for (int j = 1; j < n; ++j) {
        const int v = p[j];
        t += v;
        w += qint64(v) * j;
        lowest = lowest < v ? lowest : v;
        highest = highest > v ? highest : v;
        const quint32 d = wordDistance(v, p[j - 1]);
        stepSum += d;
        widest = widest > d ? widest : d;
    }
    return {t, w, lowest, highest, {stepSum, widest}};
}

// x_i - trunc(i * b + a) for an underground inside the int range at both ends (and so everywhere, it is a
// straight line), in 32 bits with a branch-free overflow check.
ORVIK_VECTOR_CLONES void subtractSaturated(const int* x, int* out, int n, double a, double b)
{
    for (int i = 0; i < n; ++i) {
        const qint32 u = static_cast<qint32>(i * b + a);
        const qint32 v = x[i];
        const qint32 r = qint32(quint32(v) - quint32(u));
        // Overflow when v and u differ in sign and r has not the sign of v: then saturate toward v's side.
        const qint32 overflow = ((v ^ u) & (v ^ r)) >> 31;
        const qint32 saturated = (v >> 31) ^ INT_MAX;
        out[i] = (r & ~overflow) | (saturated & overflow);
    }
}

// The same when no difference can leave the int range.
ORVIK_VECTOR_CLONES void subtractPlain(const int* x, int* out, int n, double a, double b)
{
    for (int i = 0; i < n; ++i)
        out[i] = x[i] - static_cast<qint32>(i * b + a);
}

} // namespace

struct UgFilter::LineSums
{
    qint64 total = 0; // exact: at most 2^22 words
    __int128 weighted = 0; // sum(s_i * i)
    qint64 lowerHalf = 0; // sum of the words [0, n/2)
    int lowest = INT_MAX;
    int highest = INT_MIN;
    LineSteps steps;

    // Adds the words [begin, end) of `s`.
    void add(const int* s, int begin, int end)
    {
        for (int c = begin; c < end; c += kSumStretch) {
            const Stretch st = measureStretch(s + c, qMin(kSumStretch, end - c), c > 0);
            total += st.total;
            weighted += __int128(st.weighted) + __int128(c) * st.total;
            lowest = qMin(lowest, st.lowest);
            highest = qMax(highest, st.highest);
            steps.sum += st.steps.sum;
            steps.widest = qMax(steps.widest, st.steps.widest);
        }
    }

    LineSums(const int* s, int n)
    {
        add(s, 0, n / 2);
        lowerHalf = total;
        add(s, n / 2, n);
    }
};

UgFilter::UgFilter(QWidget* parent, QString name) : LineFilter(parent, std::move(name), &_descriptor)
{
    transparent = true; // mode Off
    updateActive();
    panel = new QWidget(parent);
    selectorBox = FilterPanel::makeModeRow(panel, getName(), tr("Off,Constant,Linear"));
    connect(selectorBox, SIGNAL(activated(int)), this, SLOT(changeMode(int)));
}

UgFilter::~UgFilter()
{
    delete panel.data();
}

QWidget* UgFilter::getWidget()
{
    return panel;
}

void UgFilter::setDataOffsetVal(int value)
{
    offsetVal = value;
    LineFilter::setDataOffsetVal(value);
}

void UgFilter::changeMode(int m)
{
    if (m == mode)
        return;
    mode = m;
    setTransparent(m == Off);
    emit requestLastFrame();
}

bool UgFilter::filterLine()
{
    return filterWords(line.data());
}

bool UgFilter::filterWords(const int* words)
{
    const int n = lineLength;
    if (mode != Constant && mode != Linear) {
        if (words != line.data())
            std::memcpy(line.data(), words, size_t(n) * sizeof(int));
        return true;
    }
    LineSums sums(words, n);
    const int* s = peakFiltered(words, sums.steps);
    if (s != words) {
        // The fit follows the peak-filtered words; the range stays that of the words themselves.
        const LineSums smoothed(s, n);
        sums.total = smoothed.total;
        sums.weighted = smoothed.weighted;
        sums.lowerHalf = smoothed.lowerHalf;
    }
    if (mode == Constant)
        subtractConstant(words, sums);
    else
        subtractLinear(words, sums);
    return true;
}

void UgFilter::subtractConstant(const int* x, const LineSums& sums)
{
    const int n = lineLength;
    // The line's mean becomes the value offset of the data.
    const qint64 shift = sums.total / n - offsetVal;
    int* out = line.data();
    for (int i = 0; i < n; ++i)
        out[i] = saturatedDifference(x[i], shift);
}

void UgFilter::subtractLinear(const int* x, const LineSums& sums)
{
    const int n = lineLength;
    // Centred index c_i = trunc(i - (n-1)/2): for even n the two middle words both get 0, so
    // c_i = i - k (+1 in the lower half for even n), k = n/2. The sums are kept exact in integers.
    const int half = n / 2;
    const bool even = n % 2 == 0;
    const qint64 total = sums.total;
    const __int128 sumSC = sums.weighted - __int128(half) * total + (even ? sums.lowerHalf : 0);
    // sum(c_i^2): twice the squares 1..m, m = n/2 for odd n and n/2 - 1 for even n.
    const __int128 m = even ? half - 1 : half;
    const __int128 sumCC = m * (m + 1) * (2 * m + 1) / 3;
    const double mean = double(total) / n;
    // Lines of one or two words have no usable slope (all c_i are 0): their mean is the whole underground.
    const double b = sumCC > 0 ? double(sumSC) / double(sumCC) : 0.0;
    const double a = mean - b * ((n - 1) / 2.0);
    int* out = line.data();
    // The conversions truncate toward zero. Outside the int range the subtraction runs in 64 bits, where
    // i*b + a always fits for a 32-bit line.
    const double first = a, last = (n - 1) * b + a;
    const double bound = double(INT_MAX) - 1.0;
    if (std::fabs(first) < bound && std::fabs(last) < bound) {
        // i*b + a grows or falls with i (every rounding step is monotonic), so the underground lies between its
        // values at both ends; then the word range tells whether a difference can overflow.
        const qint64 u0 = qint64(first), u1 = qint64(last);
        const qint64 low = qint64(sums.lowest) - qMax(u0, u1), high = qint64(sums.highest) - qMin(u0, u1);
        if (low >= INT_MIN && high <= INT_MAX)
            subtractPlain(x, out, n, a, b);
        else
            subtractSaturated(x, out, n, a, b);
    } else {
        for (int i = 0; i < n; ++i)
            out[i] = saturatedDifference(x[i], qint64(i * b + a));
    }
}
