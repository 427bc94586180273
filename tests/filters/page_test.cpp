// Every filter type and the text display in a page fed by a channel: built by catalogue name, given metadata and
// data, and passing a stream on to the plug-in after them.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "displays/txtplotplugin.h"
#include "framework/streamformat.h"
#include "support/recordingplugin.h"

#include <gtest/gtest.h>

namespace {

// A page on channel 0 of a one-group server; the chain is built by the test before `join()`.
struct ChannelPage
{
    ChannelPage() : groups{{0, DataGroup()}}, channel(new Channel(0, &owner, groups)),
                    page(nullptr, QStringLiteral("FilterPage"), groups, false)
    {
        channel->setDataGroup(0);
        page.setChannelList({channel});
    }
    void join() { page.setChannelNo(0); }

    QMap<int, DataGroup> groups;
    QObject owner;
    Channel* channel;
    ViewPage page;
};

} // namespace

TEST(Filters_Page, EveryTypeRunsInAPageFedByAChannel)
{
    const char* const types[] = {"Meta Data Filter",      "Underground Filter",      "Average Filter",
                                 "Scan Direction Filter", "Counter Filter",          "Para16 Filter",
                                 "Index Recovery Filter", "64Bit Filter",            "Missing Data Filter",
                                 "Index Correction Filter", "Frequency Swap Filter", "Derivative Filter",
                                 "AM Filter", "Generic Histogram Filter"};
    for (const char* type : types) {
        SCOPED_TRACE(type);
        ChannelPage cp;
        ASSERT_NE(cp.page.addPlugin(type, QStringLiteral("filter"), {}, {}), nullptr);
        auto* recorder = new RecordingPlugin;
        cp.page.addReceiver(recorder);
        cp.join();
        cp.channel->sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::cyclic);
        cp.channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), 8);
        cp.channel->sendMetadata(StreamFormat::metaCode(StreamFormat::PhysX), 100);
        cp.channel->sendMetadata(StreamFormat::metaCode(StreamFormat::UnitX), 0x480);
        const int words[16] = {1, 4, 9, 16, 25, 36, 49, 64, 2, 5, 10, 17, 26, 37, 50, 65};
        cp.channel->sendData(words, 16, 0);
        EXPECT_FALSE(recorder->calls.isEmpty());
    }
}

TEST(Filters_Page, TextDisplayShowsTheLastValueOfTheChannel)
{
    ChannelPage cp;
    auto* text = qobject_cast<TxtPlotPlugin*>(
        cp.page.addPlugin(QStringLiteral("Text Display"), QStringLiteral("value"), {}, {}));
    ASSERT_NE(text, nullptr);
    ASSERT_NE(text->getWidget(), nullptr);
    cp.join();
    cp.channel->sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::linear);
    const int words[3] = {7, 8, 9};
    cp.channel->sendData(words, 3, 0);
    ASSERT_TRUE(text->hasCurrentValue());
    EXPECT_DOUBLE_EQ(text->currentValue(), 9.0);
}
