#include "framework/gplugin.h"

#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

GPlugin* makeNothing(QWidget*, QString)
{
    return nullptr;
}

} // namespace

TEST(Catalogue_Registry, SortsIntoCatalogueOrderWhateverTheConstructionOrder)
{
    // Constructed out of order on purpose: the registry must still list them in catalogue order.
    static GPlugin::PluginDescriptor frame(QStringLiteral("Frame Display"), QStringLiteral("f"), 0x6001, makeNothing);
    static GPlugin::PluginDescriptor cyclicAvg(QStringLiteral("Average Filter"), QStringLiteral("c"), 0x1104,
                                               makeNothing);
    static GPlugin::PluginDescriptor lineAvg(QStringLiteral("Average Filter"), QStringLiteral("l"), 0x1002,
                                             makeNothing);
    static GPlugin::PluginDescriptor custom(QStringLiteral("Zz Test Type"), QStringLiteral("t"), 0x1, makeNothing);
    ASSERT_NE(GPlugin::_typeList, nullptr);
    EXPECT_EQ(GPlugin::_initIndicator, 0xabcdef23u);
    const auto& list = *GPlugin::_typeList;
    EXPECT_EQ(list.count(&frame), 1);
    const int iLine = list.indexOf(&lineAvg), iCyclic = list.indexOf(&cyclicAvg), iFrame = list.indexOf(&frame);
    EXPECT_LT(iLine, iCyclic);
    EXPECT_LT(iCyclic, iFrame);
    EXPECT_EQ(list.indexOf(&custom), list.size() - 1); // outside the catalogue: after it
    // Every record is ordered by rank.
    for (int i = 1; i < list.size(); ++i)
        EXPECT_LE(catalogueRank(list[i - 1]->name, list[i - 1]->flags), catalogueRank(list[i]->name, list[i]->flags));
}

TEST(Catalogue_Registry, RankDistinguishesTheTwoAverageFilters)
{
    EXPECT_EQ(catalogueRank("Audio Output", 0x1101), 0);
    EXPECT_EQ(catalogueRank("Frame Display", 0x6001), 51);
    EXPECT_LT(catalogueRank("Average Filter", 0x1002), catalogueRank("Average Filter", 0x1104));
    EXPECT_EQ(catalogueRank("frame display", 0x6001), 52); // names are case-sensitive
}

TEST(Catalogue_Factories, EveryTypeCarriesItsOwnDescriptor)
{
    // ViewPage::getPlugins() names a plug-in by its descriptor: a plug-in with another type's record (or none)
    // would be listed wrongly or as "".
    ASSERT_NE(GPlugin::_typeList, nullptr);
    int built = 0;
    for (const GPlugin::PluginDescriptor* d : qAsConst(*GPlugin::_typeList)) {
        if (!d->factory)
            continue;
        SCOPED_TRACE(d->name.toStdString());
        QWidget parent;
        std::unique_ptr<GPlugin> plugin(d->factory(&parent, QStringLiteral("p")));
        if (!plugin)
            continue; // the test records above have no plug-in behind them
        ++built;
        EXPECT_EQ(plugin->getDescriptor(), d);
    }
    EXPECT_GT(built, 0);
}

TEST(Catalogue_Options, NoTypeThrowsOutOfSetOption)
{
    // Layouts carry options as typed by users: an absurd value is reported or ignored, never thrown out of the
    // plug-in (nothing between the page and the layout loader would catch it).
    const char* keys[] = {"datarangex", "datarangey", "size", "depth", "digits", "exposure", "fixedheight",
                          "fixedwidth", "fixedphysval", "fixedunitval", "fixedyscale", "fontincr", "initialxrange",
                          "maxdatapoints", "movexstep", "raw", "horizontallines", "verticallines", "zoomymax",
                          "zoomymin", "selectrangexscale", "selectxscale", "selectyscale", "style", "synthindex",
                          "verticaladdr", "histogrammode", "defaultdirisfwd", "designmode"};
    const char* values[] = {"2147483647", "-2147483648", "0", "1e308", "-1,2", "x"};
    ASSERT_NE(GPlugin::_typeList, nullptr);
    for (const GPlugin::PluginDescriptor* d : qAsConst(*GPlugin::_typeList)) {
        if (!d->factory)
            continue;
        SCOPED_TRACE(d->name.toStdString());
        QWidget parent;
        std::unique_ptr<GPlugin> plugin(d->factory(&parent, QStringLiteral("p")));
        if (!plugin)
            continue;
        for (const char* key : keys)
            for (const char* value : values)
                EXPECT_NO_THROW(plugin->setOption(QString::fromLatin1(key), QString::fromLatin1(value)))
                    << key << "=" << value;
    }
}
