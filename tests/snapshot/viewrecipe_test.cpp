// View recipes: every store of a snapshot set (now, next, always, global; in the background or at once) writes a
// sidecar that parses and names exactly the files of its set, and describes the page that made it.
#include "connection/channel.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "framework/streamformat.h"
#include "snapshot/snapshotprovider.h"
#include "snapshot/snapshotrequester.h"
#include "snapshot/viewrecipe.h"
#include "utilif/wholefile.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QSet>
#include <QTemporaryDir>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>
#include <memory>

namespace {

class ViewRecipeTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        directory = dir.path();
        prefs = GPlugin::dfltPrefs;
        prefs.snapshotDir = &directory;
        DataGroup g;
        g.groupNumber = 1;
        g.name = QStringLiteral("Signals");
        g.tag = QStringLiteral("Sig");
        g.trigger = GPlugin::time;
        groups.insert(1, g);
        manager = std::make_unique<ViewManager>(&prefs, false);
        manager->setChannelCount(2, 0, groups);
        channel = manager->getChannels().at(0);
        channel->setDataGroup(1);
        channel->getSnapshotManager()->setName(QStringLiteral("Ch0"));
        page = std::make_unique<ViewPage>(nullptr, QStringLiteral("RecipePage"), groups, false);
        display = page->addPlugin(QStringLiteral("Frame Display"), QStringLiteral("RecipeFrame"),
                                  {QStringLiteral("displaytoolbar"), QStringLiteral("size")},
                                  {QStringLiteral("0"), QStringLiteral("64")});
        ASSERT_NE(display, nullptr);
        manager->addPage(page.get());
        page->setChannelNo(0);
        QCoreApplication::processEvents();
        // A forward/backward scan of 4 x 3 pixels.
        format.set(StreamFormat::Order, GPlugin::forBack);
        format.set(StreamFormat::RangeX, 4);
        format.set(StreamFormat::RangeY, 3);
        format.set(StreamFormat::PhysX, 4000);
        format.set(StreamFormat::UnitX, 0x17D);
        format.set(StreamFormat::Rotation, 8192);
        for (StreamFormat::Property p : StreamFormat::codeOrder())
            if (format.isSet(p))
                channel->sendMetadata(StreamFormat::metaCode(p), format.value(p));
        sendFrame();
    }
    void TearDown() override
    {
        SnapshotMgr::setBackgroundSwitch(nullptr);
        if (manager)
            manager->removePage(page.get());
    }
    void sendFrame()
    {
        int words[24];
        for (int i = 0; i < 24; ++i)
            words[i] = 10 * i;
        channel->sendData(words, 24, 0);
    }
    QSet<QString> files() const
    {
        const QStringList list = QDir(directory).entryList(QDir::Files);
        return QSet<QString>(list.begin(), list.end());
    }
    static bool storesDone()
    {
        for (SnapshotMgr* m : SnapshotMgr::_snapshotList)
            if (m->runningThreads() > 0)
                return false;
        return true;
    }

    QTemporaryDir dir;
    QString directory;
    GPlugin::PrefData prefs;
    QMap<int, DataGroup> groups;
    std::unique_ptr<ViewManager> manager;
    Channel* channel = nullptr;
    std::unique_ptr<ViewPage> page;
    GPlugin* display = nullptr;
    StreamFormat format;
};

} // namespace

