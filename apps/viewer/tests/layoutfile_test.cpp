#include "layoutfile.h"
#include "testtypes.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

// A complete layout; the test type is substituted for TYPE.
QByteArray fullLayout()
{
    return QByteArray(R"({
  "server": {"host": "scanner.local", "port": 7020, "lossless": true},
  "channels": {"count": 8, "unsubscribed": 2},
  "groups": [
    {"number": 0, "label": "scan", "description": "Scanner", "name": "Topography", "tag": "Scan",
     "trigger": "scanner", "storeRaw": false, "logContinuous": true, "storeLocalDefault": true,
     "storeRetriggerDefault": true, "anyPage": true, "selectMode": 2, "showSource": true, "showAverage": true,
     "sampleTime": true, "disabled": false, "showNumber": false, "showName": false, "showSignal": true,
     "showGroup": false, "inactive": true, "comment": "c", "userData": 7},
    {"number": 3, "trigger": 2}
  ],
  "signals": ["0=Height", "1=Current"],
  "preferences": {"snapshotDir": "/tmp/snaps", "graphicType": "JPG", "ascMatrix": true, "csvFlag": true,
                  "detachOnTop": true, "layoutMargin": 5, "layoutSpacing": 6, "backgroundStorage": false},
  "window": {"title": "Lab", "arrange": "tabs", "columns": 3},
  "pages": [
    {"name": "P1", "channel": 5, "group": 3, "leftAligned": true, "selectMode": "all",
     "controls": {"source": true, "sampleTime": true, "average": true, "snapshotButtons": false},
     "chain": [{"type": "TYPE", "name": "first", "options": [["zeta", "1"], ["Alpha", 2], ["flag", true]]},
               {"type": "TYPE", "options": {"b": "x", "a": 1.5}, "settings": {"ColorCoding": "magma", "Zoom": 2}}]}
  ]
})")
        .replace("TYPE", viewerTestType().toUtf8());
}

} // namespace

TEST(LayoutFile, ReadsEveryField)
{
    ViewerLayout l;
    QString error;
    ASSERT_TRUE(LayoutFile::parse(fullLayout(), QStringLiteral("full.json"), &l, &error)) << qPrintable(error);
    EXPECT_EQ(l.host, QStringLiteral("scanner.local"));
    EXPECT_EQ(l.port, 7020);
    EXPECT_TRUE(l.lossless);
    EXPECT_EQ(l.channelCount, 8);
    EXPECT_EQ(l.unsubscribed, 2);
    ASSERT_EQ(l.groups.size(), 2);
    const DataGroup g = l.groups.value(0);
    EXPECT_EQ(g.label, QStringLiteral("scan"));
    EXPECT_EQ(g.description, QStringLiteral("Scanner"));
    EXPECT_EQ(g.name, QStringLiteral("Topography"));
    EXPECT_EQ(g.tag, QStringLiteral("Scan"));
    EXPECT_EQ(g.trigger, 1);
    EXPECT_FALSE(g.storeRaw);
    EXPECT_TRUE(g.logContinuous && g.storeLocalDefault && g.storeRetriggerDefault && g.anyPage);
    EXPECT_EQ(g.groupSelectMode, 2);
    EXPECT_TRUE(g.showSource && g.showAverage && g.sampleTime && g.showSignal && g.inactive);
    EXPECT_FALSE(g.disabled || g.showNumber || g.showName || g.showGroup);
    EXPECT_EQ(g.comment, QStringLiteral("c"));
    EXPECT_EQ(g.userData, 7);
    // A group given by its number only gets a name and a tag to show.
    EXPECT_EQ(l.groups.value(3).groupNumber, 3);
    EXPECT_EQ(l.groups.value(3).trigger, 2);
    EXPECT_EQ(l.groups.value(3).name, QStringLiteral("Group 3"));
    EXPECT_EQ(l.groups.value(3).tag, QStringLiteral("Group 3"));
    EXPECT_EQ(l.signalList, QStringLiteral("0=Height\n1=Current"));

    EXPECT_EQ(l.prefs.snapshotDir, QStringLiteral("/tmp/snaps"));
    EXPECT_EQ(l.prefs.graphicType, QStringLiteral("JPG"));
    EXPECT_TRUE(l.prefs.ascMatrix && l.prefs.csvFlag && l.prefs.detachOnTop);
    EXPECT_EQ(l.prefs.layoutMargin, 5);
    EXPECT_EQ(l.prefs.layoutSpacing, 6);
    EXPECT_FALSE(l.prefs.backgroundStorage);
    EXPECT_EQ(l.title, QStringLiteral("Lab"));
    EXPECT_TRUE(l.tabs);
    EXPECT_EQ(l.columns, 3);

    ASSERT_EQ(l.pages.size(), 1);
    const PageLayout& p = l.pages.first();
    EXPECT_EQ(p.name, QStringLiteral("P1"));
    EXPECT_EQ(p.channel, 5);
    EXPECT_EQ(p.group, 3);
    EXPECT_TRUE(p.leftAligned);
    EXPECT_EQ(p.selectMode, 2);
    EXPECT_TRUE(p.showSource && p.showSampleTime && p.showAverage);
    EXPECT_FALSE(p.snapshotButtons);
    ASSERT_EQ(p.chain.size(), 2);
    EXPECT_EQ(p.chain[0].name, QStringLiteral("first"));
    // Pairs keep their order; numbers and booleans become the texts that setOption parses.
    EXPECT_EQ(p.chain[0].keys, (QStringList{"zeta", "Alpha", "flag"}));
    EXPECT_EQ(p.chain[0].values, (QStringList{"1", "2", "1"}));
    EXPECT_EQ(p.chain[1].name, QStringLiteral("P1_1"));
    EXPECT_EQ(p.chain[1].keys, (QStringList{"a", "b"}));
    EXPECT_EQ(p.chain[1].values, (QStringList{"1.5", "x"}));
    EXPECT_EQ(p.chain[1].settingKeys, (QStringList{"ColorCoding", "Zoom"}));
    EXPECT_EQ(p.chain[1].settingValues, (QStringList{"magma", "2"}));
}

