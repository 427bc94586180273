#include "filters/ugfilter.h"

#include "filters/filterpanel.h"

#include <QComboBox>
#include <climits>
#include <cmath>

const GPlugin::PluginDescriptor UgFilter::_descriptor(QStringLiteral("Underground Filter"),
                                                      QStringLiteral("Subtract constant or linear underground from every line."),
                                                      0x2002, ugFilterFactory);

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
    // Centred index c_i = trunc(i - (n-1)/2): for even n the two middle words both get 0. The c_i sum to 0, so
    // sum((s_i - mean) * c_i) equals sum(s_i * c_i), which needs no second pass.
    const double centre = (n - 1) / 2.0;
    double sum = 0.0, sumSC = 0.0, sumCC = 0.0;
    for (int i = 0; i < n; ++i) {
        const double c = std::trunc(i - centre);
        sum += s[i];
        sumSC += s[i] * c;
        sumCC += c * c;
    }
    const double mean = sum / n;
    // Lines of one or two words have no usable slope (all c_i are 0): their mean is the whole underground.
    const double b = sumCC > 0.0 ? sumSC / sumCC : 0.0;
    const double a = mean - b * centre;
    int* x = line.data();
    for (int i = 0; i < n; ++i) {
        const double u = std::trunc(i * b + a);
        // Within the 64-bit range for any 32-bit line; the difference is then held in the word range.
        x[i] = saturatedDifference(x[i], qint64(u));
    }
}
