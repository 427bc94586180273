#include "layoutfile.h"

#include "framework/gplugin.h"
#include "snapshot/viewrecipe.h"

#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonParseError>
#include <QLocale>
#include <QSet>

#include <cmath>

namespace {

// A number for a message as the user wrote it: integers in full ("2147483647", never "2.14748e+09"), other values
// in their shortest exact form.
QString numberText(double d)
{
    if (d == std::floor(d) && std::fabs(d) < 9.0e15)
        return QString::number(qint64(d));
    return QString::number(d, 'g', QLocale::FloatingPointShortest);
}

// Reads one JSON document into a layout, keeping the place of the value being read for the messages.
class Reader
{
public:
    explicit Reader(QString source) : source(std::move(source)) {}

    QString error;

    bool fail(const QString& place, const QString& what)
    {
        error = place.isEmpty() ? QStringLiteral("%1: %2").arg(source, what)
                                : QStringLiteral("%1: %2: %3").arg(source, place, what);
        return false;
    }

    static QString member(const QString& place, const QString& key)
    {
        return place.isEmpty() ? key : place + QLatin1Char('.') + key;
    }
    static QString element(const QString& place, int index) { return QStringLiteral("%1[%2]").arg(place).arg(index); }

    static QString typeName(const QJsonValue& v)
    {
        switch (v.type()) {
        case QJsonValue::Null:
            return QStringLiteral("null");
        case QJsonValue::Bool:
            return QStringLiteral("a boolean");
        case QJsonValue::Double:
            return QStringLiteral("a number");
        case QJsonValue::String:
            return QStringLiteral("a string");
        case QJsonValue::Array:
            return QStringLiteral("an array");
        case QJsonValue::Object:
            return QStringLiteral("an object");
        default:
            return QStringLiteral("undefined");
        }
    }

    // Unknown keys are refused so that a misspelt key does not silently fall back to a default.
    bool checkKeys(const QJsonObject& obj, const QString& place, const QStringList& allowed)
    {
        for (auto it = obj.begin(); it != obj.end(); ++it) {
            if (!allowed.contains(it.key()))
                return fail(member(place, it.key()),
                            QStringLiteral("unknown key (allowed here: %1)").arg(allowed.join(QStringLiteral(", "))));
        }
        return true;
    }

    // A member of the given JSON type; a missing optional member leaves `*out` as it is.
    bool readValue(const QJsonObject& obj, const QString& place, const QString& key, QJsonValue::Type type,
                   QJsonValue* out, bool required)
    {
        static const QMap<QJsonValue::Type, QString> names = {{QJsonValue::Object, QStringLiteral("an object")},
                                                              {QJsonValue::Array, QStringLiteral("an array")},
                                                              {QJsonValue::String, QStringLiteral("a string")}};
        const QJsonValue v = obj.value(key);
        if (v.isUndefined())
            return required ? fail(member(place, key), QStringLiteral("missing (%1 is required)").arg(names[type]))
                            : true;
        if (v.type() != type)
            return fail(member(place, key), QStringLiteral("expected %1, found %2").arg(names[type], typeName(v)));
        *out = v;
        return true;
    }

    bool readObject(const QJsonObject& obj, const QString& place, const QString& key, QJsonObject* out, bool required)
    {
        QJsonValue v = QJsonObject();
        const bool ok = readValue(obj, place, key, QJsonValue::Object, &v, required);
        *out = v.toObject();
        return ok;
    }

    bool readArray(const QJsonObject& obj, const QString& place, const QString& key, QJsonArray* out, bool required)
    {
        QJsonValue v = QJsonArray();
        const bool ok = readValue(obj, place, key, QJsonValue::Array, &v, required);
        *out = v.toArray();
        return ok;
    }

    bool readString(const QJsonObject& obj, const QString& place, const QString& key, QString* out, bool required)
    {
        QJsonValue v = *out;
        const bool ok = readValue(obj, place, key, QJsonValue::String, &v, required);
        *out = v.toString();
        return ok;
    }

    bool readBool(const QJsonObject& obj, const QString& place, const QString& key, bool* out)
    {
        const QJsonValue v = obj.value(key);
        if (v.isUndefined())
            return true;
        if (!v.isBool())
            return fail(member(place, key), QStringLiteral("expected true or false, found %1").arg(typeName(v)));
        *out = v.toBool();
        return true;
    }

    bool toInt(const QJsonValue& v, const QString& place, int min, int max, int* out)
    {
        if (!v.isDouble())
            return fail(place, QStringLiteral("expected an integer, found %1").arg(typeName(v)));
        const double d = v.toDouble();
        if (d != std::floor(d))
            return fail(place, QStringLiteral("expected an integer, found %1").arg(numberText(d)));
        if (d < min || d > max)
            return fail(place, QStringLiteral("%1 is out of range (%2 to %3)").arg(numberText(d)).arg(min).arg(max));
        *out = int(d);
        return true;
    }

