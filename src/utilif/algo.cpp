#include "utilif/algo.h"

#include <cmath>
#include <cstring>
#include <limits>

namespace {

const char kPrefixes[] = "afpnum kMGTPE"; // 1000^-6 .. 1000^6, index 6 is no prefix

struct BasicUnit
{
    const char* text;
    double factor;
};
// The basic codes: a fixed unit, applied through the factor and never rescaled on labels.
const BasicUnit kBasicUnits[] = {{"m", 1e-12}, {"V", 1e-6}, {"Hz", 1.0}, {"s", 1e-9},
                                 {"V", 1.0},   {"s", 1e-3}, {"cos", 1.0}};

// Base unit of each kind (code >> 8). Kinds 13..24 are the kinds 1..12 per second (the derivative filter adds 12).
const char* const kKindUnits[] = {
    "",    // 0 plain number
    "m",   // 1
    "V",   // 2
    "Hz",  // 3
    "s",   // 4
    "°",   // 5 angle in degrees (polar plots)
    "A",   // 6
    "K",   // 7
    "cps", // 8 counts per second
    "m",   // 9 position record (m, deg, deg)
    "%",   // 10
    "dBm", // 11
    "W",   // 12
};
constexpr int kKindCount = int(sizeof(kKindUnits) / sizeof(kKindUnits[0]));

bool kindOf(int code, int* kind, int* power)
{
    if (code < 0x80)
        return false;
    const int k = code >> 8;
    int p = (code & 0xff) - 128;
    if (p < -6 || p > 6)
        p = 0; // a prefix byte outside the table (e.g. 0x900) means no prefix
    if (k >= kKindCount + 12)
        return false;
    *kind = k;
    *power = p;
    return true;
}

} // namespace

