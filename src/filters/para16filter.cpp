#include "filters/para16filter.h"

#include <climits>

const GPlugin::PluginDescriptor
    Para16Filter::_descriptor(QStringLiteral("Para16 Filter"),
                              QStringLiteral("Makes up a special data format (2x16 Bit) for the parametric display"),
                              0x1000104, para16FilterFactory);

GPlugin* para16FilterFactory(QWidget* parent, QString name)
{
    return new Para16Filter(parent, name);
}

Para16Filter::Para16Filter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor) {}

void Para16Filter::setData(const int* data, int count, int)
{
    if (blocks == 0) {
        // The output description goes out once in the life of the filter, before the first points.
        GPlugin::setDataOrder(triggered);
        GPlugin::setDataEncoding(Int32Enc);
        GPlugin::setDataRangeX(65536);
        GPlugin::setDataPhysX(65536);
        GPlugin::setDataOffsetX(-32768);
        GPlugin::setDataPhysVal(1);
        GPlugin::setDataUnitX(128);
        GPlugin::setDataUnitVal(128);
    }
    if (blocks < INT_MAX)
        ++blocks;
    for (int i = 0; i < count; ++i) {
        const quint32 w = quint32(data[i]);
        int y = qint16(w & 0xFFFFu);
        const int x = qint16(w >> 16);
        GPlugin::setData(&y, 1, x + 32768);
    }
}
