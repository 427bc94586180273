#include "snapshot/viewrecipe.h"

#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "framework/gplugin.h"
#include "snapshot/snapshotrequester.h"
#include "utilif/framebuffer.h"
#include "utilif/wholefile.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonDocument>
#include <QJsonParseError>
#include <QMutex>

#ifndef ORVIK_LIBRARY_VERSION
#define ORVIK_LIBRARY_VERSION "unknown"
#endif

const char* const ViewRecipe::formatName = "Orvik view recipe";

namespace {

QMutex serverMutex;
QString serverAddress; // guarded by serverMutex

/// What a store was asked for, in the words of the page's buttons.
QString storeKind(const SnapshotMgr::ActionDescriptor& d)
{
    if (!d.requester || !SnapshotRequester::_objectList.contains(d.requester) || d.requester->isGlobal())
        return QStringLiteral("global");
    if (d.action == SnapshotMgr::actStoreAlways || d.action == SnapshotMgr::actArmAlways)
        return QStringLiteral("always");
    if (d.trigger == SnapshotMgr::trgImmediate)
        return QStringLiteral("now");
    return QStringLiteral("next");
}

/// The manager at the root of the chain of `mgr` (the channel's, for a display fed by a channel).
const SnapshotMgr* rootOf(const SnapshotMgr* mgr)
{
    while (mgr->getInput())
        mgr = mgr->getInput();
    return mgr;
}

QString fail(QString* error, const QString& text)
{
    if (error)
        *error = text;
    return QString();
}

/// The base name as the set's files got it: when their names were taken, the scheme numbered them
/// ("tag_001[2]-name.csv"), and the recipe takes the same number so that it sorts with its set.
QString numberedBase(const QString& baseName, const QStringList& files)
{
    if (files.isEmpty())
        return baseName;
    const QString path = QFileInfo(QDir::fromNativeSeparators(baseName)).absoluteFilePath();
    const QString first = QFileInfo(QDir::fromNativeSeparators(files.first())).absoluteFilePath();
    const int dirEnd = path.lastIndexOf(QLatin1Char('/')) + 1;
    int insertAt = path.indexOf(QLatin1Char('-'), dirEnd);
    if (insertAt < 0)
        insertAt = path.size();
    for (int n = 1; n < 1000; ++n) {
        QString candidate = path;
        candidate.insert(insertAt, QStringLiteral("[%1]").arg(n));
        if (first.startsWith(candidate) &&
            (first.size() == candidate.size() || first.at(candidate.size()) == QLatin1Char('.') ||
             first.at(candidate.size()) == QLatin1Char('-')))
            return QDir::toNativeSeparators(candidate);
    }
    return baseName;
}

} // namespace

void ViewRecipe::setServer(const QString& address)
{
    QMutexLocker lock(&serverMutex);
    serverAddress = address;
}

QString ViewRecipe::server()
{
    QMutexLocker lock(&serverMutex);
    return serverAddress;
}

QString ViewRecipe::programVersion()
{
    return QStringLiteral(ORVIK_LIBRARY_VERSION);
}

QString ViewRecipe::propertyName(StreamFormat::Property p)
{
    QString name = QString::fromLatin1(StreamFormat::info(p).setter);
    if (name.startsWith(QLatin1String("setData")))
        return name.mid(7);
    if (name.startsWith(QLatin1String("set")))
        return name.mid(3);
    return name;
}

QJsonObject ViewRecipe::describeFormat(const StreamFormat& format)
{
    QJsonObject o;
    for (int i = 0; i < StreamFormat::PropertyCount; ++i) {
        const auto p = StreamFormat::Property(i);
        // A channel keeps the data group of its metadata in the trigger slot: the trigger is recorded apart.
        if (!format.isSet(p) || p == StreamFormat::Trigger)
            continue;
        o.insert(propertyName(p), format.value(p));
        if (p == StreamFormat::UnitX || p == StreamFormat::UnitZ || p == StreamFormat::UnitVal)
            o.insert(propertyName(p) + QStringLiteral("Text"), GPlugin::printUnit(format.value(p)));
    }
    return o;
}