TEST_F(ViewRecipeTest, EveryStoreWritesARecipeNamingItsFiles)
{
    std::unique_ptr<SnapshotRequester> global;
    struct Case
    {
        const char* store;
        bool background;
        std::function<void()> run;
    };
    const QList<Case> cases{
        {"now", false, [&] { page->getRequester()->requestImmediate(); }},
        {"now", true, [&] { page->getRequester()->requestImmediate(); }},
        {"next", true,
         [&] {
             page->getRequester()->requestDelayed();
             sendFrame();
         }},
        {"always", false,
         [&] {
             page->getRequester()->requestPerm(true);
             sendFrame();
             sendFrame();
             page->getRequester()->requestPerm(false);
         }},
        {"global", true,
         [&] {
             global = std::make_unique<SnapshotRequester>(QStringLiteral("All"), groups, nullptr, nullptr);
             global->setDataGroup(1);
             global->requestImmediate();
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(QStringLiteral("%1 %2").arg(c.store).arg(c.background).toStdString());
        bool background = c.background;
        SnapshotMgr::setBackgroundSwitch(&background);
        const QSet<QString> before = files();
        c.run();
        ASSERT_TRUE(QTest::qWaitFor(storesDone, 10000));
        SnapshotMgr::setBackgroundSwitch(nullptr);
        const QSet<QString> added = files() - before;

        // Each new data file is named by exactly one new recipe, and each name in a recipe is a file of the folder.
        QSet<QString> named;
        int recipes = 0;
        for (const QString& f : added) {
            if (!f.endsWith(QLatin1String(".json")))
                continue;
            ++recipes;
            QJsonObject recipe;
            QString error;
            ASSERT_TRUE(ViewRecipe::read(QDir(directory).filePath(f), &recipe, &error)) << qPrintable(error);
            EXPECT_EQ(recipe.value(QStringLiteral("store")).toString(), QLatin1String(c.store)) << qPrintable(f);
            EXPECT_EQ(recipe.value(QStringLiteral("channel")).toInt(), 0);
            EXPECT_EQ(recipe.value(QStringLiteral("dataGroup")).toInt(), 1);
            EXPECT_FALSE(recipe.value(QStringLiteral("programVersion")).toString().isEmpty());
            EXPECT_NE(recipe.value(QStringLiteral("programVersion")).toString(), QLatin1String("unknown"));
            const QJsonObject fmt = recipe.value(QStringLiteral("streamFormat")).toObject();
            EXPECT_EQ(fmt.value(QStringLiteral("Order")).toInt(), int(GPlugin::forBack));
            EXPECT_EQ(fmt.value(QStringLiteral("RangeX")).toInt(), 4);
            EXPECT_EQ(fmt.value(QStringLiteral("PhysX")).toInt(), 4000);
            EXPECT_EQ(fmt.value(QStringLiteral("Rotation")).toInt(), 8192);
            EXPECT_EQ(fmt.value(QStringLiteral("UnitXText")).toString(), GPlugin::printUnit(0x17D));
            const QString stem = f.chopped(5);
            for (const QJsonValue& v : recipe.value(QStringLiteral("files")).toArray()) {
                const QString name = v.toString();
                EXPECT_TRUE(added.contains(name)) << qPrintable(name);
                EXPECT_TRUE(name.startsWith(stem)) << qPrintable(name) << " in " << qPrintable(f);
                EXPECT_FALSE(named.contains(name)) << qPrintable(name);
                named.insert(name);
            }
            const QJsonValue pageValue = recipe.value(QStringLiteral("page"));
            if (QLatin1String(c.store) == QLatin1String("global") &&
                recipe.value(QStringLiteral("source")).toString() == QLatin1String("channel")) {
                EXPECT_TRUE(pageValue.isNull()); // the host's buttons: no page made the raw frame
                continue;
            }
            const QJsonArray chain = pageValue.toObject().value(QStringLiteral("chain")).toArray();
            ASSERT_EQ(chain.size(), 1) << qPrintable(f);
            const QJsonObject frame = chain.at(0).toObject();
            EXPECT_EQ(frame.value(QStringLiteral("type")).toString(), QStringLiteral("Frame Display"));
            EXPECT_EQ(frame.value(QStringLiteral("name")).toString(), QStringLiteral("RecipeFrame"));
            EXPECT_EQ(frame.value(QStringLiteral("options")).toArray(),
                      (QJsonArray{QJsonArray{QStringLiteral("displaytoolbar"), QStringLiteral("0")},
                                  QJsonArray{QStringLiteral("size"), QStringLiteral("64")}}));
            EXPECT_TRUE(frame.value(QStringLiteral("display")).toObject().contains(QStringLiteral("magnification")));
            EXPECT_EQ(fmt.value(QStringLiteral("Trigger")).toInt(), int(GPlugin::time));
        }
        EXPECT_GE(recipes, 1);
        QSet<QString> data = added;
        for (const QString& f : added)
            if (f.endsWith(QLatin1String(".json")))
                data.remove(f);
        EXPECT_EQ(named, data);
    }
}

TEST_F(ViewRecipeTest, FailedRecipeIsReportedWithItsFullName)
{
    QString error;
    QString written;
    const QString base = dir.filePath(QStringLiteral("missing/folder/All_001-x"));
    EXPECT_FALSE(ViewRecipe::write(base, ViewRecipe::describe(channel->getSnapshotManager(), {}),
                                   {QStringLiteral("a.csv")}, &written, &error));
    EXPECT_TRUE(error.startsWith(QStringLiteral("Failed to write recipe to "))) << qPrintable(error);
    EXPECT_TRUE(error.contains(QDir::toNativeSeparators(base + QStringLiteral(".json")))) << qPrintable(error);
    EXPECT_TRUE(written.isEmpty());
}

TEST_F(ViewRecipeTest, ReadRefusesWhatIsNotARecipe)
{
    QString written;
    QString error;
    ASSERT_TRUE(ViewRecipe::write(dir.filePath(QStringLiteral("t_000-ok")),
                                  ViewRecipe::describe(display->getSnapshotManager(), {}), {}, &written, &error))
        << qPrintable(error);
    QFile file(written);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    const QByteArray whole = file.readAll();
    file.close();
    QJsonObject recipe;
    ASSERT_TRUE(ViewRecipe::read(written, &recipe, &error)) << qPrintable(error);
    ViewRecipe::Page p;
    ASSERT_TRUE(ViewRecipe::pageOf(recipe, &p, &error)) << qPrintable(error);
    EXPECT_EQ(p.name, QStringLiteral("RecipePage"));
    ASSERT_EQ(p.chain.size(), 1);
    EXPECT_EQ(p.chain.at(0).keys, QStringList({QStringLiteral("displaytoolbar"), QStringLiteral("size")}));

    const QList<QPair<const char*, QByteArray>> faults{
        {"truncated", whole.left(whole.size() / 2)},
        {"not json", QByteArray("x,y\n1,2\n")},
        {"other json", QByteArray("{\"pages\": []}")},
        {"missing files", QByteArray(whole).replace("\"files\"", "\"filez\"")},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.first);
        const QString path = dir.filePath(QStringLiteral("bad.json"));
        QFile out(path);
        ASSERT_TRUE(out.open(QIODevice::WriteOnly | QIODevice::Truncate));
        out.write(f.second);
        out.close();
        error.clear();
        EXPECT_FALSE(ViewRecipe::read(path, &recipe, &error));
        EXPECT_TRUE(error.startsWith(path)) << qPrintable(error);
    }
}

namespace {

/// Writes one data file, then takes every name its recipe could have, so that the recipe cannot be written.
class CrowdingProvider : public SnapshotProvider
{
public:
    bool saveSnapshot(QString baseName, int, const SnapshotBuffer*, QString* message) override
    {
        WholeFile file(baseName + QStringLiteral(".csv"));
        if (!file.open(QIODevice::WriteOnly) || file.write("1;2\n") != 4 || !file.commit())
            return false;
        for (QString name;
             !(name = SnapshotMgr::reserveFilename(baseName, QStringLiteral("json"), QString())).isEmpty();)
            claimed << name;
        *message = QStringLiteral("Snapshot written to ") + file.fileName();
        return true;
    }
    SnapshotBuffer* snapshotData(int) override { return new SnapshotBuffer; }
    void postMessage(QString text, int, int severity) override
    {
        messages << QStringLiteral("%1|%2").arg(severity).arg(text);
    }

    QStringList claimed;
    QStringList messages;
};

} // namespace

TEST(ViewRecipe_Failure, UnwritableRecipeFailsTheStoreLikeADataFile)
{
    QTemporaryDir dir;
    for (bool background : {false, true}) {
        SCOPED_TRACE(background ? "background" : "at once");
        CrowdingProvider provider;
        SnapshotMgr mgr(QStringLiteral("crowded%1").arg(background), nullptr, &provider, -1, nullptr);
        SnapshotMgr::setBackgroundSwitch(&background);
        SnapshotMgr::ActionDescriptor d;
        d.directory = dir.path();
        d.fullName = QStringLiteral("crowd");
        d.tag = QStringLiteral("t");
        d.sequence = background ? 2 : 1;
        d.types = SnapshotMgr::typeCsvDisplayed;
        const int failedBefore = SnapshotMgr::failedStores();
        const bool ok = mgr.makeSnapshot(d);
        EXPECT_TRUE(QTest::qWaitFor([&] { return mgr.runningThreads() == 0; }, 10000));
        SnapshotMgr::setBackgroundSwitch(nullptr);
        for (const QString& name : provider.claimed)
            SnapshotMgr::releaseFilename(name);
        if (!background) {
            EXPECT_FALSE(ok); // a background store reports through its end event
        }
        EXPECT_EQ(SnapshotMgr::failedStores(), failedBefore + 1);
        const QString recipe = QDir::toNativeSeparators(
            dir.filePath(QStringLiteral("t_%1-crowd.json").arg(d.sequence, 3, 10, QLatin1Char('0'))));
        ASSERT_EQ(provider.messages.size(), 1);
        EXPECT_TRUE(provider.messages.at(0).startsWith(QStringLiteral("2|"))) << qPrintable(provider.messages.at(0));
        EXPECT_TRUE(provider.messages.at(0).contains(QStringLiteral("Failed to write recipe to ") + recipe))
            << qPrintable(provider.messages.at(0));
        EXPECT_FALSE(QFileInfo::exists(recipe));
    }
}