int algoNearest(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= double(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    if (value <= double(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    return int(std::lround(value));
}

qint64 algoNearestLongLong(double value)
{
    if (std::isnan(value))
        return 0;
    if (value >= 9.2233720368547748e18)
        return std::numeric_limits<qint64>::max();
    if (value <= -9.2233720368547758e18)
        return std::numeric_limits<qint64>::min();
    return qint64(std::llround(value));
}

int algoLogb(quint64 n)
{
    int r = 0;
    while (n > 1) {
        n >>= 1;
        ++r;
    }
    return r;
}

int algoPrefixPower(char prefix)
{
    const char* p = prefix ? std::strchr(kPrefixes, prefix) : nullptr;
    return p ? int(p - kPrefixes) - 6 : 0;
}

char algoPrefixOfPower(int power)
{
    return kPrefixes[qBound(-6, power, 6) + 6];
}

QString algoGetBaseUnit(int unitCode, char* prefix, double* factor)
{
    char pre = ' ';
    double f = 1.0;
    QString text;
    int kind = 0, power = 0;
    if (unitCode >= 0 && unitCode < int(sizeof(kBasicUnits) / sizeof(kBasicUnits[0]))) {
        pre = 'X';
        f = kBasicUnits[unitCode].factor;
        text = QString::fromUtf8(kBasicUnits[unitCode].text);
    } else if (kindOf(unitCode, &kind, &power)) {
        pre = algoPrefixOfPower(power);
        f = std::pow(1000.0, power);
        if (kind < kKindCount)
            text = QString::fromUtf8(kKindUnits[kind]);
        else
            text = QString::fromUtf8(kKindUnits[kind - 12]) + QStringLiteral("/s");
    }
    if (prefix)
        *prefix = pre;
    if (factor)
        *factor = f;
    return text;
}

double algoGetPrefixFactor(char prefix)
{
    return std::pow(1000.0, algoPrefixPower(prefix));
}

QString algoGetPrintablePrefix(char prefix)
{
    if (prefix == 'u')
        return QString::fromUtf8("µ");
    if (prefix == ' ' || prefix == 'X' || !std::strchr(kPrefixes, prefix) || prefix == 0)
        return QString();
    return QString(QChar(prefix));
}

char algoNormalize(double* value, char prefix, const char* allowed, int threshold)
{
    if (prefix == 'X' || !prefix || !std::strchr(kPrefixes, prefix))
        prefix = ' ';
    if (!value || *value == 0.0 || !std::isfinite(*value))
        return prefix;
    const double upper = threshold > 0 ? threshold * 10.0 : 1000.0;
    int power = algoPrefixPower(prefix);
    double v = *value;
    auto ok = [allowed](int p) { return !allowed || std::strchr(allowed, algoPrefixOfPower(p)); };
    // Walk up while the mantissa is too big, down while it is below 1, staying within the allowed prefixes.
    while (std::fabs(v) >= upper && power < 6) {
        int next = power + 1;
        while (next <= 6 && !ok(next))
            ++next;
        if (next > 6)
            break;
        v /= std::pow(1000.0, next - power);
        power = next;
    }
    while (std::fabs(v) < 1.0 && power > -6) {
        int next = power - 1;
        while (next >= -6 && !ok(next))
            --next;
        if (next < -6)
            break;
        v *= std::pow(1000.0, power - next);
        power = next;
    }
    *value = v;
    return algoPrefixOfPower(power);
}

char algoNormalizeFixed(double* value, char from, char to)
{
    if (value)
        *value *= algoGetPrefixFactor(from) / algoGetPrefixFactor(to);
    return to;
}

int algoDigits(double a, double b)
{
    const double diff = std::fabs(a - b);
    const double mag = std::max(std::fabs(a), std::fabs(b));
    if (!std::isfinite(diff) || !std::isfinite(mag) || diff == 0.0 || mag == 0.0)
        return 1;
    // A small allowance keeps a difference of 1e-4 computed as 9.99999e-05 in its decade.
    const int digits = int(std::floor(std::log10(mag) + 1e-9)) - int(std::floor(std::log10(diff) + 1e-9)) + 1;
    return qBound(1, digits, 17);
}

double algoRescaleUnit(double* value, int* unitCode, bool integerOnly)
{
    int kind = 0, power = 0;
    if (!value || !unitCode || *unitCode < 0x80 || !kindOf(*unitCode, &kind, &power))
        return 1.0;
    double v = *value;
    char pre = algoNormalize(&v, algoPrefixOfPower(power), nullptr, 100);
    if (integerOnly && std::fabs(v) < 1.0)
        return 1.0;
    const int newPower = algoPrefixPower(pre);
    const double factor = std::pow(1000.0, power - newPower);
    *value = v;
    *unitCode = (*unitCode & ~0xff) | (128 + newPower);
    return factor;
}

int algoRescaleUnitInt(int value, int* unitCode, bool exact)
{
    int kind = 0, power = 0;
    if (value == 0 || !unitCode || *unitCode < 0x80 || !kindOf(*unitCode, &kind, &power))
        return value;
    qint64 v = value;
    while ((v >= 1000 || v <= -1000) && power < 6 && (!exact || v % 1000 == 0)) {
        v = exact ? v / 1000 : algoNearestLongLong(double(v) / 1000.0);
        ++power;
    }
    *unitCode = (*unitCode & ~0xff) | (128 + power);
    return int(v);
}

bool algoCalcScaleTics(double min, double max, int count, double* start, double* step, double* factor)
{
    double s = 1.0, st = 0.0, f = 1.0;
    const bool valid = std::isfinite(min) && std::isfinite(max) && max > min;
    if (valid) {
        const double raw = (max - min) / std::max(1, count);
        const double decade = std::pow(10.0, std::floor(std::log10(raw)));
        const double m = raw / decade;
        s = (m <= 1.0 ? 1.0 : m <= 2.0 ? 2.0 : m <= 5.0 ? 5.0 : 10.0) * decade;
        st = std::ceil(min / s) * s;
        const double mag = std::max(std::fabs(min), std::fabs(max));
        f = mag > 0 ? std::pow(1000.0, std::floor(std::log10(mag) / 3.0)) : 1.0;
    }
    if (start)
        *start = st;
    if (step)
        *step = s;
    if (factor)
        *factor = f;
    return valid;
}

bool algoCalcGaugeDisplay(int pixels, double length, char prefix, int* barPixels, double* barValue, char* barPrefix)
{
    if (pixels <= 0 || !(length > 0) || !std::isfinite(length)) {
        if (barPixels)
            *barPixels = 0;
        if (barValue)
            *barValue = 0;
        if (barPrefix)
            *barPrefix = ' ';
        return false;
    }
    const double target = length / 4.0;
    const double decade = std::pow(10.0, std::floor(std::log10(target)));
    const double m = target / decade;
    const double value = (m >= 5.0 ? 5.0 : m >= 2.0 ? 2.0 : 1.0) * decade;
    double v = value;
    const char pre = algoNormalize(&v, prefix, nullptr, 100);
    if (barPixels)
        *barPixels = std::max(1, algoNearest(pixels * value / length));
    if (barValue)
        *barValue = std::round(v * 1e9) / 1e9;
    if (barPrefix)
        *barPrefix = pre;
    return true;
}
