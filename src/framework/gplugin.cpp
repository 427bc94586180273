#include "framework/gplugin.h"

#include "framework/logging.h"
#include "utilif/algo.h"
#include "utilif/qthelpers.h"

#include <QColor>
#include <QWidget>
#include <algorithm>

namespace {

const QString dfltGType = QStringLiteral("PNG");
const QString dfltSnDir = QString();
const bool dfltFalse = false;
const int dfltZero = 0;
const int dfltLayout = 3;

} // namespace

const GPlugin::PrefData GPlugin::dfltPrefs = {&dfltGType, &dfltSnDir, &dfltFalse, &dfltFalse, &dfltFalse,
                                              &dfltZero,  &dfltZero,  &dfltLayout, &dfltLayout};
const GPlugin::PrefData* GPlugin::_prefs = &GPlugin::dfltPrefs;
// Plain zero-initialised statics: the first descriptor constructed creates the list, whatever the order of static
// initialisation between translation units.
QList<const GPlugin::PluginDescriptor*>* GPlugin::_typeList;
quint32 GPlugin::_initIndicator;

void registerOrvikMetaTypes()
{
    static const bool done = [] {
        qRegisterMetaType<Int32>("Int32");
        qRegisterMetaType<PathList>("PathList");
        qRegisterMetaType<DataList>("DataList");
        qRegisterMetaType<DataList>("DataList&");
        qRegisterMetaType<GPlugin::DataOrder>("GPlugin::DataOrder");
        qRegisterMetaType<GPlugin::DataEncoding>("GPlugin::DataEncoding");
        qRegisterMetaType<GPlugin::DataTrigger>("GPlugin::DataTrigger");
        qRegisterMetaType<GPlugin*>("GPlugin*");
        return true;
    }();
    Q_UNUSED(done);
}

GPlugin::PluginDescriptor::PluginDescriptor(QString name, QString description, int flags, Factory factory)
    : name(std::move(name)), description(std::move(description)), flags(flags), factory(factory)
{
    if (_initIndicator != 0xabcdef23u) {
        _initIndicator = 0xabcdef23u;
        _typeList = new QList<const PluginDescriptor*>();
    }
    // Keep the registry in catalogue order whatever order the types happen to be constructed in; types outside the
    // catalogue follow in construction order.
    const int rank = catalogueRank(this->name, this->flags);
    auto pos = std::upper_bound(_typeList->begin(), _typeList->end(), rank,
                                [](int r, const PluginDescriptor* d) { return r < catalogueRank(d->name, d->flags); });
    _typeList->insert(pos, this);
}

GPlugin::GPlugin(QWidget* parent, QString name, const PluginDescriptor* descriptor)
    : QObject(nullptr), name(std::move(name)), descriptor(descriptor)
{
    Q_UNUSED(parent);
    registerOrvikMetaTypes();
}

GPlugin::~GPlugin()
{
    // The rest of the chain goes first, then our own members.
    GPlugin* s = successor;
    successor = nullptr;
    if (s) {
        s->predecessor = nullptr;
        delete s;
    }
    if (predecessor && predecessor->successor == this)
        predecessor->successor = nullptr;
}

QWidget* GPlugin::getWidget()
{
    return nullptr;
}

int GPlugin::getStretch()
{
    return getWidget() ? 1 : 0;
}

QString GPlugin::getToolTip(const QPoint&) const
{
    return QString();
}

void GPlugin::setOption(QString, QString) {}

void GPlugin::init()
{
    if (successor)
        successor->init();
}

#define ORVIK_FORWARD(setter, Type)                                                                                    \
    void GPlugin::setter(Type value)                                                                                   \
    {                                                                                                                  \
        if (successor)                                                                                                 \
            successor->setter(value);                                                                                  \
    }

ORVIK_FORWARD(setDataOrder, GPlugin::DataOrder)
ORVIK_FORWARD(setDataEncoding, GPlugin::DataEncoding)
ORVIK_FORWARD(setDataBinning, int)
ORVIK_FORWARD(setDataRangeX, int)
ORVIK_FORWARD(setDataRangeY, int)
ORVIK_FORWARD(setDataRangeZ, int)
ORVIK_FORWARD(setDataOffsetX, int)
ORVIK_FORWARD(setDataOffsetY, int)
ORVIK_FORWARD(setDataOffsetZ, int)
ORVIK_FORWARD(setDataOffsetVal, int)
ORVIK_FORWARD(setDataPhysX, int)
ORVIK_FORWARD(setDataPhysY, int)
ORVIK_FORWARD(setDataPhysZ, int)
ORVIK_FORWARD(setDataPhysVal, int)
ORVIK_FORWARD(setDataPhysValNumerator, int)
ORVIK_FORWARD(setDataTrigger, GPlugin::DataTrigger)
ORVIK_FORWARD(setDataRotation, int)
ORVIK_FORWARD(setDataUnitX, int)
ORVIK_FORWARD(setDataUnitZ, int)
ORVIK_FORWARD(setDataUnitVal, int)
ORVIK_FORWARD(setFixXY, bool)
ORVIK_FORWARD(setDataScanSpeed, int)
#undef ORVIK_FORWARD

void GPlugin::setData(const int* data, int count, int index)
{
    if (successor)
        successor->setData(data, count, index);
}

void GPlugin::setDataOdd(const int* data, int count, int index)
{
    if (successor)
        successor->setDataOdd(data, count, index);
}

SnapshotMgr* GPlugin::getSnapshotManager() const
{
    return nullptr;
}

void GPlugin::setDialEvent(int, int) {}

QList<QPair<QString, QString>> GPlugin::recipeOptions() const
{
    return givenOptions;
}

QVariantMap GPlugin::displayState() const
{
    return QVariantMap();
}

void GPlugin::applyDisplayState(const QVariantMap&) {}

void GPlugin::setHighlighted(bool on)
{
    if (QWidget* w = getWidget())
        qth_setWidgetColor(w, on ? QColor(180, 100, 100) : QColor(), false);
}

void GPlugin::checkForPartner(QString, GPlugin*) {}

QMenu* GPlugin::getForeignMenu() const
{
    return nullptr;
}

void GPlugin::updateCondition(int) {}

void GPlugin::attachWidget(bool attach)
{
    emit this->attach(attach, this);
}

void GPlugin::setSuccessor(GPlugin* s)
{
    if (!s) {
        qCWarning(lcFramework) << "setSuccessor: null successor ignored on" << name;
        return;
    }
    successor = s;
    s->predecessor = this;
}

void GPlugin::sendEventToPeers(QString key, QString value, bool upstream)
{
    for (GPlugin* p = this; p; p = upstream ? p->predecessor : p->successor)
        p->setOption(key, value);
}

void GPlugin::setPrefs(const PrefData* prefs)
{
    if (prefs)
        _prefs = prefs;
}

void GPlugin::setOptions(const QStringList& keys, const QStringList& values)
{
    for (int k = 0; k < keys.size(); ++k)
        setOption(keys.at(k), k < values.size() ? values.at(k) : QString());
}
