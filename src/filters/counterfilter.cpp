#include "filters/counterfilter.h"

#include "utilif/algo.h"

#include <QTimer>

const GPlugin::PluginDescriptor
    CounterFilter::_descriptor(QStringLiteral("Counter Filter"),
                               QStringLiteral("Simply counts samples and measures sampling rate"), 0x1004,
                               counterFilterFactory);

GPlugin* counterFilterFactory(QWidget* parent, QString name)
{
    return new CounterFilter(parent, name);
}

CounterFilter::CounterFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(outputRate()));
    timer->start(period);
}

void CounterFilter::setData(const int*, int n, int)
{
    if (n > 0)
        count += n;
}

void CounterFilter::outputRate()
{
    int rate = algoNearest(count * 1000.0 / period);
    // Only what the rounded rate accounts for is taken off; the remainder goes into the next period.
    count -= rate / 1000.0 * period;
    GPlugin::setData(&rate, 1, outIndex);
    outIndex = (outIndex + 1) % _indexRange;
}

void CounterFilter::setOption(QString key, QString value)
{
    if (key.toLower() != QLatin1String("exposure"))
        return;
    bool ok = false;
    const int v = value.toInt(&ok, 10);
    if (!ok || v < 1)
        return; // a period of 0 would divide by zero and spin the timer
    period = v;
    timer->start(period);
    GPlugin::setDataPhysX(period);
}

void CounterFilter::setDataOrder(GPlugin::DataOrder)
{
    GPlugin::setDataOrder(linear);
}

void CounterFilter::setDataRangeX(int)
{
    GPlugin::setDataRangeX(1);
}

void CounterFilter::setDataOffsetX(int)
{
    GPlugin::setDataOffsetX(0);
}

void CounterFilter::setDataPhysX(int)
{
    GPlugin::setDataPhysX(period);
}

void CounterFilter::setDataEncoding(GPlugin::DataEncoding)
{
    GPlugin::setDataEncoding(Int32Enc);
}

void CounterFilter::setDataPhysVal(int)
{
    GPlugin::setDataPhysVal(1);
}

void CounterFilter::setDataRotation(int)
{
    GPlugin::setDataRotation(0);
}

void CounterFilter::setDataUnitX(int)
{
    GPlugin::setDataUnitX(0x47F); // ms
}

void CounterFilter::setDataUnitVal(int)
{
    GPlugin::setDataUnitVal(0x380); // Hz
}
