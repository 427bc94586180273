// The line display's snapshot files on a nearly full disk: the store fails, names its file and leaves nothing.
#include "displays/lineviewplugin.h"
#include "snapshot/snapshotmgr.h"
#include "support/filesizelimit.h"

#include <QDir>
#include <QTemporaryDir>
#include <gtest/gtest.h>

TEST(LineViewPlugin_Snapshot, FullDiskFailsTheStoreAndLeavesNoFile)
{
    QTemporaryDir dir;
    LineViewPlugin p(nullptr, QStringLiteral("lv"), false, nullptr);
    p.getWidget()->resize(500, 400);
    p.getWidget()->show();
    const int words[] = {1, 5, 2, 8, 3};
    p.setData(words, 5, 0);
    const struct
    {
        int type;
        const char* file;
    } cases[] = {{SnapshotMgr::typeCsvDisplayed, "shot.csv"}, {SnapshotMgr::typeGraphics, "shot.png"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        QString msg;
        bool ok;
        {
            FileSizeLimit full(100); // the CSV file holds some 150 bytes
            ok = p.saveSnapshot(dir.filePath("shot"), c.type, nullptr, &msg);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(msg, "Failed to write snapshot to " + QDir::toNativeSeparators(dir.filePath(c.file)));
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}