    bool readInt(const QJsonObject& obj, const QString& place, const QString& key, int min, int max, int* out,
                 bool required = false)
    {
        const QJsonValue v = obj.value(key);
        if (v.isUndefined())
            return required ? fail(member(place, key), QStringLiteral("missing (an integer is required)")) : true;
        return toInt(v, member(place, key), min, max, out);
    }

    // An integer, or one of the given names (whose index is the value).
    bool readEnum(const QJsonObject& obj, const QString& place, const QString& key, const QStringList& names, int max,
                  int* out)
    {
        const QJsonValue v = obj.value(key);
        if (v.isString()) {
            const int index = names.indexOf(v.toString());
            if (index < 0)
                return fail(member(place, key),
                            QStringLiteral("unknown value \"%1\" (expected an integer or one of: %2)")
                                .arg(v.toString(), names.join(QStringLiteral(", "))));
            *out = index;
            return true;
        }
        return readInt(obj, place, key, 0, max, out);
    }

    // An option value: strings as they are, integers in decimal, booleans as 1 or 0.
    bool optionText(const QJsonValue& v, const QString& place, QString* out)
    {
        switch (v.type()) {
        case QJsonValue::String:
            *out = v.toString();
            return true;
        case QJsonValue::Bool:
            *out = v.toBool() ? QStringLiteral("1") : QStringLiteral("0");
            return true;
        case QJsonValue::Double: {
            const double d = v.toDouble();
            if (d == std::floor(d) && std::fabs(d) < 9.0e15)
                *out = QString::number(qint64(d));
            else
                *out = QString::number(d, 'g', 17);
            return true;
        }
        default:
            return fail(place, QStringLiteral("expected a string, number or boolean, found %1").arg(typeName(v)));
        }
    }

    bool readServer(const QJsonObject& root, ViewerLayout& l)
    {
        QJsonObject s;
        if (!readObject(root, QString(), QStringLiteral("server"), &s, false))
            return false;
        const QString place = QStringLiteral("server");
        if (!checkKeys(s, place, {QStringLiteral("host"), QStringLiteral("port"), QStringLiteral("lossless")}))
            return false;
        if (s.isEmpty())
            return true;
        if (!readString(s, place, QStringLiteral("host"), &l.host, true) ||
            !readInt(s, place, QStringLiteral("port"), 1, 65535, &l.port, true) ||
            !readBool(s, place, QStringLiteral("lossless"), &l.lossless))
            return false;
        if (l.host.trimmed().isEmpty())
            return fail(member(place, QStringLiteral("host")), QStringLiteral("must not be empty"));
        return true;
    }

    bool readChannels(const QJsonObject& root, ViewerLayout& l)
    {
        QJsonObject c;
        const QString place = QStringLiteral("channels");
        if (!readObject(root, QString(), place, &c, true) ||
            !checkKeys(c, place, {QStringLiteral("count"), QStringLiteral("unsubscribed")}) ||
            !readInt(c, place, QStringLiteral("count"), 1, LayoutFile::maxChannels, &l.channelCount, true) ||
            !readInt(c, place, QStringLiteral("unsubscribed"), 0, l.channelCount, &l.unsubscribed))
            return false;
        return true;
    }

