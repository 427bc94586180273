#include "filters/metafilter.h"

#include "utilif/qthelpers.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QHBoxLayout>
#include <QLineEdit>
#include <QPushButton>

const GPlugin::PluginDescriptor
    MetaFilter::_descriptor(QStringLiteral("Meta Data Filter"),
                            QStringLiteral("Displays Meta Data and allows their manipulation."), 0x1010,
                            metaFilterFactory);

GPlugin* metaFilterFactory(QWidget* parent, QString name)
{
    return new MetaFilter(parent, name);
}

namespace {

// Tool tips of the value field, one per selector entry.
QString toolTipOf(int index)
{
    switch (index) {
    case MetaFilter::Order:
        return QStringLiteral("Beschreibt die Reihenfolge, in der die Daten eintreffen:\n0: linear\n1:triggered\n"
                              "2:cyclic\n3:forFor\n4:forBack\n5:backBack\n6:backFor");
    case MetaFilter::Encoding:
        return QStringLiteral("Beschreibt die Codierung der Daten, also wie ein Int32-Wort zu lesen ist:\n0:Int32\n"
                              "1:Int16\n2:coord3d\n3:raw\n4:counter");
    case MetaFilter::Binning:
        return QStringLiteral("Gibt die Aufteilung des Adressraums bei Histogramm-Codierung an,\nbei anderen "
                              "Codierungen irrelevant.\n") +
               QStringLiteral("Das LSB enthält die Anzahl der Bits für die X-Koordinate,\ndie höheren Bytes für Y "
                              "und t, das MSB ist irrelevant.\n") +
               QStringLiteral("Maximum ist jeweils 27, die Summe darf 27 nicht übersteigen.");
    case MetaFilter::RangeX:
        return QStringLiteral("Gibt den Variationsbereich der ersten unabhängigen Variablen an.\nIst nur sinnvoll bei "
                              "entsprechender DataOrder, z.B. cyclic.");
    case MetaFilter::RangeY:
        return QStringLiteral("Gibt den Variationsbereich der zweiten unabhängigen Variablen an.\nIst nur sinnvoll "
                              "bei entsprechender DataOrder, z.B. forBack.");
    case MetaFilter::OffsetX:
        return QStringLiteral("Gibt den Startwert der ersten unabhängigen Variablen an.\nEinheit lt. siehe DataUnitX.");
    case MetaFilter::OffsetY:
        return QStringLiteral(
            "Gibt den Startwert der zweiten unabhängigen Variablen an.\nEinheit lt. siehe DataUnitX.");
    case MetaFilter::PhysX:
        return QStringLiteral("Gibt die Ausdehnung des Wertebereichs der ersten unabhängigen\nVariablen in den "
                              "zugehoerigen physikalischen Einheiten\n(siehe DataUnitX) an.");
    case MetaFilter::PhysY:
        return QStringLiteral("Gibt die Ausdehnung des Wertebereichs der zweiten unabhängigen\nVariablen in den "
                              "zugehoerigen physikalischen Einheiten\n(siehe DataUnitX) an.");
    case MetaFilter::PhysVal:
        return QStringLiteral("Gibt die Auflösung der Datenwerte in physikalischen Einheiten an\n(siehe DataUnit).");
    case MetaFilter::Trigger:
        return QStringLiteral("Gibt den Trigger der Messung, und damit den Ursprung der unabh. Variablen an:\n"
                              "0:noTrigger\n1:scanner\n2:2:time\n3:spec0\n...\n6:spec3");
    case MetaFilter::Rotation:
        return QStringLiteral("Gibt den Drehwinkel eines Bereichs von zwei unabhängigen Variablen an.\n");
    case MetaFilter::UnitX:
        return QStringLiteral("Gibt die Einheit der unabhaengigen Variablen an:\n0:pm\n1:uV\n2:Hz\n3:ns\n4:V\n5:ms\n"
                              "6:cos");
    case MetaFilter::UnitVal:
        return QStringLiteral("Gibt die Einheit der Messwerte an:\n0:pm\n1:uV\n2:Hz\n3:ns\n4:V\n5:ms\n6:cos");
    case MetaFilter::OffsetVal:
        return QStringLiteral("Gibt den Offset für die Kalibrierungen an");
    default:
        return QString();
    }
}

} // namespace

