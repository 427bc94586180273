// --layout-from: the recipe of a snapshot set rebuilds the page that made it, with the same chain, options and
// display settings, even where the persisted settings of an earlier session say otherwise.
#include "commandline.h"
#include "layoutfile.h"
#include "viewerwindow.h"

#include "connection/viewpage.h"
#include "framework/gplugin.h"
#include "snapshot/snapshotrequester.h"
#include "snapshot/viewrecipe.h"
#include "utilif/savable.h"

#include <QJsonArray>
#include <QJsonDocument>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>
#include <memory>

namespace {

ViewerLayout onePage(const QString& type, const QString& name, const QStringList& keys, const QStringList& values)
{
    ViewerLayout l;
    l.channelCount = 4;
    DataGroup d;
    d.groupNumber = 1;
    d.name = d.tag = QStringLiteral("G1");
    l.groups.insert(1, d);
    PageLayout p;
    p.name = QStringLiteral("RecipeSource") + name;
    p.channel = 2;
    ChainEntry e;
    e.type = type;
    e.name = name;
    e.keys = keys;
    e.values = values;
    p.chain << e;
    l.pages << p;
    return l;
}

} // namespace

TEST(ViewerWindow, LayoutFromRecipeRebuildsThePageWithItsDisplaySettings)
{
    struct Case
    {
        QString type;
        QString name;
        QStringList keys, values;
        QVariantMap state;
        QStringList settings, otherValues; // persisted values of another session that the recipe must win over
    };
    const QList<Case> cases{
        {QStringLiteral("Frame Display"),
         QStringLiteral("RecipeFrame"),
         {QStringLiteral("displaytoolbar"), QStringLiteral("size")},
         {QStringLiteral("0"), QStringLiteral("64")},
         {{QStringLiteral("colorTable"), QStringLiteral("Spectrum")},
          {QStringLiteral("magnification"), 3},
          {QStringLiteral("gradationMin"), -500},
          {QStringLiteral("gradationMax"), 700},
          {QStringLiteral("scanForward"), false}},
         {QStringLiteral("Magnification"), QStringLiteral("ColorCoding"), QStringLiteral("ScanDirection")},
         {QStringLiteral("1"), QStringLiteral("Grayscale"), QStringLiteral("1")}},
        {QStringLiteral("Line Display 2"),
         QStringLiteral("RecipeLine"),
         {QStringLiteral("displaytoolbar")},
         {QStringLiteral("1")},
         {{QStringLiteral("yMode"), 2}, {QStringLiteral("yStart"), -2.5}, {QStringLiteral("yHeight"), 10.0}},
         {},
         {}},
    };
    QTemporaryDir dir;
    for (const Case& c : cases) {
        SCOPED_TRACE(qPrintable(c.type));
        const ViewerLayout source = onePage(c.type, c.name, c.keys, c.values);
        QString recipePath;
        QJsonArray original;
        {
            ViewerWindow w;
            QString error;
            ASSERT_TRUE(w.loadLayout(source, &error)) << qPrintable(error);
            QCoreApplication::processEvents();
            ViewPage* page = w.pages().at(0);
            GPlugin* display = page->getReceiver();
            display->applyDisplayState(c.state);
            original = ViewRecipe::describeChain(display);
            const QVariantMap recorded = original.at(0).toObject().value(QStringLiteral("display")).toVariant().toMap();
            for (auto it = c.state.cbegin(); it != c.state.cend(); ++it)
                EXPECT_EQ(recorded.value(it.key()).toString(), it.value().toString()) << qPrintable(it.key());

            SnapshotMgr::ActionDescriptor d;
            d.trigger = SnapshotMgr::trgImmediate;
            d.requester = page->getRequester();
            ASSERT_TRUE(ViewRecipe::write(dir.filePath(QStringLiteral("G1_000-") + c.name),
                                          ViewRecipe::describe(display->getSnapshotManager(), d),
                                          {dir.filePath(QStringLiteral("G1_000-") + c.name + QStringLiteral(".png"))},
                                          &recipePath, &error))
                << qPrintable(error);
        }
        // Another session left other settings behind.
        for (int k = 0; k < c.settings.size(); ++k)
            Savable(nullptr, c.settings.at(k), c.name, false, nullptr).setValue(c.otherValues.at(k));

        // The program's path: the command line names the recipe, the layout gets its page.
        ViewerOptions options;
        QString error;
        ASSERT_TRUE(CommandLine::parse({QStringLiteral("--layout-from"), recipePath}, &options, &error));
        ASSERT_EQ(options.recipeFile, recipePath);
        ViewerLayout layout;
        ASSERT_TRUE(LayoutFile::parse(LayoutFile::demoLayout(), QStringLiteral("demo"), &layout, &error));
        ASSERT_TRUE(LayoutFile::applyRecipe(options.recipeFile, &layout, &error)) << qPrintable(error);
        ASSERT_EQ(layout.pages.size(), 1);
        EXPECT_EQ(layout.pages.at(0).channel, 2);

        ViewerWindow rebuilt;
        ASSERT_TRUE(rebuilt.loadLayout(layout, &error)) << qPrintable(error);
        // The persisted settings are restored from the event loop, and the recipe is applied again after them.
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
        ASSERT_EQ(rebuilt.pages().size(), 1);
        EXPECT_EQ(rebuilt.pages().at(0)->getChannelNo(), 2);
        const auto chain = [&] { return ViewRecipe::describeChain(rebuilt.pages().at(0)->getReceiver()); };
        QTest::qWaitFor([&] { return chain() == original; }, 2000);
        EXPECT_EQ(QJsonDocument(chain()).toJson(), QJsonDocument(original).toJson());
    }
}

TEST(LayoutFile, RecipeErrorsNameTheFile)
{
    QTemporaryDir dir;
    ViewerLayout layout;
    QString error;
    ASSERT_TRUE(LayoutFile::parse(LayoutFile::demoLayout(), QStringLiteral("demo"), &layout, &error));
    const int pagesBefore = layout.pages.size();
    const QString path = dir.filePath(QStringLiteral("r.json"));
    const QList<QPair<const char*, QByteArray>> faults{
        {"no file", QByteArray()},
        {"not a recipe", QByteArray("{\"pages\": []}")},
        {"unknown type",
         QByteArray("{\"format\": \"Orvik view recipe\", \"formatVersion\": 1, \"created\": \"x\", \"programVersion\": "
                    "\"0\", \"channel\": 1, \"dataGroup\": 1, \"store\": \"now\", \"streamFormat\": {}, \"files\": [],"
                    " \"page\": {\"name\": \"P\", \"channel\": 1, \"chain\": [{\"type\": \"No Such Type\"}]}}")},
        {"channel outside the layout",
         QByteArray("{\"format\": \"Orvik view recipe\", \"formatVersion\": 1, \"created\": \"x\", \"programVersion\": "
                    "\"0\", \"channel\": 99, \"dataGroup\": 1, \"store\": \"now\", \"streamFormat\": {}, \"files\": [],"
                    " \"page\": {\"name\": \"P\", \"channel\": 99, \"chain\": []}}")},
    };
    for (const auto& f : faults) {
        SCOPED_TRACE(f.first);
        QFile::remove(path);
        if (!f.second.isNull()) {
            QFile out(path);
            ASSERT_TRUE(out.open(QIODevice::WriteOnly));
            out.write(f.second);
        }
        error.clear();
        EXPECT_FALSE(LayoutFile::applyRecipe(path, &layout, &error));
        EXPECT_TRUE(error.contains(path)) << qPrintable(error);
        EXPECT_EQ(layout.pages.size(), pagesBefore);
    }
}