TEST(LayoutFile, RefusesFaultsWithFilePlaceAndReason)
{
    const QByteArray type = viewerTestType().toUtf8();
    const QByteArray chain = R"("chain": [{"type": ")" + type + R"("}])";
    const QByteArray ok = R"({"channels": {"count": 4}, "pages": [{"name": "A", )" + chain + "}]}";
    struct Case
    {
        const char* name;
        QByteArray json;
        const char* place;
        const char* reason;
    };
    const Case cases[] = {
        {"syntax", "{\n  \"channels\": {\"count\": 4},\n  \"pages\": [\n}", "bad.json:4:1", "JSON syntax error"},
        {"not an object", "[1, 2]", "bad.json", "must be a JSON object"},
        {"unknown top key", R"({"chanels": {}})", "chanels", "unknown key"},
        {"no channels", R"({"pages": []})", "channels", "missing"},
        {"channel count", R"({"channels": {"count": 100000}})", "channels.count", "100000 is out of range"},
        {"large integer", R"({"channels": {"count": 2147483647}})", "channels.count", ": 2147483647 is out of range"},
        {"negative integer", R"({"channels": {"count": -3000000000}})", "channels.count",
         ": -3000000000 is out of range"},
        {"fraction", R"({"channels": {"count": 2.5}})", "channels.count", "expected an integer, found 2.5"},
        {"large fraction", R"({"channels": {"count": 1234567.5}})", "channels.count",
         "expected an integer, found 1234567.5"},
        {"unsubscribed above count", R"({"channels": {"count": 2, "unsubscribed": 3}})", "channels.unsubscribed",
         "out of range"},
        {"port", R"({"server": {"host": "h", "port": 70000}})", "server.port", "out of range"},
        {"empty host", R"({"server": {"host": " ", "port": 7}})", "server.host", "must not be empty"},
        {"group twice", R"({"channels": {"count": 1}, "groups": [{"number": 1}, {"number": 1}]})", "groups[1].number",
         "defined twice"},
        {"group flag type", R"({"channels": {"count": 1}, "groups": [{"number": 1, "storeRaw": "yes"}]})",
         "groups[0].storeRaw", "expected true or false, found a string"},
        {"trigger name", R"({"channels": {"count": 1}, "groups": [{"number": 1, "trigger": "laser"}]})",
         "groups[0].trigger", "unknown value \"laser\""},
        {"no pages", R"({"channels": {"count": 1}, "pages": []})", "pages", "no pages"},
        {"page channel", R"({"channels": {"count": 4}, "pages": [{"name": "A", "channel": 4, )" + chain + "}]}",
         "pages[0].channel", "out of range"},
        {"page group", R"({"channels": {"count": 4}, "pages": [{"name": "A", "group": 2, )" + chain + "}]}",
         "pages[0].group", "not defined"},
        {"empty chain", R"({"channels": {"count": 4}, "pages": [{"name": "A", "chain": []}]})", "pages[0].chain",
         "at least one plug-in"},
        {"unknown type", R"({"channels": {"count": 4}, "pages": [{"name": "A", "chain": [{"type": "Warp Display"}]}]})",
         "pages[0].chain[0].type", "unknown plug-in type \"Warp Display\""},
        {"option value",
         R"({"channels": {"count": 4}, "pages": [{"name": "A", "chain": [{"type": ")" + type +
             R"(", "options": {"x": [1]}}]}]})",
         "pages[0].chain[0].options.x", "expected a string, number or boolean"},
        {"option pair",
         R"({"channels": {"count": 4}, "pages": [{"name": "A", "chain": [{"type": ")" + type +
             R"(", "options": [["x"]]}]}]})",
         "pages[0].chain[0].options[0]", "[key, value] pair"},
        {"page name twice",
         R"({"channels": {"count": 4}, "pages": [{"name": "A", )" + chain + R"(}, {"name": "A", )" + chain + "}]}",
         "pages[1].name", "used twice"},
        {"misspelt control",
         R"({"channels": {"count": 4}, "pages": [{"name": "A", "controls": {"sorce": true}, )" + chain + "}]}",
         "pages[0].controls.sorce", "unknown key"},
    };
    const QByteArray okJson = ok;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ViewerLayout l;
        l.title = QStringLiteral("untouched");
        QString error;
        EXPECT_FALSE(LayoutFile::parse(c.json, QStringLiteral("bad.json"), &l, &error));
        EXPECT_TRUE(error.startsWith(QStringLiteral("bad.json"))) << qPrintable(error);
        EXPECT_TRUE(error.contains(QLatin1String(c.place))) << qPrintable(error);
        EXPECT_TRUE(error.contains(QLatin1String(c.reason))) << qPrintable(error);
        EXPECT_EQ(l.title, QStringLiteral("untouched")); // nothing half-loaded
        EXPECT_TRUE(l.pages.isEmpty());
    }
    ViewerLayout l;
    QString error;
    EXPECT_TRUE(LayoutFile::parse(okJson, QStringLiteral("ok.json"), &l, &error)) << qPrintable(error);
}

