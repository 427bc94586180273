// Stream health in the viewer, against the in-process simulator with faults injected.
#include "layoutfile.h"
#include "streamsview.h"
#include "testtypes.h"
#include "viewerwindow.h"

#include "connection/channel.h"
#include "connection/viewpage.h"
#include "simserver.h"

#include <QDockWidget>
#include <QTableWidget>
#include <gtest/gtest.h>

TEST(ViewerWindow, StreamsViewShowsPausedDroppingAndStalledChannels)
{
    SimServer sim;
    ASSERT_TRUE(sim.listen(0)) << qPrintable(sim.errorString());
    QString error;
    ASSERT_TRUE(SimServer::applyFaults(&sim, {QStringLiteral("2:3")}, {QStringLiteral("1")}, QString(), &error))
        << qPrintable(error);
    EXPECT_FALSE(SimServer::applyFaults(&sim, {QStringLiteral("9:3")}, {}, QString(), &error));
    EXPECT_FALSE(SimServer::applyFaults(&sim, {}, {QStringLiteral("x")}, QString(), &error));
    EXPECT_FALSE(SimServer::applyFaults(&sim, {}, {}, QStringLiteral("1"), &error));

    ViewerWindow w;
    ViewerLayout layout;
    ASSERT_TRUE(LayoutFile::parse(LayoutFile::demoLayout(), QStringLiteral("demo"), &layout, &error))
        << qPrintable(error);
    ASSERT_TRUE(w.loadLayout(layout, &error)) << qPrintable(error);
    w.connectTo(QStringLiteral("127.0.0.1"), sim.serverPort());
    const QVector<Channel*> channels = w.subscribedChannels();
    ASSERT_GE(channels.size(), 3);
    ASSERT_TRUE(pollUntil([&] { return channels[2]->health().indexGaps > 0 && channels[0]->health().words > 0; }));
    EXPECT_GT(channels[2]->health().wordsMissed, 0);
    EXPECT_EQ(channels[1]->health().words, 0);
    EXPECT_EQ(channels[1]->health().state(), ChannelHealth::NoData);
    EXPECT_EQ(channels[0]->health().indexGaps, 0);

    // View > Streams: one row per subscribed channel.
    w.streamsDock()->show();
    w.refreshHealth();
    auto* table = w.streamsDock()->findChild<QTableWidget*>();
    ASSERT_NE(table, nullptr);
    ASSERT_EQ(table->rowCount(), channels.size());
    EXPECT_EQ(table->item(1, 2)->text(), QStringLiteral("no data"));
    EXPECT_EQ(table->item(2, 2)->text(), QStringLiteral("live"));
    EXPECT_NE(table->item(2, 9)->text(), QStringLiteral("0"));

    // The server hangs: the streams go stale, the indicator says so and the pages are marked.
    sim.stall(60000);
    ASSERT_TRUE(pollUntil([&] { return w.receivingText() == QLatin1String("Stalled"); }))
        << qPrintable(w.receivingText());
    int marked = 0;
    for (int i = 0; i < w.pages().size(); ++i)
        if (w.pageTitle(i).contains(QStringLiteral("stale")))
            ++marked;
    EXPECT_GT(marked, 0);
    for (const QString& line : w.healthSummary())
        EXPECT_TRUE(line.startsWith(QStringLiteral("Channel "))) << qPrintable(line);
    EXPECT_TRUE(w.healthSummary().at(1).contains(QStringLiteral("no data")));
    sim.stall(0);
}
