#include "filters/ugfilter.h"

#include "filters/filterpanel.h"

#include <QComboBox>
#include <climits>
#include <cmath>

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

} // namespace

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
    if (mode == Constant)
        subtractConstant();
    else if (mode == Linear)
        subtractLinear();
    return true;
}

void UgFilter::subtractConstant()
{
    const int n = lineLength;
    qint64 sum = 0;
    for (int i = 0; i < n; ++i)
        sum += smooth[size_t(i)];
    // The line's mean becomes the value offset of the data.
    const qint64 shift = sum / n - offsetVal;
    int* x = line.data();
    for (int i = 0; i < n; ++i)
        x[i] = saturatedDifference(x[i], shift);
}

void UgFilter::subtractLinear()
{
    const int n = lineLength;
    const int* s = smooth.data();
    // Centred index c_i = trunc(i - (n-1)/2): for even n the two middle words both get 0, so
    // c_i = i - k (+1 in the lower half for even n), k = n/2. The sums are kept exact in integers:
    // sum(s_i * i) = (n-1)*S - sum(P_i) with the prefix sums P_i = s_0 + ... + s_(i-1).
    qint64 total = 0;
    __int128 prefixSum = 0;
    if (n <= 65536) {
        // 64 bits hold every prefix sum of such a line (at most 2^16 sums of 2^16 words of 2^31).
        qint64 sum64 = 0;
        for (int i = 0; i < n; ++i) {
            sum64 += total;
            total += s[i];
        }
        prefixSum = sum64;
    } else {
        for (int i = 0; i < n; ++i) {
            prefixSum += total;
            total += s[i];
        }
    }
    const qint64 half = n / 2;
    const bool even = n % 2 == 0;
    qint64 lowerHalf = 0;
    if (even) {
        for (int i = 0; i < half; ++i)
            lowerHalf += s[i];
    }
    const __int128 sumSI = __int128(n - 1) * total - prefixSum;
    const __int128 sumSC = sumSI - __int128(half) * total + lowerHalf;
    // sum(c_i^2): twice the squares 1..m, m = n/2 for odd n and n/2 - 1 for even n.
    const __int128 m = even ? half - 1 : half;
    const __int128 sumCC = m * (m + 1) * (2 * m + 1) / 3;
    const double mean = double(total) / n;
    // Lines of one or two words have no usable slope (all c_i are 0): their mean is the whole underground.
    const double b = sumCC > 0 ? double(sumSC) / double(sumCC) : 0.0;
    const double a = mean - b * ((n - 1) / 2.0);
    int* x = line.data();
    // The conversions truncate toward zero. When the underground stays inside the int range at both ends (and so
    // everywhere, it is a straight line), the subtraction runs in 32 bits with a branch-free overflow check;
    // otherwise in 64 bits, where i*b + a always fits for a 32-bit line.
    const double first = a, last = (n - 1) * b + a;
    const double bound = double(INT_MAX) - 1.0;
    if (std::fabs(first) < bound && std::fabs(last) < bound) {
        for (int i = 0; i < n; ++i) {
            const qint32 u = static_cast<qint32>(i * b + a);
            const qint32 v = x[i];
            const qint32 r = qint32(quint32(v) - quint32(u));
            // Overflow when v and u differ in sign and r has not the sign of v: then saturate toward v's side.
            const qint32 overflow = ((v ^ u) & (v ^ r)) >> 31;
            const qint32 saturated = (v >> 31) ^ INT_MAX;
            x[i] = (r & ~overflow) | (saturated & overflow);
        }
    } else {
        for (int i = 0; i < n; ++i)
            x[i] = saturatedDifference(x[i], qint64(i * b + a));
    }
}
