#include "filters/missingfilter.h"

#include <climits>
#include <vector>

const GPlugin::PluginDescriptor
    MissingFilter::_descriptor(QStringLiteral("Missing Data Filter"),
                               QStringLiteral("Visualizes missing data by inserting substitution values."), 0x1102,
                               misFilterFactory);

GPlugin* misFilterFactory(QWidget* parent, QString name)
{
    return new MissingFilter(parent, name);
}

MissingFilter::MissingFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor) {}

void MissingFilter::init()
{
    substitute = -1000;
    expected = 0;
    GPlugin::init();
}

void MissingFilter::setData(const int* data, int count, int index)
{
    // The substitute stays 1000 below every word seen (held at the bottom of the int range).
    for (int i = 0; i < count; ++i) {
        if (data[i] < substitute)
            substitute = int(qMax<qint64>(qint64(data[i]) - 1000, INT_MIN));
    }
    // Unsigned distance: a block that starts before the expected position gives a huge gap and is not filled.
    const quint32 gap = quint32(index) - quint32(expected);
    if (gap != 0 && gap <= _maxGap) {
        const std::vector<int> fill(gap, substitute);
        GPlugin::setData(fill.data(), int(gap), expected);
    }
    GPlugin::setData(data, count, index);
    expected = int(quint32(index) + quint32(qMax(count, 0)));
}
