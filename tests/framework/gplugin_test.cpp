#include "framework/gplugin.h"
#include "support/recordingplugin.h"

#include <QLabel>
#include <QPointer>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct Bare : GPlugin
{
    Bare() : GPlugin(nullptr, QStringLiteral("bare"), nullptr) {}
};

} // namespace

TEST(GPlugin_Chain, BarePluginAcceptsEverythingAndDoesNothing)
{
    Bare p;
    const int words[3] = {1, 2, 3};
    p.init();
    p.setDataOrder(GPlugin::forBack);
    p.setDataRangeX(5);
    p.setDataUnitVal(0x280);
    p.setFixXY(true);
    p.setData(words, 3, 0);
    p.setDataOdd(words, 5, 0);
    p.setData(nullptr, 0, 0);
    p.setDialEvent(1, 2);
    p.updateCondition(3);
    p.setHighlighted(true);
    EXPECT_EQ(p.getWidget(), nullptr);
    EXPECT_EQ(p.getStretch(), 0);
    EXPECT_EQ(p.getSnapshotManager(), nullptr);
    EXPECT_EQ(p.getForeignMenu(), nullptr);
    EXPECT_TRUE(p.getToolTip(QPoint(1, 1)).isEmpty());
}

TEST(GPlugin_Chain, EveryBaseSetterForwardsUnchangedInOrder)
{
    auto head = std::make_unique<Bare>();
    auto* tail = new RecordingPlugin;
    head->setSuccessor(tail);
    head->setDataOrder(GPlugin::backFor);
    head->setDataEncoding(GPlugin::coord3d);
    head->setDataBinning(0x0a0b0c);
    head->setDataRangeX(1);
    head->setDataRangeY(2);
    head->setDataRangeZ(3);
    head->setDataOffsetX(4);
    head->setDataOffsetY(5);
    head->setDataOffsetZ(6);
    head->setDataOffsetVal(7);
    head->setDataPhysX(8);
    head->setDataPhysY(9);
    head->setDataPhysZ(10);
    head->setDataPhysVal(11);
    head->setDataPhysValNumerator(12);
    head->setDataTrigger(GPlugin::spec2);
    head->setDataRotation(-16384);
    head->setDataUnitX(0x17e);
    head->setDataUnitZ(0x480);
    head->setDataUnitVal(0x280);
    head->setFixXY(true);
    head->setDataScanSpeed(13);
    head->init();
    const int words[] = {7, -8, 9};
    head->setData(words, 3, 42);
    head->setDataOdd(words, 7, 1);
    const QStringList expected = {
        "setDataOrder 6",       "setDataEncoding 2",      "setDataBinning 658188",
        "setDataRangeX 1",      "setDataRangeY 2",        "setDataRangeZ 3",
        "setDataOffsetX 4",     "setDataOffsetY 5",       "setDataOffsetZ 6",
        "setDataOffsetVal 7",   "setDataPhysX 8",         "setDataPhysY 9",
        "setDataPhysZ 10",      "setDataPhysVal 11",      "setDataPhysValNumerator 12",
        "setDataTrigger 5",     "setDataRotation -16384", "setDataUnitX 382",
        "setDataUnitZ 1152",    "setDataUnitVal 640",     "setFixXY 1",
        "setDataScanSpeed 13",  "init",                   "setData 3 @42: 7 -8 9",
        "setDataOdd 7 @1"};
    EXPECT_EQ(tail->calls, expected);
}

TEST(GPlugin_Chain, DeletingHeadDeletesWholeChain)
{
    auto* head = new Bare;
    QPointer<RecordingPlugin> mid = new RecordingPlugin(QStringLiteral("mid"));
    QPointer<RecordingPlugin> tail = new RecordingPlugin(QStringLiteral("tail"));
    head->setSuccessor(mid);
    mid->setSuccessor(tail);
    EXPECT_EQ(tail->getPredecessor(), mid.data());
    delete head;
    EXPECT_TRUE(mid.isNull());
    EXPECT_TRUE(tail.isNull());
}

TEST(GPlugin_Chain, DeletingMiddleUnlinksItFromPredecessor)
{
    auto head = std::make_unique<Bare>();
    auto* mid = new RecordingPlugin;
    head->setSuccessor(mid);
    delete mid;
    EXPECT_EQ(head->getSuccessor(), nullptr);
    head->setDataRangeX(5); // must not reach a dangling successor
}

TEST(GPlugin_Chain, SetSuccessorNullIsIgnoredAndReplacedSuccessorSurvives)
{
    auto head = std::make_unique<Bare>();
    auto first = std::make_unique<RecordingPlugin>(QStringLiteral("first"));
    head->setSuccessor(first.get());
    head->setSuccessor(nullptr);
    EXPECT_EQ(head->getSuccessor(), first.get());
    auto* second = new RecordingPlugin(QStringLiteral("second"));
    head->setSuccessor(second);
    EXPECT_EQ(head->getSuccessor(), second);
    first->setDataRangeX(1); // still alive
    EXPECT_EQ(first->count("setDataRangeX"), 1);
    first->setSuccessor(new Bare); // owned by first from here on
}