    bool readGroups(const QJsonObject& root, ViewerLayout& l)
    {
        QJsonArray groups;
        if (!readArray(root, QString(), QStringLiteral("groups"), &groups, false))
            return false;
        static const QStringList triggers = {
            QStringLiteral("noTrigger"), QStringLiteral("scanner"), QStringLiteral("time"), QStringLiteral("spec0"),
            QStringLiteral("spec1"),     QStringLiteral("spec2"),   QStringLiteral("spec3")};
        static const QStringList boolKeys = {
            QStringLiteral("storeRaw"),          QStringLiteral("logContinuous"),
            QStringLiteral("storeLocalDefault"), QStringLiteral("storeRetriggerDefault"),
            QStringLiteral("anyPage"),           QStringLiteral("showSource"),
            QStringLiteral("showAverage"),       QStringLiteral("sampleTime"),
            QStringLiteral("disabled"),          QStringLiteral("showNumber"),
            QStringLiteral("showName"),          QStringLiteral("showSignal"),
            QStringLiteral("showGroup"),         QStringLiteral("inactive")};
        QStringList allowed = {QStringLiteral("number"),     QStringLiteral("label"),   QStringLiteral("description"),
                               QStringLiteral("name"),       QStringLiteral("tag"),     QStringLiteral("trigger"),
                               QStringLiteral("selectMode"), QStringLiteral("comment"), QStringLiteral("userData")};
        allowed += boolKeys;
        for (int i = 0; i < groups.size(); ++i) {
            const QString place = element(QStringLiteral("groups"), i);
            if (!groups.at(i).isObject())
                return fail(place, QStringLiteral("expected an object, found %1").arg(typeName(groups.at(i))));
            const QJsonObject g = groups.at(i).toObject();
            if (!checkKeys(g, place, allowed))
                return false;
            DataGroup d;
            if (!readInt(g, place, QStringLiteral("number"), 0, 1000000, &d.groupNumber, true))
                return false;
            if (l.groups.contains(d.groupNumber))
                return fail(member(place, QStringLiteral("number")),
                            QStringLiteral("group %1 is defined twice").arg(d.groupNumber));
            int trigger = d.trigger, selectMode = d.groupSelectMode;
            if (!readString(g, place, QStringLiteral("label"), &d.label, false) ||
                !readString(g, place, QStringLiteral("description"), &d.description, false) ||
                !readString(g, place, QStringLiteral("name"), &d.name, false) ||
                !readString(g, place, QStringLiteral("tag"), &d.tag, false) ||
                !readString(g, place, QStringLiteral("comment"), &d.comment, false) ||
                !readInt(g, place, QStringLiteral("userData"), INT_MIN, INT_MAX, &d.userData) ||
                !readEnum(g, place, QStringLiteral("trigger"), triggers, 255, &trigger) ||
                !readInt(g, place, QStringLiteral("selectMode"), 0, 255, &selectMode))
                return false;
            d.trigger = trigger;
            d.groupSelectMode = quint8(selectMode);
            bool* flags[] = {&d.storeRaw,  &d.logContinuous, &d.storeLocalDefault, &d.storeRetriggerDefault,
                             &d.anyPage,   &d.showSource,    &d.showAverage,       &d.sampleTime,
                             &d.disabled,  &d.showNumber,    &d.showName,          &d.showSignal,
                             &d.showGroup, &d.inactive};
            for (int k = 0; k < boolKeys.size(); ++k) {
                if (!readBool(g, place, boolKeys.at(k), flags[k]))
                    return false;
            }
            if (d.name.isEmpty())
                d.name = d.label.isEmpty() ? QStringLiteral("Group %1").arg(d.groupNumber) : d.label;
            if (d.tag.isEmpty())
                d.tag = d.name;
            l.groups.insert(d.groupNumber, d);
        }
        return true;
    }

    bool readSignals(const QJsonObject& root, ViewerLayout& l)
    {
        const QJsonValue v = root.value(QStringLiteral("signals"));
        if (v.isUndefined())
            return true;
        if (v.isString()) {
            l.signalList = v.toString();
            return true;
        }
        if (!v.isArray())
            return fail(QStringLiteral("signals"),
                        QStringLiteral("expected a string or an array of strings, found %1").arg(typeName(v)));
        QStringList lines;
        const QJsonArray a = v.toArray();
        for (int i = 0; i < a.size(); ++i) {
            if (!a.at(i).isString())
                return fail(element(QStringLiteral("signals"), i),
                            QStringLiteral("expected a string, found %1").arg(typeName(a.at(i))));
            lines << a.at(i).toString();
        }
        l.signalList = lines.join(QLatin1Char('\n'));
        return true;
    }

    bool readPreferences(const QJsonObject& root, ViewerLayout& l)
    {
        QJsonObject p;
        const QString place = QStringLiteral("preferences");
        if (!readObject(root, QString(), place, &p, false))
            return false;
        if (!checkKeys(p, place,
                       {QStringLiteral("snapshotDir"), QStringLiteral("graphicType"), QStringLiteral("ascMatrix"),
                        QStringLiteral("csvFlag"), QStringLiteral("detachOnTop"), QStringLiteral("layoutMargin"),
                        QStringLiteral("layoutSpacing"), QStringLiteral("backgroundStorage")}))
            return false;
        return readString(p, place, QStringLiteral("snapshotDir"), &l.prefs.snapshotDir, false) &&
               readString(p, place, QStringLiteral("graphicType"), &l.prefs.graphicType, false) &&
               readBool(p, place, QStringLiteral("ascMatrix"), &l.prefs.ascMatrix) &&
               readBool(p, place, QStringLiteral("csvFlag"), &l.prefs.csvFlag) &&
               readBool(p, place, QStringLiteral("detachOnTop"), &l.prefs.detachOnTop) &&
               readInt(p, place, QStringLiteral("layoutMargin"), 0, 100, &l.prefs.layoutMargin) &&
               readInt(p, place, QStringLiteral("layoutSpacing"), 0, 100, &l.prefs.layoutSpacing) &&
               readBool(p, place, QStringLiteral("backgroundStorage"), &l.prefs.backgroundStorage);
    }

