#include "filterchain.h"
#include "filters/metafilter.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSignalSpy>
#include <functional>
#include <gtest/gtest.h>

namespace {

struct Setter
{
    const char* name;
    std::function<void(GPlugin*, int)> call;
};

// The fifteen properties in the order of the selector.
const Setter kSetters[] = {
    {"setDataOrder", [](GPlugin* p, int v) { p->setDataOrder(GPlugin::DataOrder(v)); }},
    {"setDataEncoding", [](GPlugin* p, int v) { p->setDataEncoding(GPlugin::DataEncoding(v)); }},
    {"setDataBinning", [](GPlugin* p, int v) { p->setDataBinning(v); }},
    {"setDataRangeX", [](GPlugin* p, int v) { p->setDataRangeX(v); }},
    {"setDataRangeY", [](GPlugin* p, int v) { p->setDataRangeY(v); }},
    {"setDataOffsetX", [](GPlugin* p, int v) { p->setDataOffsetX(v); }},
    {"setDataOffsetY", [](GPlugin* p, int v) { p->setDataOffsetY(v); }},
    {"setDataPhysX", [](GPlugin* p, int v) { p->setDataPhysX(v); }},
    {"setDataPhysY", [](GPlugin* p, int v) { p->setDataPhysY(v); }},
    {"setDataPhysVal", [](GPlugin* p, int v) { p->setDataPhysVal(v); }},
    {"setDataTrigger", [](GPlugin* p, int v) { p->setDataTrigger(GPlugin::DataTrigger(v)); }},
    {"setDataRotation", [](GPlugin* p, int v) { p->setDataRotation(v); }},
    {"setDataUnitX", [](GPlugin* p, int v) { p->setDataUnitX(v); }},
    {"setDataUnitVal", [](GPlugin* p, int v) { p->setDataUnitVal(v); }},
    {"setDataOffsetVal", [](GPlugin* p, int v) { p->setDataOffsetVal(v); }},
};

void select(MetaFilter* f, int index)
{
    f->selector()->setCurrentIndex(index);
    emit f->selector()->activated(index);
}

void type(MetaFilter* f, const QString& text)
{
    f->valueField()->setText(text);
    emit f->valueField()->returnPressed();
}

} // namespace

TEST(MetaFilter_PassThrough, EveryPropertyGoesOnAndIsShown)
{
    FilterChain<MetaFilter> chain;
    EXPECT_TRUE(chain->valueField()->text().isEmpty()); // nothing arrived yet
    EXPECT_TRUE(chain->valueField()->isReadOnly());
    ASSERT_EQ(chain->selector()->count(), MetaFilter::PropertyCount);
    for (int i = 0; i < MetaFilter::PropertyCount; ++i) {
        SCOPED_TRACE(kSetters[i].name);
        EXPECT_EQ(QStringLiteral("set") + chain->selector()->itemText(i), QLatin1String(kSetters[i].name));
        select(chain.filter.get(), i);
        kSetters[i].call(chain.filter.get(), 100 + i);
        EXPECT_EQ(chain.rec->lastValue(QLatin1String(kSetters[i].name)), 100 + i);
        int stored = 0;
        EXPECT_TRUE(chain->storedValue(i, &stored));
        EXPECT_EQ(stored, 100 + i);
        EXPECT_EQ(chain->valueField()->text(), QString::number(100 + i));
        EXPECT_FALSE(chain->valueField()->toolTip().isEmpty());
    }
    select(chain.filter.get(), 0);
    EXPECT_TRUE(chain->valueField()->toolTip().startsWith(QStringLiteral("Beschreibt die Reihenfolge")));
    select(chain.filter.get(), 2);
    EXPECT_TRUE(chain->valueField()->toolTip().endsWith(QStringLiteral("die Summe darf 27 nicht übersteigen.")));
    chain->changeMeta(15);
    EXPECT_EQ(chain->valueField()->text(), QStringLiteral("invalid selction15"));
}

TEST(MetaFilter_Override, IncomingValuesAreDroppedOthersStillPass)
{
    FilterChain<MetaFilter> chain;
    chain->setDataOrder(GPlugin::forBack);
    chain->overrideCheckBox()->setChecked(true);
    EXPECT_FALSE(chain->isPassingThrough());
    EXPECT_FALSE(chain->valueField()->isReadOnly());
    chain.rec->clear();
    for (int i = 0; i < MetaFilter::PropertyCount; ++i)
        kSetters[i].call(chain.filter.get(), 7);
    EXPECT_TRUE(chain.rec->calls.isEmpty());
    EXPECT_EQ(chain->valueField()->text(), QStringLiteral("4")); // still the last value that passed
    chain->setFixXY(true);
    chain->setDataScanSpeed(12);
    chain->setDataRangeZ(3);
    chain->setDataPhysValNumerator(5);
    chain.feed({1, 2}, 6);
    EXPECT_EQ(chain.rec->calls, QStringList({"setFixXY 1", "setDataScanSpeed 12", "setDataRangeZ 3",
                                             "setDataPhysValNumerator 5", "setData 2 @6: 1 2"}));
    chain->overrideCheckBox()->setChecked(false);
    chain->setDataOrder(GPlugin::cyclic);
    EXPECT_EQ(chain.rec->lastValue("setDataOrder"), 2);
    EXPECT_TRUE(chain->valueField()->isReadOnly());
}