QJsonArray ViewRecipe::describeChain(const GPlugin* head)
{
    QJsonArray chain;
    for (const GPlugin* p = head; p; p = p->getSuccessor()) {
        QJsonObject entry;
        entry.insert(QStringLiteral("type"), p->getDescriptor() ? p->getDescriptor()->name : QString());
        entry.insert(QStringLiteral("name"), p->getName());
        QJsonArray options;
        for (const auto& kv : p->recipeOptions())
            options.append(QJsonArray{kv.first, kv.second});
        entry.insert(QStringLiteral("options"), options);
        const QVariantMap state = p->displayState();
        if (!state.isEmpty())
            entry.insert(QStringLiteral("display"), QJsonObject::fromVariantMap(state));
        chain.append(entry);
    }
    return chain;
}

QJsonObject ViewRecipe::describe(const SnapshotMgr* mgr, const SnapshotMgr::ActionDescriptor& d)
{
    QJsonObject o;
    o.insert(QStringLiteral("format"), QString::fromLatin1(formatName));
    o.insert(QStringLiteral("formatVersion"), formatVersion);
    o.insert(QStringLiteral("created"), QDateTime::currentDateTimeUtc().toString(Qt::ISODateWithMs));
    o.insert(QStringLiteral("programVersion"), programVersion());
    o.insert(QStringLiteral("server"), server());

    const ViewPage* page = mgr->getDisplay();
    if (!page && d.requester && SnapshotRequester::_objectList.contains(d.requester))
        page = d.requester->getPage();
    const int channelNo = mgr->getInputChannel();
    o.insert(QStringLiteral("channel"), channelNo);
    const SnapshotMgr* root = rootOf(mgr);
    o.insert(QStringLiteral("channelName"), root->getName());
    o.insert(QStringLiteral("dataGroup"), mgr->getDataGroup());
    o.insert(QStringLiteral("store"), storeKind(d));
    o.insert(QStringLiteral("tag"), d.tag);
    o.insert(QStringLiteral("sequence"), d.sequence);
    o.insert(QStringLiteral("snapshotName"), d.fullName);
    o.insert(QStringLiteral("types"), d.types);

    // The format as the channel received it; the trigger is the one its data group delivers.
    QJsonObject format;
    if (const auto* channel = dynamic_cast<const Channel*>(root->getProvider()))
        if (channel->getFrameBuffer())
            format = describeFormat(channel->getFrameBuffer()->format());
    if (page)
        if (const DataGroup* group = page->findDataGroup(false))
            format.insert(QStringLiteral("Trigger"), group->trigger);
    o.insert(QStringLiteral("streamFormat"), format);

    QString source = QStringLiteral("channel");
    if (const auto* plugin = dynamic_cast<const GPlugin*>(mgr->getProvider()))
        source = plugin->getName();
    o.insert(QStringLiteral("source"), source);
    if (page) {
        QJsonObject p;
        p.insert(QStringLiteral("name"), page->getName());
        p.insert(QStringLiteral("channel"), page->getChannelNo());
        p.insert(QStringLiteral("chain"), describeChain(page->getReceiver()));
        o.insert(QStringLiteral("page"), p);
    } else {
        o.insert(QStringLiteral("page"), QJsonValue());
    }
    return o;
}

bool ViewRecipe::write(const QString& baseName, QJsonObject recipe, const QStringList& files, QString* fileName,
                       QString* error)
{
    QJsonArray names;
    for (const QString& f : files)
        names.append(QFileInfo(QDir::fromNativeSeparators(f)).fileName());
    recipe.insert(QStringLiteral("files"), names);
    const QString name = SnapshotMgr::reserveFilename(numberedBase(baseName, files), QStringLiteral("json"), QString());
    if (name.isEmpty()) {
        // Every numbered name is taken: the message names the plain one.
        fail(error, QStringLiteral("Failed to write recipe to ") +
                        QDir::toNativeSeparators(QFileInfo(baseName + QStringLiteral(".json")).absoluteFilePath()));
        return false;
    }
    WholeFile file(name);
    bool ok = file.open(QIODevice::WriteOnly);
    if (ok) {
        file.write(QJsonDocument(recipe).toJson(QJsonDocument::Indented));
        ok = file.commit();
    }
    SnapshotMgr::releaseFilename(name);
    if (!ok) {
        fail(error, QStringLiteral("Failed to write recipe to ") + name);
        return false;
    }
    if (fileName)
        *fileName = name;
    return true;
}