    bool readWindow(const QJsonObject& root, ViewerLayout& l)
    {
        QJsonObject w;
        const QString place = QStringLiteral("window");
        if (!readObject(root, QString(), place, &w, false) ||
            !checkKeys(w, place, {QStringLiteral("title"), QStringLiteral("arrange"), QStringLiteral("columns")}) ||
            !readString(w, place, QStringLiteral("title"), &l.title, false) ||
            !readInt(w, place, QStringLiteral("columns"), 1, 16, &l.columns))
            return false;
        int arrange = l.tabs ? 1 : 0;
        if (!readEnum(w, place, QStringLiteral("arrange"), {QStringLiteral("grid"), QStringLiteral("tabs")}, 1,
                      &arrange))
            return false;
        l.tabs = arrange == 1;
        return true;
    }

    // The members of an object as key and value texts, in key order.
    bool readPairs(const QJsonObject& o, const QString& place, QStringList* keys, QStringList* values)
    {
        for (auto it = o.begin(); it != o.end(); ++it) {
            QString text;
            if (!optionText(it.value(), member(place, it.key()), &text))
                return false;
            *keys << it.key();
            *values << text;
        }
        return true;
    }

    bool readSettings(const QJsonValue& v, const QString& place, ChainEntry& e)
    {
        if (v.isUndefined())
            return true;
        if (!v.isObject())
            return fail(place, QStringLiteral("expected an object, found %1").arg(typeName(v)));
        return readPairs(v.toObject(), place, &e.settingKeys, &e.settingValues);
    }

    bool readOptions(const QJsonValue& v, const QString& place, ChainEntry& e)
    {
        if (v.isUndefined())
            return true;
        // Object members come in key order; a list of pairs keeps the order as written.
        if (v.isObject())
            return readPairs(v.toObject(), place, &e.keys, &e.values);
        if (!v.isArray())
            return fail(
                place,
                QStringLiteral("expected an object or an array of [key, value] pairs, found %1").arg(typeName(v)));
        const QJsonArray a = v.toArray();
        for (int i = 0; i < a.size(); ++i) {
            const QString at = element(place, i);
            const QJsonArray pair = a.at(i).toArray();
            if (!a.at(i).isArray() || pair.size() != 2 || !pair.at(0).isString())
                return fail(at, QStringLiteral("expected a [key, value] pair with a string key"));
            QString text;
            if (!optionText(pair.at(1), at, &text))
                return false;
            e.keys << pair.at(0).toString();
            e.values << text;
        }
        return true;
    }

