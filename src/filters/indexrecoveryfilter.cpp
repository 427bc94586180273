#include "filters/indexrecoveryfilter.h"

#include "utilif/qthelpers.h"
#include "utilif/unitedit.h"

#include <QFrame>
#include <QGridLayout>
#include <QLabel>
#include <QTimer>
#include <climits>

const GPlugin::PluginDescriptor
    IndexRecoveryFilter::_descriptor(QStringLiteral("Index Recovery Filter"),
                                     QStringLiteral("Creates own index increment by 1 and resets after data timeout"),
                                     0x1004, indexRecFilterFactory);

GPlugin* indexRecFilterFactory(QWidget* parent, QString name)
{
    return new IndexRecoveryFilter(parent, name);
}

IndexRecoveryFilter::IndexRecoveryFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    panel = new QFrame(parent);
    auto* layout = new QGridLayout(panel);
    qth_setLayoutParams(layout, *_prefs->layoutMargin, *_prefs->layoutSpacing);
    timeoutEdit = new UnitEdit(panel);
    timeoutEdit->configure(QStringLiteral("s"), 'm', 0, INT_MAX, 0, 1.0, 0.0); // the value counts milliseconds
    timeoutEdit->setValue(timeoutMs);
    rangeEdit = new UnitEdit(panel);
    rangeEdit->configure(QString(), 'X', 1, 1000000, 0, 1.0, 0.0);
    rangeEdit->setValue(rangeValue);
    layout->addWidget(new QLabel(tr("Timeout"), panel), 0, 0);
    layout->addWidget(timeoutEdit, 0, 1);
    layout->addWidget(new QLabel(tr("X Range"), panel), 0, 2);
    layout->addWidget(rangeEdit, 0, 3);
    layout->setColumnStretch(4, 100);

    timer = new QTimer(this);
    connect(timer, SIGNAL(timeout()), this, SLOT(dataTimeout()));
    connect(timeoutEdit, SIGNAL(changed(int)), this, SLOT(timeoutChanged()));
    connect(rangeEdit, SIGNAL(changed(int)), this, SLOT(xRangeChanged()));
}

IndexRecoveryFilter::~IndexRecoveryFilter()
{
    delete panel.data();
}

QWidget* IndexRecoveryFilter::getWidget()
{
    return panel;
}

void IndexRecoveryFilter::setData(const int* data, int count, int)
{
    GPlugin::setData(data, count, nextIndex);
    timer->start(timeoutMs);
    if (count <= 0)
        return;
    qint64 next = qint64(nextIndex) + count;
    // Long streams would run past the int range: go back by whole lines, which keeps the position in the line.
    if (next > INT_MAX)
        next %= rangeValue;
    nextIndex = int(next);
}

void IndexRecoveryFilter::dataTimeout()
{
    nextIndex = 0;
}

void IndexRecoveryFilter::timeoutChanged()
{
    timeoutMs = timeoutEdit->getValue();
    timer->start(timeoutMs);
}

void IndexRecoveryFilter::xRangeChanged()
{
    rangeValue = rangeEdit->getValue();
    const int r = rangeValue;
    setDataRangeX(r);
    setDataOffsetX(r / 2);
    setDataPhysX(r);
    nextIndex = 0;
}

void IndexRecoveryFilter::setDataOrder(GPlugin::DataOrder)
{
    GPlugin::setDataOrder(cyclic);
}

void IndexRecoveryFilter::setDataRangeX(int)
{
    GPlugin::setDataRangeX(rangeValue);
}

void IndexRecoveryFilter::setDataOffsetX(int)
{
    GPlugin::setDataOffsetX(rangeValue / 2);
}

void IndexRecoveryFilter::setDataPhysX(int)
{
    GPlugin::setDataPhysX(rangeValue);
}
