#include "filters/amfilter.h"

#include "utilif/qthelpers.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <cmath>
#include <vector>

namespace {

constexpr double kTwoPi = 6.283185307179586;

} // namespace

const GPlugin::PluginDescriptor AmFilter::_descriptor(QStringLiteral("AM Filter"),
                                                      QStringLiteral("Digital amplitude modulation filter"), 0x1002,
                                                      amFilterFactory);

GPlugin* amFilterFactory(QWidget* parent, QString name)
{
    return new AmFilter(parent, name);
}

AmFilter::AmFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    panel = new QFrame(parent);
    auto* layout = new QHBoxLayout(panel);
    qth_setLayoutParams(layout, *_prefs->layoutMargin, *_prefs->layoutSpacing);
    bypass = new QCheckBox(tr("Bypass"), panel);
    bypass->setChecked(true);
    frequencyEdit = new UnitEdit(panel);
    frequencyEdit->configure(QStringLiteral("Hz"), ' ', 0, 200000, 0, 1.0, 0.0);
    frequencyEdit->setValue(0);
    layout->addWidget(bypass);
    layout->addWidget(new QLabel(tr("fmod[Hz]:"), panel));
    layout->addWidget(frequencyEdit);
    layout->addStretch();
}

AmFilter::~AmFilter()
{
    delete panel.data();
}

QWidget* AmFilter::getWidget()
{
    return panel;
}

void AmFilter::setDataPhysX(int value)
{
    sampleTime = value / 1e9;
    hasSampleTime = true;
    GPlugin::setDataPhysX(value);
}

void AmFilter::setData(const int* data, int count, int index)
{
    if (!bypass || !frequencyEdit || bypass->isChecked() || count <= 0) {
        GPlugin::setData(data, count, index);
        return;
    }
    if (!hasSampleTime) {
        // Without the sample distance any modulation would be made up: pass the data and say why.
        if (!warned) {
            warned = true;
            emit statusChanged(tr("%1: sample time not known yet, data pass unmodulated").arg(getName()), 60000, 1);
        }
        GPlugin::setData(data, count, index);
        return;
    }
    const double t = sampleTime != 0.0 ? sampleTime : 1.0; // 0 counts as one second
    // The phase step 2*pi*fmod*t is 2*pi/p with p = (1/fmod)/t samples per period; it stays finite for fmod 0.
    const double phaseStep = kTwoPi * frequencyEdit->getValue() * t;
    std::vector<int> modulated(size_t(count), 0);
    for (int i = 0; i < count; ++i, ++sampleNumber)
        modulated[size_t(i)] = int(std::trunc(data[i] * std::cos(phaseStep * double(sampleNumber))));
    GPlugin::setData(modulated.data(), count, index);
}
