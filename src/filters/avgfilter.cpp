#include "filters/avgfilter.h"

#include "utilif/algo.h"

const GPlugin::PluginDescriptor AvgFilter::_descriptor(QStringLiteral("Average Filter"),
                                                       QStringLiteral("Line by line averaging."), 0x1002,
                                                       avgFilterFactory);

GPlugin* avgFilterFactory(QWidget* parent, QString name)
{
    return new AvgFilter(parent, name);
}

AvgFilter::AvgFilter(QWidget* parent, QString name) : LineFilter(parent, std::move(name), &_descriptor) {}

void AvgFilter::setOption(QString key, QString value)
{
    if (key.toLower() != QLatin1String("depth"))
        return;
    bool ok = false;
    const int v = value.toInt(&ok, 10);
    if (ok)
        depth = qMax(1, v); // a weight of 1/0 or a negative one has no meaning
}

void AvgFilter::setDataRangeX(int n)
{
    if (n == lineLength) {
        // The average goes on, but the successor still hears the line length (after an init it may need it).
        GPlugin::setDataRangeX(n);
        return;
    }
    LineFilter::setDataRangeX(n);
    avg.assign(line.size(), 0.0);
    count = 0;
}

bool AvgFilter::filterLine()
{
    count = qMin(count + 1, depth);
    const double w = 1.0 / count;
    int* x = line.data();
    for (size_t i = 0; i < avg.size(); ++i) {
        avg[i] = w * x[i] + (1.0 - w) * avg[i];
        x[i] = algoNearest(avg[i]);
    }
    return true;
}
