// ViewPage: chain building by catalogue name, signal relays, channel selection and its selector, descriptions,
// controls, the persisted channel and closing.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "connectiontest.h"
#include "framework/streamformat.h"
#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotrequester.h"
#include "support/recordingplugin.h"
#include "utilif/error.h"

#include <QBoxLayout>
#include <QCloseEvent>
#include <QComboBox>
#include <QLabel>
#include <QPushButton>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>

namespace {

// A recording plug-in that knows its catalogue record and its stretch.
class CataloguedRecorder : public RecordingPlugin
{
public:
    CataloguedRecorder(const GPlugin::PluginDescriptor* d, const QString& name, int stretch)
        : RecordingPlugin(name, new QLabel(name)), stretch(stretch)
    {
        descriptor = d;
    }
    ~CataloguedRecorder() override { delete getWidget(); }
    int getStretch() override { return stretch; }
    int stretch;
};

GPlugin* nullFactory(QWidget*, QString)
{
    return nullptr;
}
extern const GPlugin::PluginDescriptor twinDescriptor;
GPlugin* twinFactory(QWidget*, QString name)
{
    return new CataloguedRecorder(&twinDescriptor, name, 3);
}
// Two records of the same name: the first one's factory fails, so the page goes on to the second.
const GPlugin::PluginDescriptor failingTwin(QStringLiteral("Test Twin"), QStringLiteral("fails"), 0, nullFactory);
const GPlugin::PluginDescriptor twinDescriptor(QStringLiteral("Test Twin"), QStringLiteral("works"), 0, twinFactory);

// Six channels: 0, 1 and 5 in group 0; 2 and 3 in group 1; 4 in the disabled group 2.
class PageTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int g = 0; g < 3; ++g) {
            DataGroup d;
            d.groupNumber = g;
            d.name = QStringLiteral("G%1").arg(g);
            d.tag = QStringLiteral("tag%1").arg(g);
            d.disabled = g == 2;
            groups.insert(g, d);
        }
        const int groupOf[] = {0, 0, 1, 1, 2, 0};
        for (int n = 0; n < 6; ++n) {
            channels.append(new Channel(n, &owner, groups));
            channels[n]->setDataGroup(groupOf[n]);
        }
        page = std::make_unique<ViewPage>(nullptr, pageName(), groups, false);
        page->setChannelList(channels);
        combo = page->findChild<QComboBox*>();
    }
    static QString pageName()
    {
        return QString::fromLatin1(::testing::UnitTest::GetInstance()->current_test_info()->name());
    }
    QList<int> listed() const
    {
        QList<int> numbers;
        for (int i = 0; i < combo->count(); ++i)
            numbers.append(combo->itemText(i).section(QLatin1Char(':'), 0, 0).toInt());
        return numbers;
    }

    QObject owner;
    QMap<int, DataGroup> groups;
    QVector<Channel*> channels;
    std::unique_ptr<ViewPage> page;
    QComboBox* combo = nullptr;
};

} // namespace

TEST(ViewPage, BuildsChainByCatalogueNameWithOptions)
{
    QMap<int, DataGroup> groups;
    ViewPage page(nullptr, QStringLiteral("ChainPage"), groups, true);
    EXPECT_EQ(page.getStretch(), 0);
    EXPECT_EQ(page.addPlugin(QStringLiteral("No Such Type"), QStringLiteral("x"), {}, {}), nullptr);
    EXPECT_EQ(page.getReceiver(), nullptr);

    auto* first = static_cast<RecordingPlugin*>(
        page.addPlugin(QStringLiteral("Test Twin"), QStringLiteral("one"), {QStringLiteral("Gain")}, {QStringLiteral("5")}));
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->getDescriptor(), &twinDescriptor);
    EXPECT_EQ(first->options, QStringList{QStringLiteral("Gain=5")});
    // Left-aligned: plug-in widgets go into the inner layout, not the page's own.
    EXPECT_EQ(page.layout()->indexOf(first->getWidget()), -1);

    // "leftalign" is recognised in any case and still passed on unchanged; later widgets span the page.
    auto* second = static_cast<RecordingPlugin*>(page.addPlugin(QStringLiteral("Test Twin"), QStringLiteral("two"),
                                                                {QStringLiteral("LeftAlign")}, {QStringLiteral("0")}));
    ASSERT_NE(second, nullptr);
    EXPECT_EQ(second->options, QStringList{QStringLiteral("LeftAlign=0")});
    EXPECT_GE(page.layout()->indexOf(second->getWidget()), 0);

    EXPECT_EQ(page.getReceiver(), first);
    EXPECT_EQ(first->getSuccessor(), second);
    EXPECT_EQ(page.getPlugins(), (QStringList{QStringLiteral("Test Twin"), QStringLiteral("Test Twin")}));
    EXPECT_EQ(page.getStretch(), 6);
    EXPECT_EQ(page.sizePolicy().horizontalPolicy(), QSizePolicy::MinimumExpanding);
}