bool ViewRecipe::read(const QString& fileName, QJsonObject* recipe, QString* error)
{
    QFile file(fileName);
    // A recipe is a small text; anything far larger is not one.
    constexpr qint64 maxSize = 16 * 1024 * 1024;
    if (!file.open(QIODevice::ReadOnly)) {
        fail(error, QStringLiteral("%1: cannot be read: %2").arg(fileName, file.errorString()));
        return false;
    }
    if (file.size() > maxSize) {
        fail(error, QStringLiteral("%1: too large for a recipe").arg(fileName));
        return false;
    }
    QJsonParseError pe;
    const QJsonDocument doc = QJsonDocument::fromJson(file.readAll(), &pe);
    if (pe.error != QJsonParseError::NoError) {
        fail(error, QStringLiteral("%1: offset %2: %3").arg(fileName).arg(pe.offset).arg(pe.errorString()));
        return false;
    }
    const QJsonObject o = doc.object();
    if (!doc.isObject() || o.value(QStringLiteral("format")).toString() != QLatin1String(formatName)) {
        fail(error, QStringLiteral("%1: not a view recipe").arg(fileName));
        return false;
    }
    const struct
    {
        const char* key;
        QJsonValue::Type type;
    } required[] = {{"formatVersion", QJsonValue::Double},  {"created", QJsonValue::String},
                    {"programVersion", QJsonValue::String}, {"channel", QJsonValue::Double},
                    {"dataGroup", QJsonValue::Double},      {"store", QJsonValue::String},
                    {"streamFormat", QJsonValue::Object},   {"files", QJsonValue::Array}};
    for (const auto& r : required) {
        if (o.value(QLatin1String(r.key)).type() != r.type) {
            fail(error, QStringLiteral("%1: the field \"%2\" is missing or of the wrong type")
                            .arg(fileName, QLatin1String(r.key)));
            return false;
        }
    }
    if (recipe)
        *recipe = o;
    return true;
}

bool ViewRecipe::pageOf(const QJsonObject& recipe, Page* page, QString* error)
{
    const QJsonValue pv = recipe.value(QStringLiteral("page"));
    if (!pv.isObject()) {
        fail(error, QStringLiteral("the recipe has no page (it was stored by the global snapshot buttons)"));
        return false;
    }
    const QJsonObject p = pv.toObject();
    Page result;
    result.name = p.value(QStringLiteral("name")).toString();
    result.channel = p.value(QStringLiteral("channel")).toInt(recipe.value(QStringLiteral("channel")).toInt(-1));
    result.dataGroup = recipe.value(QStringLiteral("dataGroup")).toInt(-1);
    const QJsonValue cv = p.value(QStringLiteral("chain"));
    if (!cv.isArray()) {
        fail(error, QStringLiteral("page.chain: expected a list of plug-ins"));
        return false;
    }
    const QJsonArray chain = cv.toArray();
    for (int i = 0; i < chain.size(); ++i) {
        const QJsonObject e = chain.at(i).toObject();
        Plugin plugin;
        plugin.type = e.value(QStringLiteral("type")).toString();
        plugin.name = e.value(QStringLiteral("name")).toString();
        if (!chain.at(i).isObject() || plugin.type.isEmpty()) {
            fail(error, QStringLiteral("page.chain[%1]: expected an object with a \"type\"").arg(i));
            return false;
        }
        const QJsonArray options = e.value(QStringLiteral("options")).toArray();
        for (int k = 0; k < options.size(); ++k) {
            const QJsonArray kv = options.at(k).toArray();
            if (kv.size() != 2 || !kv.at(0).isString() || !kv.at(1).isString()) {
                fail(error, QStringLiteral("page.chain[%1].options[%2]: expected [key, value]").arg(i).arg(k));
                return false;
            }
            plugin.keys.append(kv.at(0).toString());
            plugin.values.append(kv.at(1).toString());
        }
        plugin.display = e.value(QStringLiteral("display")).toObject().toVariantMap();
        result.chain.append(plugin);
    }
    if (page)
        *page = result;
    return true;
}

int ViewRecipe::applyDisplayStates(ViewPage* page, const Page& recipe)
{
    int applied = 0;
    int k = 0;
    for (GPlugin* p = page ? page->getReceiver() : nullptr; p && k < recipe.chain.size(); p = p->getSuccessor(), ++k) {
        if (recipe.chain.at(k).display.isEmpty())
            continue;
        p->applyDisplayState(recipe.chain.at(k).display);
        ++applied;
    }
    return applied;
}
