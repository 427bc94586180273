#include "filters/directionfilter.h"

#include "filters/filterpanel.h"

#include <QComboBox>

const GPlugin::PluginDescriptor DirectionFilter::_descriptor(QStringLiteral("Scan Direction Filter"),
                                                             QStringLiteral("Filter for scan direction."), 0x2002,
                                                             dirFilterFactory);

GPlugin* dirFilterFactory(QWidget* parent, QString name)
{
    return new DirectionFilter(parent, name);
}

DirectionFilter::DirectionFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    panel = new QWidget(parent);
    selectorBox = FilterPanel::makeModeRow(panel, getName(), tr("Off,Forward,Backward"));
    connect(selectorBox, SIGNAL(activated(int)), this, SLOT(changeMode(int)));
}

DirectionFilter::~DirectionFilter()
{
    delete panel.data();
}

QWidget* DirectionFilter::getWidget()
{
    return panel;
}

void DirectionFilter::setOrderAndRange()
{
    int out = order;
    const bool bidirectional = order == forBack || order == backFor;
    switch (mode) {
    case Off:
        block = false;
        passAll = true;
        break;
    case Forward:
    case Backward: {
        // The one-direction order that the kept lines form, and the order whose lines are all of the other kind.
        const int kept = mode == Forward ? forFor : backBack;
        const int other = mode == Forward ? backBack : forFor;
        if (bidirectional) {
            block = false;
            passAll = lineLength < 1;
            out = kept;
        } else if (order == other) {
            block = true;
            passAll = lineLength < 1;
        } else {
            block = false;
            passAll = true;
        }
        break;
    }
    default:
        break; // unknown modes keep the flags
    }
    GPlugin::setDataOrder(GPlugin::DataOrder(out));
}

void DirectionFilter::setDataOrder(GPlugin::DataOrder o)
{
    order = int(o);
    setOrderAndRange();
}

void DirectionFilter::setDataRangeX(int n)
{
    lineLength = n;
    GPlugin::setDataRangeX(n);
    setOrderAndRange();
}

void DirectionFilter::changeMode(int m)
{
    if (m == mode)
        return;
    mode = m;
    setOrderAndRange();
    emit requestLastFrame();
}

void DirectionFilter::setData(const int* data, int count, int index)
{
    if (block)
        return;
    if (passAll || index < 0) {
        GPlugin::setData(data, count, index);
        return;
    }
    const qint64 n = lineLength;
    int done = 0;
    while (done < count) {
        const qint64 position = qint64(index) + done;
        const qint64 lineNo = position / n;
        const qint64 offset = position % n;
        const int length = int(qMin<qint64>(count - done, n - offset));
        const bool forward = (order == forBack && lineNo % 2 == 0) || (order == backFor && lineNo % 2 == 1);
        if ((forward && mode == Forward) || (!forward && mode == Backward))
            GPlugin::setData(data + done, length, int((lineNo / 2) * n + offset));
        done += length;
    }
}