TEST(GPlugin_PeerEvents, ReachOwnPluginThenTheChainInTheGivenDirection)
{
    auto* a = new RecordingPlugin(QStringLiteral("a"));
    auto* b = new RecordingPlugin(QStringLiteral("b"));
    auto* c = new RecordingPlugin(QStringLiteral("c"));
    std::unique_ptr<GPlugin> owner(a);
    a->setSuccessor(b);
    b->setSuccessor(c);

    a->sendEventToPeers(QStringLiteral("Key"), QStringLiteral("1"), true);
    EXPECT_EQ(a->options, QStringList{"Key=1"});
    EXPECT_TRUE(b->options.isEmpty());

    a->sendEventToPeers(QStringLiteral("Key"), QStringLiteral("2"), false);
    EXPECT_EQ(b->options, QStringList{"Key=2"});
    EXPECT_EQ(c->options, QStringList{"Key=2"});

    c->sendEventToPeers(QStringLiteral("Up"), QStringLiteral("3"), true);
    EXPECT_EQ(a->options.last(), "Up=3");
    EXPECT_EQ(b->options.last(), "Up=3");
    EXPECT_EQ(c->options.last(), "Up=3");
}

TEST(GPlugin_Widget, StretchAndHighlightFollowTheWidget)
{
    QLabel label;
    RecordingPlugin p(QStringLiteral("w"), &label);
    EXPECT_EQ(p.getStretch(), 1);
    const QColor before = label.palette().color(label.backgroundRole());
    p.setHighlighted(true);
    EXPECT_EQ(label.palette().color(label.backgroundRole()), QColor(180, 100, 100));
    p.setHighlighted(false);
    EXPECT_EQ(label.palette().color(label.backgroundRole()), before);
}

TEST(GPlugin_Prefs, DefaultsAndNullIsIgnored)
{
    const GPlugin::PrefData* original = GPlugin::prefs();
    EXPECT_EQ(*GPlugin::dfltPrefs.graphicType, "PNG");
    EXPECT_TRUE(GPlugin::dfltPrefs.snapshotDir->isEmpty());
    EXPECT_FALSE(*GPlugin::dfltPrefs.ascMatrix);
    EXPECT_EQ(*GPlugin::dfltPrefs.layoutMargin, 3);
    EXPECT_EQ(*GPlugin::dfltPrefs.layoutSpacing, 3);

    QString type = QStringLiteral("JPG"), dir = QStringLiteral("/tmp");
    bool flag = true;
    int zero = 0, margin = 7;
    GPlugin::PrefData mine = {&type, &dir, &flag, &flag, &flag, &zero, &zero, &margin, &margin};
    GPlugin::setPrefs(&mine);
    GPlugin::setPrefs(nullptr);
    EXPECT_EQ(GPlugin::prefs(), &mine);
    type = QStringLiteral("BMP"); // the host may change values at any time
    EXPECT_EQ(*GPlugin::prefs()->graphicType, "BMP");
    GPlugin::setPrefs(original);
}

TEST(GPlugin_Signals, AttachWidgetEmitsAttachWithSelf)
{
    Bare p;
    bool got = false;
    GPlugin* who = nullptr;
    QObject::connect(&p, &GPlugin::attach, [&](bool a, GPlugin* w) {
        got = a;
        who = w;
    });
    p.attachWidget(true);
    EXPECT_TRUE(got);
    EXPECT_EQ(who, &p);
}

TEST(GPlugin_Signals, StringFormConnectionsMatch)
{
    Bare a, b;
    // The page relays with string signatures; they must resolve with the registered metatypes.
    EXPECT_TRUE(QObject::connect(&a, SIGNAL(rangeSelected(QRect,GPlugin::DataTrigger)), &b,
                                 SIGNAL(rangeSelected(QRect,GPlugin::DataTrigger))));
    EXPECT_TRUE(QObject::connect(&a, SIGNAL(gridSelected(PathList,Int32,Int32,GPlugin::DataTrigger)), &b,
                                 SIGNAL(gridSelected(PathList,Int32,Int32,GPlugin::DataTrigger))));
    EXPECT_TRUE(QObject::connect(&a, SIGNAL(searchPartner(QString,GPlugin*)), &b,
                                 SLOT(checkForPartner(QString,GPlugin*))));
    EXPECT_TRUE(QObject::connect(&a, SIGNAL(pointSelected(Int32,Int32,Int32)), &b,
                                 SIGNAL(pointSelected(Int32,Int32,Int32))));
}