TEST_F(PageTest, RelaysPluginSignalsAndReplaysOnRequest)
{
    auto* plugin = new RecordingPlugin;
    page->addReceiver(plugin);
    QSignalSpy points(page.get(), &ViewPage::pointSelected);
    QSignalSpy ranges(page.get(), &ViewPage::rangeSelected);
    QSignalSpy grids(page.get(), &ViewPage::gridSelected);
    QSignalSpy telegrams(page.get(), &ViewPage::genericTel);
    QSignalSpy status(page.get(), &ViewPage::statusChanged);
    QSignalSpy partner(page.get(), &ViewPage::searchPluginIn);
    emit plugin->pointSelected(1, 2, 3);
    emit plugin->rangeSelected(QRect(1, 2, 3, 4), GPlugin::spec1);
    emit plugin->gridSelected(PathList{{1, 2}}, 4, 5, GPlugin::scanner);
    int word = 0;
    emit plugin->sendGenericTelegram(&word);
    emit plugin->statusChanged(QStringLiteral("hello"), 5, 2);
    emit plugin->searchPartner(QStringLiteral("peer"), plugin);
    ASSERT_EQ(points.size(), 1);
    EXPECT_EQ(points[0].at(2).value<Int32>(), 3);
    ASSERT_EQ(ranges.size(), 1);
    EXPECT_EQ(ranges[0].at(1).value<GPlugin::DataTrigger>(), GPlugin::spec1);
    EXPECT_EQ(grids.size(), 1);
    ASSERT_EQ(telegrams.size(), 1);
    EXPECT_EQ(telegrams[0].at(0).value<void*>(), &word);
    ASSERT_EQ(status.size(), 1);
    EXPECT_EQ(status[0].at(2).toInt(), 2);
    EXPECT_EQ(partner.size(), 1);

    // A plug-in asking for the last frame gets the channel's replay.
    page->setChannelNo(1);
    channels[1]->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), 77);
    plugin->clear();
    emit plugin->requestLastFrame();
    ASSERT_TRUE(QTest::qWaitFor([&]() { return plugin->count(QStringLiteral("init")) == 1; }, 2000));
    EXPECT_EQ(plugin->lastValue(QStringLiteral("setDataRangeX")), 77);
}

TEST_F(PageTest, MovesBetweenChannelsAndListsTheGroup)
{
    QSignalSpy changes(page.get(), &ViewPage::channelChange);
    page->setChannelNo(1);
    EXPECT_EQ(page->getChannelNo(), 1);
    EXPECT_TRUE(channels[1]->getPages().contains(page.get()));
    EXPECT_EQ(page->getChannelSetting().storedValue(), QStringLiteral("1"));
    ASSERT_FALSE(changes.isEmpty());
    EXPECT_EQ(changes.last().at(0).toInt(), 1);
    EXPECT_EQ(listed(), (QList<int>{0, 1, 5})); // the channels of group 0
    EXPECT_EQ(combo->currentIndex(), 1);

    // A channel of another group is listed but does not pull the page out of its group...
    page->setChannelNo(3);
    EXPECT_EQ(page->getChannelNo(), 1);
    EXPECT_EQ(listed(), (QList<int>{0, 1, 3, 5}));
    // ...until the page is given that group.
    page->setDataGroup(1);
    EXPECT_EQ(page->getChannelNo(), 3);
    EXPECT_FALSE(channels[1]->getPages().contains(page.get()));
    EXPECT_TRUE(channels[3]->getPages().contains(page.get()));
    EXPECT_EQ(listed(), (QList<int>{2, 3}));

    // A channel that does not exist yet is remembered and taken when it appears.
    page->setChannelNo(7);
    EXPECT_EQ(page->getChannelNo(), 3);
    QVector<Channel*> more = channels;
    for (int n = 6; n < 8; ++n) {
        more.append(new Channel(n, &owner, groups));
        more[n]->setDataGroup(1);
    }
    page->setChannelList(more);
    EXPECT_EQ(page->getChannelNo(), 7);
    EXPECT_TRUE(more[7]->getPages().contains(page.get()));

    // Mode 2 lists every enabled channel (not those of the disabled group).
    page->setSelectMode(ViewPage::selectAll);
    EXPECT_EQ(listed(), (QList<int>{0, 1, 2, 3, 5, 6, 7}));

    // The user's pick in the selector wins over the channel asked for before.
    combo->setCurrentIndex(1);
    emit combo->activated(1);
    EXPECT_EQ(page->getChannelNo(), 1);
    page->setChannelList(more);
    EXPECT_EQ(page->getChannelNo(), 1);
}

