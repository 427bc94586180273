#include "filters/fswapfilter.h"

#include "filters/filterpanel.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <algorithm>
#include <vector>

const GPlugin::PluginDescriptor FswapFilter::_descriptor(QStringLiteral("Frequency Swap Filter"),
                                                         QStringLiteral("Frequency Swap Filter"), 0x1010,
                                                         fSwapFilterFactory);

GPlugin* fSwapFilterFactory(QWidget* parent, QString name)
{
    return new FswapFilter(parent, name);
}

FswapFilter::FswapFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    panel = new QFrame(parent);
    QHBoxLayout* row = FilterPanel::makeFramedRow(panel);
    bypass = new QCheckBox(tr("Bypass"), panel);
    bypass->setChecked(true);
    row->addWidget(bypass);
    row->addStretch();
}

FswapFilter::~FswapFilter()
{
    delete panel.data();
}

QWidget* FswapFilter::getWidget()
{
    return panel;
}

void FswapFilter::setData(const int* data, int count, int index)
{
    if (!bypass || bypass->isChecked() || count <= 0) {
        GPlugin::setData(data, count, index);
        return;
    }
    std::vector<int> reversed(data, data + count);
    std::reverse(reversed.begin(), reversed.end());
    GPlugin::setData(reversed.data(), count, index);
}