    bool readPage(const QJsonValue& value, const QString& place, const ViewerLayout& l, const QStringList& types,
                  PageLayout& p)
    {
        if (!value.isObject())
            return fail(place, QStringLiteral("expected an object, found %1").arg(typeName(value)));
        const QJsonObject o = value.toObject();
        if (!checkKeys(o, place,
                       {QStringLiteral("name"), QStringLiteral("channel"), QStringLiteral("group"),
                        QStringLiteral("leftAligned"), QStringLiteral("selectMode"), QStringLiteral("controls"),
                        QStringLiteral("chain")}))
            return false;
        if (!readString(o, place, QStringLiteral("name"), &p.name, true))
            return false;
        if (p.name.trimmed().isEmpty())
            return fail(member(place, QStringLiteral("name")), QStringLiteral("must not be empty"));
        if (!readInt(o, place, QStringLiteral("channel"), -1, l.channelCount - 1, &p.channel) ||
            !readInt(o, place, QStringLiteral("group"), -1, 1000000, &p.group) ||
            !readBool(o, place, QStringLiteral("leftAligned"), &p.leftAligned) ||
            !readEnum(
                o, place, QStringLiteral("selectMode"),
                {QStringLiteral("none"), QStringLiteral("group"), QStringLiteral("all"), QStringLiteral("byGroup")},
                255, &p.selectMode))
            return false;
        if (p.group >= 0 && !l.groups.contains(p.group))
            return fail(member(place, QStringLiteral("group")),
                        QStringLiteral("group %1 is not defined in \"groups\"").arg(p.group));
        QJsonObject controls;
        const QString cplace = member(place, QStringLiteral("controls"));
        if (!readObject(o, place, QStringLiteral("controls"), &controls, false) ||
            !checkKeys(controls, cplace,
                       {QStringLiteral("source"), QStringLiteral("sampleTime"), QStringLiteral("average"),
                        QStringLiteral("snapshotButtons")}) ||
            !readBool(controls, cplace, QStringLiteral("source"), &p.showSource) ||
            !readBool(controls, cplace, QStringLiteral("sampleTime"), &p.showSampleTime) ||
            !readBool(controls, cplace, QStringLiteral("average"), &p.showAverage) ||
            !readBool(controls, cplace, QStringLiteral("snapshotButtons"), &p.snapshotButtons))
            return false;

        QJsonArray chain;
        const QString chplace = member(place, QStringLiteral("chain"));
        if (!readArray(o, place, QStringLiteral("chain"), &chain, true))
            return false;
        if (chain.isEmpty())
            return fail(chplace, QStringLiteral("a page needs at least one plug-in"));
        for (int i = 0; i < chain.size(); ++i) {
            const QString at = element(chplace, i);
            if (!chain.at(i).isObject())
                return fail(at, QStringLiteral("expected an object, found %1").arg(typeName(chain.at(i))));
            const QJsonObject c = chain.at(i).toObject();
            if (!checkKeys(c, at,
                           {QStringLiteral("type"), QStringLiteral("name"), QStringLiteral("options"),
                            QStringLiteral("settings")}))
                return false;
            ChainEntry e;
            if (!readString(c, at, QStringLiteral("type"), &e.type, true) ||
                !readString(c, at, QStringLiteral("name"), &e.name, false) ||
                !readOptions(c.value(QStringLiteral("options")), member(at, QStringLiteral("options")), e) ||
                !readSettings(c.value(QStringLiteral("settings")), member(at, QStringLiteral("settings")), e))
                return false;
            if (!types.contains(e.type))
                return fail(member(at, QStringLiteral("type")),
                            QStringLiteral("unknown plug-in type \"%1\" (known types: %2)")
                                .arg(e.type, types.join(QStringLiteral(", "))));
            // Instance names key the persisted settings of the plug-in: make them unique per page by default.
            if (e.name.isEmpty())
                e.name = QStringLiteral("%1_%2").arg(p.name).arg(i);
            p.chain << e;
        }
        return true;
    }

    bool readPages(const QJsonObject& root, ViewerLayout& l)
    {
        QJsonArray pages;
        if (!readArray(root, QString(), QStringLiteral("pages"), &pages, true))
            return false;
        if (pages.isEmpty())
            return fail(QStringLiteral("pages"), QStringLiteral("the layout has no pages"));
        if (pages.size() > LayoutFile::maxPages)
            return fail(QStringLiteral("pages"), QStringLiteral("%1 pages are more than the %2 a layout may have")
                                                     .arg(pages.size())
                                                     .arg(LayoutFile::maxPages));
        const QStringList types = LayoutFile::knownTypes();
        QSet<QString> names;
        for (int i = 0; i < pages.size(); ++i) {
            PageLayout p;
            const QString place = element(QStringLiteral("pages"), i);
            if (!readPage(pages.at(i), place, l, types, p))
                return false;
            // The page name keys its persisted channel choice.
            if (names.contains(p.name))
                return fail(member(place, QStringLiteral("name")),
                            QStringLiteral("page name \"%1\" is used twice").arg(p.name));
            names.insert(p.name);
            l.pages << p;
        }
        return true;
    }

private:
    QString source;
};

// Line and column (both from 1) of a byte offset into the document. The parser reports the offset just past the
// character it stumbled on, so callers pass offset - 1.
QString lineColumn(const QByteArray& json, int offset)
{
    offset = qBound(0, offset, json.size());
    int line = 1, column = 1;
    for (int i = 0; i < offset; ++i) {
        if (json.at(i) == '\n') {
            ++line;
            column = 1;
        } else if ((json.at(i) & 0xC0) != 0x80) { // count characters, not UTF-8 continuation bytes
            ++column;
        }
    }
    return QStringLiteral("%1:%2").arg(line).arg(column);
}

} // namespace

bool LayoutFile::parse(const QByteArray& json, const QString& source, ViewerLayout* layout, QString* error)
{
    QJsonParseError perr;
    const QJsonDocument doc = QJsonDocument::fromJson(json, &perr);
    if (perr.error != QJsonParseError::NoError) {
        if (error)
            *error = QStringLiteral("%1:%2: JSON syntax error: %3")
                         .arg(source, lineColumn(json, perr.offset - 1), perr.errorString());
        return false;
    }
    Reader r(source);
    if (!doc.isObject()) {
        r.fail(QString(), QStringLiteral("the layout must be a JSON object"));
        if (error)
            *error = r.error;
        return false;
    }
    const QJsonObject root = doc.object();
    ViewerLayout l;
    const bool ok = r.checkKeys(root, QString(),
                                {QStringLiteral("server"), QStringLiteral("channels"), QStringLiteral("groups"),
                                 QStringLiteral("signals"), QStringLiteral("preferences"), QStringLiteral("window"),
                                 QStringLiteral("pages")}) &&
                    r.readServer(root, l) && r.readChannels(root, l) && r.readGroups(root, l) &&
                    r.readSignals(root, l) && r.readPreferences(root, l) && r.readWindow(root, l) &&
                    r.readPages(root, l);
    if (!ok) {
        if (error)
            *error = r.error;
        return false;
    }
    *layout = l;
    return true;
}

