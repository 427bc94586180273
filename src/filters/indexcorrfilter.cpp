#include "filters/indexcorrfilter.h"

const GPlugin::PluginDescriptor
    IndexCorrFilter::_descriptor(QStringLiteral("Index Correction Filter"),
                                 QStringLiteral("Patches +/- 1 index errors in incoming data."), 0x1102,
                                 idxFilterFactory);

GPlugin* idxFilterFactory(QWidget* parent, QString name)
{
    return new IndexCorrFilter(parent, name);
}

IndexCorrFilter::IndexCorrFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor) {}

void IndexCorrFilter::init()
{
    started = false;
    expected = 0;
    GPlugin::init();
}

void IndexCorrFilter::setData(const int* data, int count, int index)
{
    int p = index;
    const qint64 distance = qint64(expected) - index;
    if (started && (distance == 1 || distance == -1))
        p = expected;
    GPlugin::setData(data, count, p);
    started = true;
    expected = int(quint32(p) + quint32(qMax(count, 0)));
}
