#include "routing/forkplugin.h"

#include "framework/logging.h"
#include "routing/unionplugin.h"

#include <QTimer>

const GPlugin::PluginDescriptor
    ForkPlugin::_descriptor(QStringLiteral("Fork"), QStringLiteral("Send a copy of the data stream to a union plugin."),
                            0x1108, forkFactory);

GPlugin* forkFactory(QWidget* parent, QString name)
{
    return new ForkPlugin(parent, std::move(name));
}

ForkPlugin::ForkPlugin(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor) {}

ForkPlugin::~ForkPlugin()
{
    if (partner)
        partner->releasePartner(this);
}

void ForkPlugin::scheduleSearch()
{
    // The page connects our signals only after the options are set, so the search waits for the event loop. A
    // union that exists answers by pairing us; a union made later announces itself.
    if (searchPending)
        return;
    searchPending = true;
    QTimer::singleShot(0, this, [this] {
        searchPending = false;
        if (!partner && !target.isEmpty() && wanted != 0)
            emit searchPartner(target, this);
    });
}

void ForkPlugin::setOption(QString key, QString value)
{
    const QString k = key.toLower();
    if (k == QLatin1String("target")) {
        const QString t = value.trimmed();
        if (t == target)
            return;
        if (partner)
            partner->releasePartner(this);
        target = t;
        scheduleSearch();
    } else if (k == QLatin1String("index")) {
        bool ok = false;
        const int n = value.trimmed().toInt(&ok, 0);
        if (!ok)
            return;
        int w = -1;
        if (n >= 0 && n <= 6) {
            w = n + 1;
        } else if (n != -1) {
            // The union has inputs 1 to 7 for forks; a fork asked for another one feeds nothing rather than an
            // input the user did not choose.
            w = 0;
            emit statusChanged(
                QStringLiteral("Fork %1: index %2 is outside 0 to 6; the fork stays unpaired.").arg(name).arg(n), -1,
                2);
        }
        if (w == wanted)
            return;
        if (partner)
            partner->releasePartner(this);
        wanted = w;
        scheduleSearch();
    }
}

void ForkPlugin::checkForPartner(QString partnerName, GPlugin* ptr)
{
    auto* u = qobject_cast<UnionPlugin*>(ptr);
    if (!u || partner || target.isEmpty() || partnerName != target || wanted == 0)
        return;
    const int n = u->setPartner(this, wanted);
    if (n < 0) {
        emit statusChanged(
            wanted > 0
                ? QStringLiteral("Fork %1: input %2 of union %3 is taken; the fork stays unpaired.")
                      .arg(name)
                      .arg(wanted)
                      .arg(target)
                : QStringLiteral("Fork %1: union %2 has no free input; the fork stays unpaired.").arg(name, target),
            -1, 2);
        return;
    }
    // assignInput has stored the pairing; the page replays the last frame so that the union has data at once.
    emit requestLastFrame();
}

void ForkPlugin::assignInput(UnionPlugin* u, int n)
{
    if (n <= 0) {
        partner = nullptr;
        input = -1;
        return;
    }
    partner = u;
    input = n;
    // What we have seen so far describes the stream; the union needs it before the data.
    for (int p = 0; p < StreamFormat::PropertyCount; ++p) {
        if (format.isSet(StreamFormat::Property(p)))
            u->setInputProperty(n, StreamFormat::Property(p), format.value(StreamFormat::Property(p)));
    }
}

void ForkPlugin::property(StreamFormat::Property p, int value)
{
    format.set(p, value);
    if (partner)
        partner->setInputProperty(input, p, value);
}

void ForkPlugin::init()
{
    if (partner)
        partner->initInput(input);
    GPlugin::init();
}

#define ORVIK_FORK_SETTER(setter, Type, prop)                                                                          \
    void ForkPlugin::setter(Type v)                                                                                    \
    {                                                                                                                  \
        property(StreamFormat::prop, int(v));                                                                          \
        GPlugin::setter(v);                                                                                            \
    }

ORVIK_FORK_SETTER(setDataOrder, GPlugin::DataOrder, Order)
ORVIK_FORK_SETTER(setDataEncoding, GPlugin::DataEncoding, Encoding)
ORVIK_FORK_SETTER(setDataBinning, int, Binning)
ORVIK_FORK_SETTER(setDataRangeX, int, RangeX)
ORVIK_FORK_SETTER(setDataRangeY, int, RangeY)
ORVIK_FORK_SETTER(setDataRangeZ, int, RangeZ)
ORVIK_FORK_SETTER(setDataOffsetX, int, OffsetX)
ORVIK_FORK_SETTER(setDataOffsetY, int, OffsetY)
ORVIK_FORK_SETTER(setDataOffsetZ, int, OffsetZ)
ORVIK_FORK_SETTER(setDataOffsetVal, int, OffsetVal)
ORVIK_FORK_SETTER(setDataPhysX, int, PhysX)
ORVIK_FORK_SETTER(setDataPhysY, int, PhysY)
ORVIK_FORK_SETTER(setDataPhysZ, int, PhysZ)
ORVIK_FORK_SETTER(setDataPhysVal, int, PhysVal)
ORVIK_FORK_SETTER(setDataPhysValNumerator, int, PhysValNumerator)
ORVIK_FORK_SETTER(setDataTrigger, GPlugin::DataTrigger, Trigger)
ORVIK_FORK_SETTER(setDataRotation, int, Rotation)
ORVIK_FORK_SETTER(setDataUnitX, int, UnitX)
ORVIK_FORK_SETTER(setDataUnitZ, int, UnitZ)
ORVIK_FORK_SETTER(setDataUnitVal, int, UnitVal)
ORVIK_FORK_SETTER(setFixXY, bool, FixXY)
ORVIK_FORK_SETTER(setDataScanSpeed, int, ScanSpeed)
#undef ORVIK_FORK_SETTER

void ForkPlugin::setData(const int* data, int count, int index)
{
    if (partner)
        partner->setData(input, data, count, index);
    GPlugin::setData(data, count, index);
}