bool LayoutFile::load(const QString& path, ViewerLayout* layout, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly)) {
        if (error)
            *error = QStringLiteral("%1: cannot read the layout file: %2").arg(path, f.errorString());
        return false;
    }
    // A layout is a few kilobytes; refuse anything absurd rather than reading it all into memory.
    constexpr qint64 maxSize = 16 * 1024 * 1024;
    if (f.size() > maxSize) {
        if (error)
            *error = QStringLiteral("%1: the layout file is larger than 16 MiB").arg(path);
        return false;
    }
    return parse(f.readAll(), path, layout, error);
}

QStringList LayoutFile::knownTypes()
{
    QStringList names;
    if (!GPlugin::_typeList)
        return names;
    for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList) {
        if (d && !names.contains(d->name))
            names << d->name;
    }
    return names;
}

namespace {

QJsonObject plugin(const QString& type, const QString& name, const QList<QPair<QString, QString>>& options = {})
{
    QJsonObject p{{QStringLiteral("type"), type}, {QStringLiteral("name"), name}};
    if (!options.isEmpty()) {
        QJsonArray pairs;
        for (const auto& o : options)
            pairs.append(QJsonArray{o.first, o.second});
        p.insert(QStringLiteral("options"), pairs);
    }
    return p;
}

QJsonObject page(const QString& name, int channel, const QJsonArray& chain)
{
    // The selector lists every channel, so that the demo can be pointed at any stream.
    return QJsonObject{{QStringLiteral("name"), name},
                       {QStringLiteral("channel"), channel},
                       {QStringLiteral("selectMode"), QStringLiteral("all")},
                       {QStringLiteral("chain"), chain}};
}

QJsonObject group(int number, const QString& name, const QString& tag, const QString& trigger)
{
    return QJsonObject{{QStringLiteral("number"), number},   {QStringLiteral("name"), name},
                       {QStringLiteral("tag"), tag},         {QStringLiteral("trigger"), trigger},
                       {QStringLiteral("showNumber"), true}, {QStringLiteral("showName"), false},
                       {QStringLiteral("showSignal"), true}, {QStringLiteral("showGroup"), true}};
}

} // namespace

bool LayoutFile::applyRecipe(const QString& path, ViewerLayout* layout, QString* error)
{
    QJsonObject recipe;
    ViewRecipe::Page page;
    QString why;
    if (!ViewRecipe::read(path, &recipe, error))
        return false;
    if (!ViewRecipe::pageOf(recipe, &page, &why)) {
        *error = QStringLiteral("%1: %2").arg(path, why);
        return false;
    }
    const QStringList types = knownTypes();
    PageLayout p;
    p.name = page.name.isEmpty() ? QStringLiteral("Recipe") : page.name;
    if (page.channel >= layout->channelCount) {
        *error = QStringLiteral("%1: channel %2 of the recipe is not among the %3 channels of the layout")
                     .arg(path)
                     .arg(page.channel)
                     .arg(layout->channelCount);
        return false;
    }
    p.channel = page.channel;
    for (int i = 0; i < page.chain.size(); ++i) {
        const ViewRecipe::Plugin& r = page.chain.at(i);
        if (!types.contains(r.type)) {
            *error = QStringLiteral("%1: page.chain[%2]: unknown plug-in type \"%3\"").arg(path).arg(i).arg(r.type);
            return false;
        }
        ChainEntry e;
        e.type = r.type;
        e.name = r.name.isEmpty() ? QStringLiteral("%1.%2").arg(p.name).arg(i) : r.name;
        e.keys = r.keys;
        e.values = r.values;
        e.display = r.display;
        p.chain << e;
    }
    layout->pages = {p};
    if (layout->title.isEmpty())
        layout->title = QFileInfo(path).fileName();
    return true;
}

