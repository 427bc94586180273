#include "displays/metahelpers.h"

#include "utilif/algo.h"

bool LvMetaHelpers::accept(StreamFormat::Property p, int value)
{
    switch (p) {
    case StreamFormat::RangeX:
        if (value == 1)
            value = 2;
        if (value <= 0)
            return false;
        break;
    case StreamFormat::PhysX:
        if (value <= 1)
            return false;
        break;
    case StreamFormat::UnitX:
        if (value == 0x80)
            return false;
        break;
    case StreamFormat::PhysVal: // 0 would make every value infinite
    case StreamFormat::PhysValNumerator:
        if (value == 0)
            return false;
        break;
    default:
        break;
    }
    const int before = valueInUse(p);
    format.set(p, value);
    order = GPlugin::DataOrder(valueInUse(StreamFormat::Order));
    trigger = GPlugin::DataTrigger(valueInUse(StreamFormat::Trigger));
    encoding = valueInUse(StreamFormat::Encoding);
    offsetX = valueInUse(StreamFormat::OffsetX);
    rangeX = valueInUse(StreamFormat::RangeX);
    physX = valueInUse(StreamFormat::PhysX);
    offsetVal = valueInUse(StreamFormat::OffsetVal);
    physVal = valueInUse(StreamFormat::PhysVal);
    physValNumerator = valueInUse(StreamFormat::PhysValNumerator);
    unitX = valueInUse(StreamFormat::UnitX);
    unitVal = valueInUse(StreamFormat::UnitVal);
    return valueInUse(p) != before;
}

int LvMetaHelpers::valueInUse(StreamFormat::Property p) const
{
    // The display's defaults for properties that have not arrived.
    int dflt = 0;
    switch (p) {
    case StreamFormat::RangeX:
        dflt = 2;
        break;
    case StreamFormat::PhysX:
    case StreamFormat::PhysVal:
    case StreamFormat::PhysValNumerator:
        dflt = 1;
        break;
    case StreamFormat::UnitX:
    case StreamFormat::UnitVal:
        dflt = 0x80;
        break;
    default:
        break;
    }
    return format.value(p, dflt);
}

void LvMetaHelpers::update()
{
    hasOrder = order != GPlugin::linear;
    reverseOdd = order == GPlugin::forBack || order == GPlugin::backBack;
    reverseEven = order == GPlugin::backBack || order == GPlugin::backFor;

    char prefixX = ' ', prefixVal = ' ';
    double factorX = 1, factorVal = 1;
    const QString baseX = algoGetBaseUnit(unitX, &prefixX, &factorX);
    const QString baseVal = algoGetBaseUnit(unitVal, &prefixVal, &factorVal);
    // The flag tells the view whether labels may take a decimal prefix.
    unitXText = QLatin1String(prefixX == 'X' ? "-" : "+") + baseX;
    unitValText = QLatin1String(prefixVal == 'X' ? "-" : "+") + baseVal;

    dx = physX * factorX / (rangeX - 1);
    x0 = hasOrder ? (offsetX - physX * 0.5) * factorX : 0.0;
    yOffset = offsetVal;
    yScale = factorVal / physVal * physValNumerator;
    pointsPerLine = rangeX;
    pointsPerCurve = (order == GPlugin::forBack || order == GPlugin::backFor) ? 2 * rangeX : rangeX;

    encType = encoding & 0xff;
    channelMask = 1;
    channels = 1;
    if (encType == 1) {
        const int mask = (encoding >> 8) & 0xff;
        // A stream without any channel would divide by zero; it is shown as one channel.
        if (mask) {
            channelMask = mask;
            channels = 0;
            for (int b = 0; b < 8; ++b)
                channels += (mask >> b) & 1;
        }
    }
    wordsPerValue = encType == 6 ? 2 : 1;
}

double LvMetaHelpers::idx2X(int i, bool plain, double limit, bool* first, bool* last) const
{
    if (hasOrder && !plain) {
        const int line = i / pointsPerLine;
        const int r = i % pointsPerLine;
        const bool odd = line % 2 == 1;
        const int j = ((reverseOdd && odd) || (reverseEven && !odd)) ? pointsPerLine - 1 - r : r;
        *first = i % pointsPerCurve == 0;
        *last = (i + 1) % pointsPerCurve == 0;
        return x0 + j * dx;
    }
    const double x = x0 + i * dx;
    *first = i == 0;
    *last = false;
    if (limit != 0 && i > 0) {
        if (x > limit + 0.01 * dx)
            *first = true;
        else
            *last = limit < x + dx;
    }
    return x;
}
