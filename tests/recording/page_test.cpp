// Both writers as catalogue types in a page fed by a channel: found in their catalogue places, passing the stream on,
// and recording what the channel sends.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "recording/discwriterplugin.h"
#include "recording/syncwriterplugin.h"
#include "support/recordingplugin.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(Recording_Page, WritersAreCataloguedAndRecordAChannel)
{
    // In catalogue order: right after the 3D histogram display.
    const QList<const GPlugin::PluginDescriptor*>* types = ViewPage::getPluginTypes();
    ASSERT_NE(types, nullptr);
    QStringList names;
    for (const GPlugin::PluginDescriptor* d : *types)
        names << d->name;
    const int discAt = int(names.indexOf(QStringLiteral("Disc Writer")));
    ASSERT_GE(discAt, 0);
    EXPECT_EQ(names.value(discAt + 1), QStringLiteral("Sync Writer"));
    EXPECT_EQ(types->at(discAt)->flags, 0x1010);
    EXPECT_EQ(types->at(discAt + 1)->flags, 0x18001a0);
    EXPECT_LT(catalogueRank(QStringLiteral("3D Histogram Display"), 0x1),
              catalogueRank(QStringLiteral("Disc Writer"), 0x1010));

    QTemporaryDir dir;
    const QMap<int, DataGroup> groups{{0, DataGroup()}};
    QObject owner;
    auto* channel = new Channel(0, &owner, groups);
    channel->setDataGroup(0);
    ViewPage page(nullptr, QStringLiteral("RecPage"), groups, false);
    page.setChannelList({channel});
    DiscWriterPlugin::setMessageBoxes(false);
    SyncWriterPlugin::setMessageBoxes(false);
    auto* disc =
        qobject_cast<DiscWriterPlugin*>(page.addPlugin(QStringLiteral("Disc Writer"), QStringLiteral("d"), {}, {}));
    auto* sync =
        qobject_cast<SyncWriterPlugin*>(page.addPlugin(QStringLiteral("Sync Writer"), QStringLiteral("s"), {}, {}));
    ASSERT_NE(disc, nullptr);
    ASSERT_NE(sync, nullptr);
    auto* recorder = new RecordingPlugin;
    page.addReceiver(recorder);
    page.setChannelNo(0);

    disc->setFormat(DiscWriterPlugin::Hex);
    disc->openOutFile(dir.filePath(QStringLiteral("disc.txt")));
    disc->startWrite(true);
    sync->setOutputName(dir.filePath(QStringLiteral("sync.txt")));
    sync->onStartWrite(true);
    channel->sendMetadata(0x2001, GPlugin::linear);
    channel->sendMetadata(0x2013, 128);
    const int words[4] = {10, 11, 12, 13};
    channel->sendData(words, 4, 0);
    disc->startWrite(false);
    sync->onStartWrite(false);
    ASSERT_TRUE(sync->waitForConversions(10000));

    EXPECT_EQ(recorder->words, QVector<int>({10, 11, 12, 13}));
    QFile d(dir.filePath(QStringLiteral("disc.txt")));
    ASSERT_TRUE(d.open(QIODevice::ReadOnly));
    EXPECT_EQ(d.readAll(), QByteArray("a\nb\nc\nd\n"));
    QFile s(dir.filePath(QStringLiteral("sync.txt")));
    ASSERT_TRUE(s.open(QIODevice::ReadOnly));
    EXPECT_TRUE(s.readAll().endsWith("  1.3000000E+01\n"));
}