TEST(LayoutFile, LoadNamesUnreadableFile)
{
    QTemporaryDir dir;
    const QString missing = dir.filePath(QStringLiteral("missing.json"));
    ViewerLayout l;
    QString error;
    EXPECT_FALSE(LayoutFile::load(missing, &l, &error));
    EXPECT_TRUE(error.startsWith(missing)) << qPrintable(error);

    const QString file = dir.filePath(QStringLiteral("layout.json"));
    QFile f(file);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(fullLayout());
    f.close();
    EXPECT_TRUE(LayoutFile::load(file, &l, &error)) << qPrintable(error);
    EXPECT_EQ(l.pages.size(), 1);
}

TEST(LayoutFile, DemoLayoutUsesRegisteredTypes)
{
    viewerTestType();
    ViewerLayout l;
    QString error;
    ASSERT_TRUE(LayoutFile::parse(LayoutFile::demoLayout(), QStringLiteral("demo"), &l, &error)) << qPrintable(error);
    EXPECT_EQ(l.channelCount, 6);
    EXPECT_FALSE(l.pages.isEmpty());
    EXPECT_TRUE(l.host.isEmpty()); // the demo runs against the built-in simulator
    const QStringList known = LayoutFile::knownTypes();
    for (const PageLayout& p : l.pages) {
        for (const ChainEntry& e : p.chain)
            EXPECT_TRUE(known.contains(e.type)) << qPrintable(e.type);
    }
}