TEST_F(PageTest, ChannelSettingChangedElsewhereMovesThePage)
{
    page->setChannelNo(0);
    Savable other(nullptr, QStringLiteral("ChannelNumber"), pageName(), false, nullptr);
    other.setValue(5);
    EXPECT_EQ(page->getChannelNo(), 5);
    EXPECT_TRUE(channels[5]->getPages().contains(page.get()));
    EXPECT_FALSE(channels[0]->getPages().contains(page.get()));
}

TEST_F(PageTest, SnapshotWiringFollowsTheChannel)
{
    SnapshotMgr display(QStringLiteral("PageTestDisplay"), nullptr, nullptr, -1, nullptr);
    display.setDisplay(page.get());
    page->setChannelNo(2);
    EXPECT_EQ(display.getInput(), channels[2]->getSnapshotManager());
    EXPECT_EQ(page->getRequester()->getTag(), QStringLiteral("tag1"));

    // Leaving for the group's other channel rewires the display's manager.
    combo->setCurrentIndex(combo->findText(page->makeChannelDescr(channels[3])));
    emit combo->activated(combo->currentIndex());
    EXPECT_EQ(page->getChannelNo(), 3);
    EXPECT_EQ(display.getInput(), channels[3]->getSnapshotManager());
}

TEST(ViewPage, DescriptionsFollowTheGroupFlags)
{
    DataGroup g;
    g.name = QStringLiteral("Scan");
    struct Case
    {
        const char* name;
        bool number, channelName, signal, group, sampleTime;
        int period, signalNo;
        QString expected;
    };
    const Case cases[] = {
        {"number and name", true, true, false, false, false, 4, 1, QStringLiteral("3: Channel_3")},
        {"group suffix", false, true, false, true, false, 4, 1, QStringLiteral("Channel_3 (Scan)")},
        {"signal caption", false, false, true, false, false, 4, 1, QStringLiteral("Current")},
        {"unknown signal", false, false, true, false, false, 4, 9, QStringLiteral("Signal 9")},
        {"sample time", false, false, false, true, true, 4, 1,
         QStringLiteral(" (") + GPlugin::formatValue(10.0, 0x47e, 0, ' ', 4) + QStringLiteral(")")},
        {"sample time without period", false, false, false, true, true, 0, 1, QStringLiteral(" (Scan)")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        g.showNumber = c.number;
        g.showName = c.channelName;
        g.showSignal = c.signal;
        g.showGroup = c.group;
        g.sampleTime = c.sampleTime;
        EXPECT_EQ(ViewPage::buildChannelDescriptor(&g, 3, QStringLiteral("Channel_3"), c.period, c.signalNo,
                                                   QStringLiteral("Topography,Current")),
                  c.expected);
    }
    EXPECT_EQ(ViewPage::buildChannelDescriptor(nullptr, 3, QStringLiteral("Alone"), 4, 1, QString()),
              QStringLiteral("Alone"));
}

TEST_F(PageTest, ControlsShowAsAskedAndTheDialogNamesTheGroup)
{
    QWidget source, sampleTime, average;
    page->setChannelControlWidgets(&source, &sampleTime, &average);
    groups[0].showSource = true;
    groups[0].showAverage = true;
    page->setChannelNo(0);
    page->updateDisplay();
    EXPECT_TRUE(source.isVisibleTo(page.get()));
    EXPECT_FALSE(sampleTime.isVisibleTo(page.get()));
    EXPECT_TRUE(average.isVisibleTo(page.get()));
    EXPECT_FALSE(combo->isVisibleTo(page.get())); // group select mode 0: no selector

    page->showChannelControls(false, true, false); // explicit choice: no longer taken from the group
    EXPECT_FALSE(source.isVisibleTo(page.get()));
    EXPECT_TRUE(sampleTime.isVisibleTo(page.get()));

    auto* frame = combo->parentWidget();
    page->showChannelControls(false, false, false);
    page->showSnapshotButtons(false);
    EXPECT_FALSE(frame->isVisibleTo(page.get()));
    page->setSelectMode(ViewPage::selectAll);
    EXPECT_TRUE(frame->isVisibleTo(page.get()));
    EXPECT_TRUE(combo->isVisibleTo(page.get()));

    QSignalSpy dialog(page.get(), &ViewPage::channelDialogRequestByDGroup);
    page->setChannelNo(2);
    page->findChildren<QPushButton*>().last()->click();
    ASSERT_EQ(dialog.size(), 1);
    EXPECT_EQ(dialog[0].at(0).toInt(), 1);
}

TEST(ViewPage, CloseEventEndsTheClosingConnections)
{
    QMap<int, DataGroup> groups;
    auto page = std::make_unique<ViewPage>(nullptr, QStringLiteral("ClosingPage"), groups, false);
    int closings = 0;
    QObject::connect(page.get(), &ViewPage::closing, [&closings]() { ++closings; });
    QCloseEvent event;
    QCoreApplication::sendEvent(page.get(), &event);
    EXPECT_TRUE(event.isAccepted());
    EXPECT_EQ(closings, 1);
    page.reset();
    EXPECT_EQ(closings, 1);
}

namespace {

// A plug-in that breaks the rule that options never throw, to show that the page still survives it.
class ThrowingOptions : public RecordingPlugin
{
public:
    using RecordingPlugin::RecordingPlugin;
    void setOption(QString key, QString value) override
    {
        RecordingPlugin::setOption(key, value);
        if (key == QLatin1String("huge"))
            throw OomError();
    }
};
GPlugin* throwingFactory(QWidget*, QString name)
{
    return new ThrowingOptions(name);
}
const GPlugin::PluginDescriptor throwingType(QStringLiteral("Test Throwing Options"), QStringLiteral("t"), 0,
                                             throwingFactory);

} // namespace

TEST(ViewPage, AnOptionThatRunsOutOfMemoryIsReportedAndTheLayoutGoesOn)
{
    QMap<int, DataGroup> groups;
    ViewPage page(nullptr, QStringLiteral("OomPage"), groups, true);
    QSignalSpy status(&page, &ViewPage::statusChanged);
    // The frame display reports a frame that does not fit; the report reaches the host through the page.
    GPlugin* frame = nullptr;
    EXPECT_NO_THROW(frame = page.addPlugin(QStringLiteral("Frame Display"), QStringLiteral("f"),
                                           {QStringLiteral("datarangex"), QStringLiteral("datarangey")},
                                           {QStringLiteral("100000"), QStringLiteral("100000")}));
    ASSERT_NE(frame, nullptr);
    ASSERT_GE(status.count(), 1);
    EXPECT_TRUE(status[0][0].toString().startsWith("Not enough memory for a frame of 100000 x"));
    EXPECT_EQ(status[0][2].toInt(), 2);

    status.clear();
    GPlugin* odd = nullptr;
    EXPECT_NO_THROW(odd = page.addPlugin(QStringLiteral("Test Throwing Options"), QStringLiteral("t"),
                                         {QStringLiteral("huge"), QStringLiteral("next")},
                                         {QStringLiteral("1"), QStringLiteral("2")}));
    ASSERT_NE(odd, nullptr);
    EXPECT_EQ(static_cast<RecordingPlugin*>(odd)->options, (QStringList{"huge=1", "next=2"}));
    ASSERT_EQ(status.count(), 1);
    EXPECT_EQ(status[0][0].toString(), "Not enough memory for option huge=1 of t; the option is ignored");
    EXPECT_EQ(page.getReceiver(), frame);
    EXPECT_EQ(frame->getSuccessor(), odd);
}
