// The frame display on a page: a channel's scan reaches the image, and an accepted selection leaves the page as
// its selection signal.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "displays/waterfallplugin.h"
#include "framework/streamformat.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <gtest/gtest.h>

TEST(WaterfallPage, ChannelScanIsShownAndSelectionLeavesThePage)
{
    QMap<int, DataGroup> groups;
    DataGroup g;
    g.groupNumber = 0;
    g.name = QStringLiteral("G0");
    groups.insert(0, g);
    QObject owner;
    auto* channel = new Channel(0, &owner, groups);
    channel->setDataGroup(0);
    ViewPage page(nullptr, QStringLiteral("FramePage"), groups, false);
    page.setChannelList({channel});
    auto* fd =
        dynamic_cast<WaterfallPlugin*>(page.addPlugin(QStringLiteral("Frame Display"), QStringLiteral("fd"),
                                                      {QStringLiteral("displaytoolbar")}, {QStringLiteral("1")}));
    ASSERT_NE(fd, nullptr);
    channel->addPage(&page);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::forBack);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), 8);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeY), 4);
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::PhysX), 80); // x length
    channel->sendMetadata(StreamFormat::metaCode(StreamFormat::PhysY), 40);
    ASSERT_EQ(fd->getMeta().rangeX, 8);
    ASSERT_EQ(fd->getMeta().rangeY, 4);
    QVector<int> scan(64);
    for (int i = 0; i < scan.size(); ++i)
        scan[i] = i;
    channel->sendData(scan.constData(), scan.size(), 0);
    int v = -1;
    ASSERT_TRUE(fd->getWaterfall()->getValue(0, 3, true, &v));
    EXPECT_EQ(v, 0);
    ASSERT_TRUE(fd->getWaterfall()->getValue(0, 0, false, &v));
    EXPECT_EQ(v, 63);

    QSignalSpy range(&page, SIGNAL(rangeSelected(QRect, GPlugin::DataTrigger)));
    fd->setRgSelect(true);
    Waterfall* view = fd->getWaterfall();
    QMouseEvent down(QEvent::MouseButtonPress, QPoint(0, 0), Qt::LeftButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &down);
    QMouseEvent drag(QEvent::MouseMove, QPoint(7, 3), Qt::NoButton, Qt::LeftButton, Qt::NoModifier);
    QApplication::sendEvent(view, &drag);
    fd->acceptSelection();
    ASSERT_EQ(range.count(), 1);
    // 10 units per pixel in both axes: 70 x 30 units around the centre pixel (3, 1), which lies at (-5, 5).
    EXPECT_EQ(range.last().at(0).toRect(), QRect(-40, -10, 70, 30));
}