QByteArray LayoutFile::demoLayout()
{
    // The embedded simulator's channels: 0 a forward/backward scan, 1 a noisy sine, 2 cyclic lines, 3 time tags,
    // 4 and 5 the two sines of a Lissajous figure, 6 3D hits.
    const QStringList types = knownTypes();
    auto has = [&types](const char* t) { return types.contains(QLatin1String(t)); };
    QJsonArray pages;
    if (has("Frame Display")) {
        QJsonObject scan = plugin(QStringLiteral("Frame Display"), QStringLiteral("DemoScan"));
        scan.insert(QStringLiteral("settings"), QJsonObject{{QStringLiteral("ColorCoding"), QStringLiteral("viridis")},
                                                            {QStringLiteral("Magnification"), 2}});
        pages.append(page(QStringLiteral("Scan"), 0, {scan}));
    }
    // Stream routing, near the top so that the first screen shows it: a fork sends the channel of one page to a union
    // on another, which plots one sine against the other as a Lissajous figure. Both sines repeat every 1000 words,
    // so pairing by index closes the curve.
    if (has("Fork") && has("Union") && has("Parametric Display")) {
        QJsonArray forkChain{plugin(QStringLiteral("Fork"), QStringLiteral("DemoFork"),
                                    {{QStringLiteral("target"), QStringLiteral("DemoUnion")}})};
        if (has("Line Display 2"))
            forkChain.append(plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoForkedSine")));
        pages.append(page(QStringLiteral("Lissajous X"), 4, forkChain));
        pages.append(page(QStringLiteral("Lissajous"), 5,
                          {plugin(QStringLiteral("Union"), QStringLiteral("DemoUnion"),
                                  {{QStringLiteral("forceddatamatch"), QStringLiteral("1")}}),
                           plugin(QStringLiteral("Parametric Display"), QStringLiteral("DemoLissajous"))}));
    }
    if (has("Line Display 2")) {
        // A Y point selection on the sine moves the simulator's set value that it oscillates around.
        pages.append(page(QStringLiteral("Signal"), 1,
                          {plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoSignal"),
                                  {{QStringLiteral("selectpointyaddress"), QStringLiteral("768")},
                                   {QStringLiteral("selectpointyindex"), QStringLiteral("0")}})}));
        // The sine's 20 Hz in a band of 0..100 Hz (8192-point frames, 2.4 Hz bins); a range selected in the
        // spectrum zooms the transform to it.
        if (has("FFT Data Filter"))
            pages.append(page(QStringLiteral("Spectrum"), 1,
                              {plugin(QStringLiteral("FFT Data Filter"), QStringLiteral("DemoFFT"),
                                      {{QStringLiteral("fftsizemax"), QStringLiteral("8192")},
                                       {QStringLiteral("RangeXEndHz"), QStringLiteral("100")}}),
                               plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoSpectrum"),
                                      {{QStringLiteral("selectrangestartaddress"), QStringLiteral("0x310")},
                                       {QStringLiteral("selectrangeendaddress"), QStringLiteral("0x311")}})}));
        pages.append(
            page(QStringLiteral("Lines"), 2, {plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoLines"))}));
        if (has("Average Filter"))
            pages.append(page(QStringLiteral("Averaged lines"), 2,
                              {plugin(QStringLiteral("Average Filter"), QStringLiteral("DemoAverage")),
                               plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoAveraged"))}));

        // Start (channel 1) to stop (channel 2) of the time tags in 100 ps bins: the simulator's 20 ns peak.
        if (has("Histogram Filter"))
            pages.append(page(QStringLiteral("Events"), 3,
                              {plugin(QStringLiteral("Histogram Filter"), QStringLiteral("DemoHistogram"),
                                      {{QStringLiteral("channels"), QStringLiteral("4")},
                                       {QStringLiteral("binwidth"), QStringLiteral("100")},
                                       {QStringLiteral("bincount"), QStringLiteral("400")}}),
                               plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoEventPlot"))}));
    }
    if (has("3D Histogram Display"))
        pages.append(
            page(QStringLiteral("Hits"), 6, {plugin(QStringLiteral("3D Histogram Display"), QStringLiteral("DemoHits"))}));
    if (has("Text Display"))
        pages.append(
            page(QStringLiteral("Value"), 1, {plugin(QStringLiteral("Text Display"), QStringLiteral("DemoValue"))}));
    // The sine behind a disc writer and a sync writer: the user records it with "Write" (or replays a recording with
    // "Read"), or logs it with the sync writer.
    if (has("Disc Writer") && has("Sync Writer") && has("Line Display 2"))
        pages.append(page(QStringLiteral("Recorder"), 1,
                          {plugin(QStringLiteral("Disc Writer"), QStringLiteral("DemoRecorder"),
                                  {{QStringLiteral("displayread"), QStringLiteral("1")},
                                   {QStringLiteral("displayfragment"), QStringLiteral("1")},
                                   {QStringLiteral("displayblock"), QStringLiteral("1")}}),
                           plugin(QStringLiteral("Sync Writer"), QStringLiteral("DemoSyncRecorder")),
                           plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoRecorded"))}));
    // The distribution of the sine's values (µV, ±10 mV plus noise) in 200 µV bins: the two horns of a sine.
    if (has("Generic Histogram Filter") && has("Line Display 2"))
        pages.append(page(QStringLiteral("Distribution"), 1,
                          {plugin(QStringLiteral("Generic Histogram Filter"), QStringLiteral("DemoDistribution"),
                                  {{QStringLiteral("binwidth"), QStringLiteral("200")},
                                   {QStringLiteral("binstart"), QStringLiteral("-60")},
                                   {QStringLiteral("bincount"), QStringLiteral("120")}}),
                           plugin(QStringLiteral("Line Display 2"), QStringLiteral("DemoDistributionPlot"))}));
    // Whatever display exists, show the sine with it, so that the demo always has a page.
    if (pages.isEmpty()) {
        for (const GPlugin::PluginDescriptor* d :
             GPlugin::_typeList ? *GPlugin::_typeList : QList<const GPlugin::PluginDescriptor*>()) {
            if (d->flags & 0x1) {
                pages.append(page(QStringLiteral("Signal"), 1, {plugin(d->name, QStringLiteral("DemoSignal"))}));
                break;
            }
        }
    }

    const QJsonObject root{
        {QStringLiteral("channels"), QJsonObject{{QStringLiteral("count"), 7}}},
        {QStringLiteral("groups"),
         QJsonArray{group(0, QStringLiteral("Topography"), QStringLiteral("Scan"), QStringLiteral("scanner")),
                    group(1, QStringLiteral("Signals"), QStringLiteral("Signal"), QStringLiteral("time")),
                    group(2, QStringLiteral("Events"), QStringLiteral("Events"), QStringLiteral("time"))}},
        {QStringLiteral("signals"),
         QStringLiteral("0=Topography,1=Sine,2=Lines,3=Time tags,4=Lissajous X,5=Lissajous Y,9=Hits")},
        {QStringLiteral("preferences"), QJsonObject{{QStringLiteral("ascMatrix"), true}}},
        {QStringLiteral("window"),
         QJsonObject{{QStringLiteral("title"), QStringLiteral("Demo")},
                     {QStringLiteral("columns"), pages.size() > 12 ? 4 : pages.size() > 4 ? 3 : 2},
                     {QStringLiteral("arrange"), pages.size() > 16 ? QStringLiteral("tabs") : QStringLiteral("grid")}}},
        {QStringLiteral("pages"), pages}};
    return QJsonDocument(root).toJson();
}

QByteArray LayoutFile::replayLayout(int order)
{
    const bool scan = order >= 3 && order <= 6;
    const QString display = scan ? QStringLiteral("Frame Display") : QStringLiteral("Line Display 2");
    const QJsonArray chain{plugin(QStringLiteral("Disc Writer"), QStringLiteral("Replay"),
                                  {{QStringLiteral("displayread"), QStringLiteral("1")}}),
                           plugin(display, scan ? QStringLiteral("ReplayFrame") : QStringLiteral("ReplayLine"))};
    QJsonObject replayPage{{QStringLiteral("name"), QStringLiteral("Replay")},
                           {QStringLiteral("channel"), 0},
                           {QStringLiteral("group"), 0},
                           {QStringLiteral("selectMode"), QStringLiteral("none")},
                           {QStringLiteral("chain"), chain}};
    const QJsonObject root{
        {QStringLiteral("channels"), QJsonObject{{QStringLiteral("count"), 1}}},
        {QStringLiteral("groups"),
         QJsonArray{group(0, QStringLiteral("Replay"), QStringLiteral("Replay"),
                          scan ? QStringLiteral("scanner") : QStringLiteral("time"))}},
        {QStringLiteral("preferences"), QJsonObject{{QStringLiteral("ascMatrix"), true}}},
        {QStringLiteral("window"), QJsonObject{{QStringLiteral("title"), QStringLiteral("Replay")}}},
        {QStringLiteral("pages"), QJsonArray{replayPage}}};
    return QJsonDocument(root).toJson();
}

void LayoutFile::addReplayHead(ViewerLayout* layout)
{
    for (PageLayout& p : layout->pages) {
        if (!p.chain.isEmpty() && p.chain.first().type == QLatin1String("Disc Writer"))
            continue;
        ChainEntry head;
        head.type = QStringLiteral("Disc Writer");
        head.name = QStringLiteral("Replay_%1").arg(p.name);
        head.keys << QStringLiteral("displayread");
        head.values << QStringLiteral("1");
        p.chain.prepend(head);
    }
}
