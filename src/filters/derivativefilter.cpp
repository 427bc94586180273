#include "filters/derivativefilter.h"

#include "framework/streamformat.h"
#include "utilif/algo.h"

#include <algorithm>
#include <climits>
#include <cmath>

const GPlugin::PluginDescriptor DerivativeFilter::_descriptor(QStringLiteral("Derivative Filter"),
                                                              QStringLiteral("Calculates derivative of incoming data."),
                                                              0x1004, deriveFilterFactory);

GPlugin* deriveFilterFactory(QWidget* parent, QString name)
{
    return new DerivativeFilter(parent, name);
}

namespace {

constexpr int kKindMetre = 0x180;
constexpr int kKindSecond = 0x480;
constexpr int kPerSecondKinds = 12 << 8; // kind k per second is kind k + 12
constexpr int kPrefixNone = 128;
constexpr int kPrefixMax = 128 + 6; // 'E'

// Hot per-word loops get an AVX2 twin chosen at load time; the arithmetic is the same in both (no FMA).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define DERIVATIVE_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define DERIVATIVE_CLONES
#endif

// algoNearest for a finite value, inline and branch-free so that the per-word loop can run in vector registers:
// clamp to the int range, truncate, then round halves away from zero.
inline int nearestInt(double v)
{
    v = std::max(double(INT_MIN), std::min(v, double(INT_MAX)));
    const int t = static_cast<int>(v);
    const double rest = v - t;                // exact in this range, in (-1, 1)
    return t + static_cast<int>(rest + rest); // +-1 exactly when |rest| >= 0.5: halves away from zero
}

// o[i] = nearest((d[i] - d[i-1]) * s) for i >= 1.
DERIVATIVE_CLONES void scaledDifferences(const int* d, int count, double s, int* o)
{
    for (int i = 1; i < count; ++i)
        o[i] = nearestInt((double(d[i]) - double(d[i - 1])) * s);
}

// The same for a scale of exactly 1, where the result is the plain difference kept inside the int range: in 32
// bits with a branch-free overflow check.
DERIVATIVE_CLONES void plainDifferences(const int* d, int count, int* o)
{
    for (int i = 1; i < count; ++i) {
        const qint32 v = d[i], u = d[i - 1];
        const qint32 r = qint32(quint32(v) - quint32(u));
        // Overflow when v and u differ in sign and r has not the sign of v: then saturate toward v's side.
        const qint32 overflow = ((v ^ u) & (v ^ r)) >> 31;
        const qint32 saturated = (v >> 31) ^ INT_MAX;
        o[i] = (r & ~overflow) | (saturated & overflow);
    }
}

// A kind code whose prefix byte can take one more step up.
bool canRaisePrefix(int unit)
{
    const int prefix = unit & 0xFF;
    return unit >= 0x80 && prefix >= 128 - 6 && prefix < kPrefixMax;
}

} // namespace

DerivativeFilter::DerivativeFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor) {}

void DerivativeFilter::setScale()
{
    int u = unitVal;
    if (((u & ~0xFF) | kPrefixNone) == kKindMetre && ((unitX & ~0xFF) | kPrefixNone) == kKindSecond)
        u += kPerSecondKinds;
    double f = 1.0;
    algoGetBaseUnit(unitX, nullptr, &f);
    const qint64 steps = qMax<qint64>(qint64(rangeX) - 1, 1);
    double dx = double(physX / steps) * f;
    // A step below one unit of the extent truncates to 0: then the exact step is used.
    if (dx == 0.0)
        dx = double(physX) / double(steps) * f;
    if (dx == 0.0 || !std::isfinite(dx)) {
        // No extent known: plain differences per sample, in the unit of the values.
        scale = 1.0;
        u = unitVal;
    } else {
        scale = 1.0 / dx;
        // Basic codes and the top prefix cannot step: the scale then stays in the values.
        while (scale > 1000.0 && canRaisePrefix(u)) {
            scale /= 1000.0;
            ++u;
        }
    }
    GPlugin::setDataUnitVal(u);
}

void DerivativeFilter::init()
{
    previous = 0.0;
    hasHalfPair = false;
    GPlugin::init();
}

void DerivativeFilter::setDataEncoding(GPlugin::DataEncoding e)
{
    wordsPerValue = (int(e) & ~0xFF00) == 6 ? 2 : 1;
    hasHalfPair = false;
    GPlugin::setDataEncoding(e);
}

void DerivativeFilter::setDataUnitX(int unit)
{
    unitX = unit;
    setScale();
    GPlugin::setDataUnitX(unit);
}

void DerivativeFilter::setDataUnitVal(int unit)
{
    unitVal = unit; // the successor sees only the derived unit
    setScale();
}

void DerivativeFilter::setDataRangeX(int value)
{
    rangeX = value;
    setScale();
    GPlugin::setDataRangeX(value);
}

void DerivativeFilter::setDataPhysX(int value)
{
    physX = value;
    setScale();
    GPlugin::setDataPhysX(value);
}

void DerivativeFilter::differentiateWords(const int* data, int count, int* o)
{
    const double s = scale;
    o[0] = nearestInt((data[0] - previous) * s);
    previous = data[count - 1];
    if (s == 1.0)
        plainDifferences(data, count, o);
    else
        scaledDifferences(data, count, s, o);
}

void DerivativeFilter::differentiatePair(quint32 w0, quint32 w1, int* o)
{
    const qint64 v = StreamFormat::decode48(w0, w1);
    const qint64 d = algoNearestLongLong((double(v) - previous) * scale);
    previous = double(v);
    quint32 lo = 0, hi = 0;
    StreamFormat::encode48(d, &lo, &hi);
    o[0] = int(lo);
    o[1] = int(hi);
}

void DerivativeFilter::setData(const int* data, int count, int index)
{
    if (count <= 0 || !data) {
        GPlugin::setData(data, count, index);
        return;
    }
    if (out.size() < size_t(count) + 1)
        out.resize(size_t(count) + 1);
    if (wordsPerValue == 1) {
        differentiateWords(data, count, out.data());
        GPlugin::setData(out.data(), count, index);
        return;
    }
    // Two words per value. A pair split between two adjacent blocks is completed here and goes on one position
    // early, so that no value is lost.
    int start = index;
    int n = 0;
    int i = 0;
    if (hasHalfPair && qint64(index) == qint64(halfPairIndex) + 1) {
        differentiatePair(quint32(halfPairWord), quint32(data[0]), out.data());
        start = halfPairIndex;
        n = 2;
        i = 1;
    }
    hasHalfPair = false;
    for (; i + 1 < count; i += 2, n += 2)
        differentiatePair(quint32(data[i]), quint32(data[i + 1]), out.data() + n);
    if (i < count) {
        hasHalfPair = true;
        halfPairWord = data[i];
        halfPairIndex = int(qint64(index) + i);
    }
    if (n > 0)
        GPlugin::setData(out.data(), n, start);
}
