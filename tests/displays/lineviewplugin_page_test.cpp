// The line display types in a page fed by a channel: built by catalogue name, fed with metadata and data, and
// their selections relayed by the page.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "displays/lineviewplugin.h"
#include "displays/polarplotplugin.h"
#include "framework/streamformat.h"

#include <QApplication>
#include <QMouseEvent>
#include <QSignalSpy>
#include <gtest/gtest.h>
#include <memory>

TEST(LineViewPlugin_Page, CatalogueTypesShowAChannel)
{
    for (const char* type : {"Line Display 2", "Double Line Display 2", "Parametric Display", "Polar Display"}) {
        SCOPED_TRACE(type);
        QMap<int, DataGroup> groups;
        DataGroup g;
        groups.insert(0, g);
        QObject owner;
        auto* channel = new Channel(0, &owner, groups);
        channel->setDataGroup(0);
        ViewPage page(nullptr, QStringLiteral("LinePage"), groups, false);
        page.setChannelList({channel});
        auto* lv = qobject_cast<LineViewPlugin*>(page.addPlugin(
            type, QStringLiteral("line"), {QStringLiteral("SelectPointXAddress")}, {QStringLiteral("9")}));
        ASSERT_NE(lv, nullptr);
        page.resize(500, 400);
        page.show();
        page.setChannelNo(0);
        channel->sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::forFor);
        channel->sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), 4);
        const int words[4] = {5, 6, 7, 8};
        channel->sendData(words, 4, 0);
        int points = 0;
        for (const LvCurve* c : lv->getView()->getCurves())
            points += c->points.size();
        EXPECT_EQ(points, 4);
        EXPECT_EQ(lv->getMeta().rangeX, 4);

        // A point selection leaves through the page.
        QSignalSpy spy(&page, &ViewPage::pointSelected);
        lv->setSelectMode(true, LineView::SelPointX);
        const QPoint at(20, 20);
        QMouseEvent press(QEvent::MouseButtonPress, at, lv->getView()->mapToGlobal(at), Qt::LeftButton, Qt::LeftButton,
                          Qt::NoModifier);
        QApplication::sendEvent(lv->getView(), &press);
        lv->onSelAccept(0);
        ASSERT_EQ(spy.count(), 1);
        EXPECT_EQ(spy.first().at(1).toInt(), 9);
    }
}
