#include "filters/sixtyfourfilter.h"

#include "filters/filterpanel.h"

#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>

const GPlugin::PluginDescriptor
    SixtyFourFilter::_descriptor(QStringLiteral("64Bit Filter"),
                                 QStringLiteral("Filters 32it MSW or LSW out of 64Bit data."), 0x1002,
                                 sixtyFourFilterFactory);

GPlugin* sixtyFourFilterFactory(QWidget* parent, QString name)
{
    return new SixtyFourFilter(parent, name);
}

SixtyFourFilter::SixtyFourFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    panel = new QFrame(parent);
    QHBoxLayout* row = FilterPanel::makeFramedRow(panel);
    row->addWidget(new QLabel(tr("Window:"), panel));
    selectorBox = new QComboBox(panel);
    selectorBox->addItems(tr("Transparent,MSW,LSW").split(QLatin1Char(',')));
    selectorBox->setCurrentIndex(function);
    row->addWidget(selectorBox);
    connect(selectorBox, SIGNAL(activated(int)), this, SLOT(filterFunctionChanged(int)));
}

SixtyFourFilter::~SixtyFourFilter()
{
    delete panel.data();
}

QWidget* SixtyFourFilter::getWidget()
{
    return panel;
}

void SixtyFourFilter::filterFunctionChanged(int f)
{
    function = f;
}

void SixtyFourFilter::setData(const int* data, int count, int index)
{
    if (function != Msw && function != Lsw) {
        if (function != Transparent) {
            function = Transparent;
            if (selectorBox)
                selectorBox->setCurrentIndex(0);
        }
        GPlugin::setData(data, count, index);
        return;
    }
    // A pair split across two blocks is still decoded: the last word of a block stays in `previous`.
    values.resize(size_t(qMax(count, 0)) / 2 + 2);
    int n = 0;
    quint32 p = quint32(previous);
    for (int i = 0; i < count; ++i) {
        const quint32 w = quint32(data[i]);
        if (!(p & 0x80000000u) && (w & 0x80000000u))
            values[size_t(n++)] = int(function == Msw ? (w >> 1) & 0x3FFFFFFFu : (w << 31) | (p & 0x7FFFFFFFu));
        p = w;
    }
    previous = int(p);
    GPlugin::setData(values.data(), n, index);
}