TEST(MetaFilter_Edit, TypedValueGoesOnAndAChangeAsksForTheFrame)
{
    struct Case
    {
        const char* what;
        int selection;
        const char* setter;
        const char* text;
        bool forwarded;
        int replays;
    };
    // Before each case the order is 4 and the value offset 10 (both passed from upstream).
    const Case cases[] = {
        {"new order", 0, "setDataOrder", "3", true, 1},
        {"same order", 0, "setDataOrder", "4", true, 0},
        {"new offset", 14, "setDataOffsetVal", "-20", true, 1},
        {"same offset", 14, "setDataOffsetVal", "10", true, 0},
        {"first value of a property never seen", 4, "setDataRangeY", "64", true, 1},
        {"text", 0, "setDataOrder", "abc", false, 0},
        {"hex is not decimal", 0, "setDataOrder", "0x3", false, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        FilterChain<MetaFilter> chain;
        QSignalSpy replay(chain.filter.get(), &GPlugin::requestLastFrame);
        chain->setDataOrder(GPlugin::forBack);
        chain->setDataOffsetVal(10);
        chain.rec->clear();
        select(chain.filter.get(), c.selection);
        type(chain.filter.get(), QLatin1String(c.text)); // works whatever the check box says
        if (c.forwarded)
            EXPECT_EQ(chain.rec->calls,
                      QStringList({QStringLiteral("%1 %2").arg(QLatin1String(c.setter), QLatin1String(c.text))}));
        else
            EXPECT_TRUE(chain.rec->calls.isEmpty());
        EXPECT_EQ(replay.count(), c.replays);
    }
}

TEST(MetaFilter_Raw, ButtonResetsInterpretationAndAsksForTheFrame)
{
    FilterChain<MetaFilter> chain;
    QSignalSpy replay(chain.filter.get(), &GPlugin::requestLastFrame);
    chain->rawButton()->click();
    EXPECT_EQ(chain.rec->calls, QStringList({"setDataPhysVal 2", "setDataEncoding 0", "setDataPhysVal 1",
                                             "setDataUnitVal 128", "setDataOffsetVal 0"}));
    EXPECT_EQ(replay.count(), 1);
    EXPECT_TRUE(chain->overrideCheckBox()->isChecked());
    EXPECT_FALSE(chain->isPassingThrough());
    EXPECT_FALSE(chain->valueField()->isReadOnly());
    int unit = 0;
    EXPECT_TRUE(chain->storedValue(MetaFilter::UnitVal, &unit));
    EXPECT_EQ(unit, 128);
}

TEST(MetaFilter_Raw, OptionRawOneDoesTheSameWithoutEncodingAndReplay)
{
    struct Case
    {
        const char* key;
        const char* value;
        bool applied;
    };
    const Case cases[] = {
        {"raw", "1", true}, {"RAW", "1", true}, {"raw", "2", false}, {"raw", "x", false}, {"other", "1", false}};
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << c.key << "=" << c.value);
        FilterChain<MetaFilter> chain;
        QSignalSpy replay(chain.filter.get(), &GPlugin::requestLastFrame);
        chain->setOption(QLatin1String(c.key), QLatin1String(c.value));
        EXPECT_EQ(chain->overrideCheckBox()->isChecked(), c.applied);
        EXPECT_EQ(chain.rec->calls, c.applied ? QStringList({"setDataPhysVal 2", "setDataPhysVal 1",
                                                             "setDataUnitVal 128", "setDataOffsetVal 0"})
                                              : QStringList());
        EXPECT_EQ(replay.count(), 0);
    }
}

TEST(MetaFilter_Init, ReachesTheLaterPlugins)
{
    FilterChain<MetaFilter> chain;
    chain->setDataOrder(GPlugin::cyclic);
    chain->init();
    EXPECT_EQ(chain.rec->calls.last(), QStringLiteral("init"));
    int order = 0;
    EXPECT_TRUE(chain->storedValue(MetaFilter::Order, &order)); // the filter keeps what it has
    EXPECT_EQ(chain->getWidget()->findChildren<QWidget*>().size(), 4);
}