MetaFilter::MetaFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* layout = new QHBoxLayout(panel);
    qth_setLayoutParams(layout, *_prefs->layoutMargin, *_prefs->layoutSpacing);
    overrideBox = new QCheckBox(tr("Override:"), panel);
    rawBtn = new QPushButton(tr("Raw"), panel);
    selectorBox = new QComboBox(panel);
    selectorBox->addItems(tr("DataOrder,DataEncoding,DataBinning,DataRangeX,DataRangeY,DataOffsetX,DataOffsetY,"
                             "DataPhysX,DataPhysY,DataPhysVal,DataTrigger,DataRotation,DataUnitX,DataUnitVal,"
                             "DataOffsetVal")
                              .split(QLatin1Char(',')));
    selectorBox->setCurrentIndex(0);
    valueEdit = new QLineEdit(panel);
    valueEdit->setReadOnly(true);
    layout->addWidget(overrideBox);
    layout->addWidget(rawBtn);
    layout->addStretch();
    layout->addWidget(selectorBox);
    layout->addWidget(valueEdit);

    connect(overrideBox, SIGNAL(toggled(bool)), this, SLOT(changeEnable(bool)));
    connect(selectorBox, SIGNAL(activated(int)), this, SLOT(changeMeta(int)));
    connect(valueEdit, SIGNAL(returnPressed()), this, SLOT(changeMetaData()));
    connect(rawBtn, SIGNAL(clicked()), this, SLOT(changeRaw()));
    changeMeta(0);
}

MetaFilter::~MetaFilter()
{
    delete panel.data();
}

QWidget* MetaFilter::getWidget()
{
    return panel;
}

void MetaFilter::init()
{
    GPlugin::init();
}

StreamFormat::Property MetaFilter::propertyOf(int index)
{
    // The selector's entries in the stream description.
    static const StreamFormat::Property table[PropertyCount] = {
        StreamFormat::Order,  StreamFormat::Encoding, StreamFormat::Binning,  StreamFormat::RangeX,
        StreamFormat::RangeY, StreamFormat::OffsetX,  StreamFormat::OffsetY,  StreamFormat::PhysX,
        StreamFormat::PhysY,  StreamFormat::PhysVal,  StreamFormat::Trigger,  StreamFormat::Rotation,
        StreamFormat::UnitX,  StreamFormat::UnitVal,  StreamFormat::OffsetVal};
    return table[index];
}

bool MetaFilter::storedValue(int index, int* value) const
{
    if (index < 0 || index >= PropertyCount || !stored.isSet(propertyOf(index)))
        return false;
    if (value)
        *value = stored.value(propertyOf(index));
    return true;
}

void MetaFilter::incoming(int index, int value)
{
    if (!passThrough)
        return; // overriding: the user's values stand
    forward(index, value);
    store(index, value);
    changeMeta(selection);
}

void MetaFilter::store(int index, int value)
{
    stored.set(propertyOf(index), value);
}

void MetaFilter::forward(int index, int v)
{
    if (index >= 0 && index < PropertyCount)
        StreamFormat::deliver(getSuccessor(), propertyOf(index), v);
}

void MetaFilter::changeMeta(int index)
{
    selection = index;
    if (!valueEdit)
        return;
    if (index >= 0 && index < PropertyCount) {
        // Nothing is shown for a property that has not arrived yet.
        int v = 0;
        valueEdit->setText(storedValue(index, &v) ? QString::number(v) : QString());
        valueEdit->setToolTip(toolTipOf(index));
    } else {
        valueEdit->setText(QStringLiteral("invalid selction") + QString::number(index));
    }
}

void MetaFilter::changeEnable(bool on)
{
    passThrough = !on;
    if (valueEdit)
        valueEdit->setReadOnly(!on);
}

void MetaFilter::changeMetaData()
{
    bool ok = false;
    const int v = valueEdit ? valueEdit->text().trimmed().toInt(&ok, 10) : 0;
    if (!ok || selection < 0 || selection >= PropertyCount)
        return;
    const bool changed = stored.set(propertyOf(selection), v);
    forward(selection, v);
    if (changed)
        emit requestLastFrame();
}

void MetaFilter::setRawInterpretation(bool withEncoding)
{
    passThrough = false;
    if (overrideBox)
        overrideBox->setChecked(true);
    changeEnable(true);
    // The resolution goes out as 2 and then 1 so that a successor that skips unchanged values still sees a change.
    forward(PhysVal, 2);
    if (withEncoding) {
        forward(Encoding, 0);
        store(Encoding, 0);
    }
    forward(PhysVal, 1);
    forward(UnitVal, 128);
    forward(OffsetVal, 0);
    store(PhysVal, 1);
    store(UnitVal, 128);
    store(OffsetVal, 0);
    changeMeta(selection);
}

void MetaFilter::changeRaw()
{
    setRawInterpretation(true);
    emit requestLastFrame();
}

void MetaFilter::setOption(QString key, QString value)
{
    bool ok = false;
    if (key.toLower() == QLatin1String("raw") && value.toInt(&ok, 10) == 1 && ok)
        setRawInterpretation(false);
}
