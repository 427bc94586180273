#include "filters/amfilter.h"
#include "filters/avgfilter.h"
#include "filters/counterfilter.h"
#include "filters/derivativefilter.h"
#include "filters/directionfilter.h"
#include "filters/fswapfilter.h"
#include "filters/generichistfilter.h"
#include "filters/histogramfilter.h"
#include "filters/indexcorrfilter.h"
#include "filters/indexrecoveryfilter.h"
#include "filters/metafilter.h"
#include "filters/missingfilter.h"
#include "filters/para16filter.h"
#include "filters/sixtyfourfilter.h"
#include "filters/ugfilter.h"
#include "support/recordingplugin.h"

#include <gtest/gtest.h>
#include <memory>

namespace {

struct Registration
{
    const char* name;
    const char* description;
    int flags;
    GPlugin::Factory factory;
    const char* className;
};

const Registration kTypes[] = {
    {"Histogram Filter", "Histogramming of incoming 64-Bit data", 0x800004, histoFilterFactory, "HistogramFilter"},
    {"Generic Histogram Filter", "Histogramming of incoming 32 Bit data", 0x1004, genHistFilterFactory,
     "GenericHistFilter"},
    {"Underground Filter", "Subtract constant or linear underground from every line.", 0x2002, ugFilterFactory,
     "UgFilter"},
    {"Average Filter", "Line by line averaging.", 0x1002, avgFilterFactory, "AvgFilter"},
    {"Scan Direction Filter", "Filter for scan direction.", 0x2002, dirFilterFactory, "DirectionFilter"},
    {"Missing Data Filter", "Visualizes missing data by inserting substitution values.", 0x1102, misFilterFactory,
     "MissingFilter"},
    {"Index Correction Filter", "Patches +/- 1 index errors in incoming data.", 0x1102, idxFilterFactory,
     "IndexCorrFilter"},
    {"Meta Data Filter", "Displays Meta Data and allows their manipulation.", 0x1010, metaFilterFactory, "MetaFilter"},
    {"AM Filter", "Digital amplitude modulation filter", 0x1002, amFilterFactory, "AmFilter"},
    {"Frequency Swap Filter", "Frequency Swap Filter", 0x1010, fSwapFilterFactory, "FswapFilter"},
    {"64Bit Filter", "Filters 32it MSW or LSW out of 64Bit data.", 0x1002, sixtyFourFilterFactory, "SixtyFourFilter"},
    {"Index Recovery Filter", "Creates own index increment by 1 and resets after data timeout", 0x1004,
     indexRecFilterFactory, "IndexRecoveryFilter"},
    {"Derivative Filter", "Calculates derivative of incoming data.", 0x1004, deriveFilterFactory, "DerivativeFilter"},
    {"Counter Filter", "Simply counts samples and measures sampling rate", 0x1004, counterFilterFactory,
     "CounterFilter"},
    {"Para16 Filter", "Makes up a special data format (2x16 Bit) for the parametric display", 0x1000104,
     para16FilterFactory, "Para16Filter"},
};

// The first record of that name, as a page's lookup finds it.
const GPlugin::PluginDescriptor* firstNamed(const QString& name)
{
    for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList)
        if (d->name == name)
            return d;
    return nullptr;
}

} // namespace

TEST(FilterCatalogue_Registration, EveryTypeIsRegisteredOnceWithItsRecord)
{
    ASSERT_NE(GPlugin::_typeList, nullptr);
    for (const Registration& t : kTypes) {
        SCOPED_TRACE(t.name);
        int matches = 0;
        for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList)
            matches += d->name == QLatin1String(t.name) && d->flags == t.flags;
        EXPECT_EQ(matches, 1);
        const GPlugin::PluginDescriptor* d = firstNamed(QLatin1String(t.name));
        ASSERT_NE(d, nullptr);
        EXPECT_EQ(d->description, QString::fromUtf8(t.description));
        EXPECT_EQ(d->flags, t.flags);
        EXPECT_EQ(d->factory, t.factory);
        std::unique_ptr<GPlugin> p(d->factory(nullptr, QStringLiteral("inst")));
        ASSERT_NE(p, nullptr);
        EXPECT_STREQ(p->metaObject()->className(), t.className);
        EXPECT_EQ(p->getDescriptor(), d);
        EXPECT_EQ(p->getName(), QStringLiteral("inst"));
    }
}

TEST(FilterCatalogue_Registration, RecordsFollowCatalogueOrder)
{
    int last = -1;
    for (const Registration& t : kTypes) {
        SCOPED_TRACE(t.name);
        const int rank = GPlugin::_typeList->indexOf(firstNamed(QLatin1String(t.name)));
        EXPECT_GT(rank, last);
        last = rank;
    }
}

TEST(FilterCatalogue_Registration, WidgetsExistExactlyForTheTypesWithPanels)
{
    const QStringList withPanel = {"UgFilter",    "DirectionFilter", "MetaFilter",         "AmFilter",
                                   "FswapFilter", "SixtyFourFilter", "IndexRecoveryFilter",
                                   "HistogramFilter", "GenericHistFilter"};
    for (const Registration& t : kTypes) {
        SCOPED_TRACE(t.name);
        std::unique_ptr<GPlugin> p(t.factory(nullptr, QStringLiteral("w")));
        EXPECT_EQ(p->getWidget() != nullptr, withPanel.contains(QLatin1String(t.className)));
    }
}

TEST(FilterCatalogue_Registration, ChainsKeepWorkingWhenThePageDeletedThePanelFirst)
{
    for (const Registration& t : kTypes) {
        SCOPED_TRACE(t.name);
        std::unique_ptr<GPlugin> p(t.factory(nullptr, QStringLiteral("w")));
        auto* rec = new RecordingPlugin;
        p->setSuccessor(rec);
        delete p->getWidget();
        EXPECT_EQ(p->getWidget(), nullptr);
        p->setDataOrder(GPlugin::forBack);
        p->setDataRangeX(4);
        p->setDataPhysX(1000);
        p->setDataEncoding(GPlugin::Int32Enc);
        p->init();
        const int words[8] = {1, 2, 3, 4, 5, 6, 7, int(0x80000001u)};
        p->setData(words, 8, 0);
        p->setOption(QStringLiteral("raw"), QStringLiteral("1"));
        p->setOption(QStringLiteral("depth"), QStringLiteral("2"));
        EXPECT_GT(rec->calls.size(), 0);
    }
}
