// Whole files on a nearly full disk: a file appears under its name only when every byte reached the disk; a
// failure keeps what was there and leaves nothing else behind.
#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "support/filesizelimit.h"
#include "utilif/framebuffer.h"
#include "utilif/wholefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTextStream>
#include <functional>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

namespace {

QByteArray readAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Files of a folder, hidden ones included: what a store left behind.
QStringList folderEntries(const QString& folder)
{
    return QDir(folder).entryList(QDir::Files | QDir::Hidden | QDir::System);
}

void setGeometry(FrameBuffer& fb, int order, int rangeX, int rangeY)
{
    fb.setMetaData(StreamFormat::info(StreamFormat::Order).metaCode, order);
    fb.setMetaData(StreamFormat::info(StreamFormat::RangeX).metaCode, rangeX);
    fb.setMetaData(StreamFormat::info(StreamFormat::RangeY).metaCode, rangeY);
}

std::vector<int> ramp(int n, int start = 0)
{
    std::vector<int> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), start);
    return v;
}

bool writeWhole(const QString& name, const QByteArray& data)
{
    WholeFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(data) == data.size() && file.commit();
}

} // namespace

TEST(WholeFile_Commit, ReplacesOnlyWhenCompleteAndLeavesNoTemporaryFile)
{
    QTemporaryDir dir;
    const QString name = dir.filePath(QStringLiteral("f.txt"));
    ASSERT_TRUE(writeWhole(name, "old\n"));
    // Small data stays in the buffer until the end, large data goes straight to the disk: both fail alike.
    for (int size : {3000, 100000}) {
        SCOPED_TRACE(size);
        bool ok;
        {
            FileSizeLimit full(2000);
            ok = writeWhole(name, QByteArray(size, 'x'));
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(readAll(name), QByteArray("old\n"));
        EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden), QStringList{QStringLiteral("f.txt")});
    }
    // A text stream sees the failure too.
    {
        WholeFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        QTextStream ts(&file);
        FileSizeLimit full(2000);
        for (int i = 0; i < 1000; ++i)
            ts << "line " << i << '\n';
        ts.flush();
        EXPECT_FALSE(ts.status() == QTextStream::Ok && file.commit());
    }
    EXPECT_EQ(readAll(name), QByteArray("old\n"));
    // Not committed (an abandoned store): nothing changes.
    {
        WholeFile file(name);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly));
        file.write("new\n");
    }
    EXPECT_EQ(readAll(name), QByteArray("old\n"));
    EXPECT_TRUE(writeWhole(name, "new\n"));
    EXPECT_EQ(readAll(name), QByteArray("new\n"));
    EXPECT_FALSE(writeWhole(dir.filePath(QStringLiteral("no/dir/f.txt")), "x"));
}

TEST(FrameBuffer_FullDisk, EveryWriterFailsAndLeavesNoFile)
{
    QTemporaryDir dir;
    auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    // A 64 x 64 forBack scan and a line of 2000 words: every file is larger than the limit. The small limit catches
    // the last buffered bytes, the larger one writes that go straight to the disk.
    FrameBuffer scan;
    setGeometry(scan, GPlugin::forBack, 64, 64);
    const std::vector<int> words = ramp(2 * 64 * 64, 1);
    scan.addData(words.data(), int(words.size()), 0);
    FrameBuffer line;
    setGeometry(line, GPlugin::cyclic, 2000, 0);
    line.addData(words.data(), 2000, 0);
    struct Case
    {
        const char* file;
        std::function<int(const QString&)> save;
    };
    const Case cases[] = {
        {"line.csv", [&](const QString& n) { return line.saveLineCsv(n, "T"); }},
        {"scan.asc", [&](const QString& n) { return scan.saveFrameAsc(n, "T", true, true); }},
        {"scan.bcrf", [&](const QString& n) { return scan.saveFrameBcr(n, "T", false); }},
    };
    for (rlim_t limit : {rlim_t(3000), rlim_t(12000)}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.file) + " limit " + std::to_string(limit));
            const QString name = path(c.file);
            int result;
            {
                FileSizeLimit full(limit);
                result = c.save(name);
            }
            EXPECT_EQ(result, FrameBuffer::saveFailed);
            EXPECT_TRUE(folderEntries(dir.path()).isEmpty()) << folderEntries(dir.path()).join(' ').toStdString();
            // With room again the same writer succeeds.
            EXPECT_EQ(c.save(name), FrameBuffer::saveOk);
            EXPECT_GT(QFileInfo(name).size(), qint64(limit));
            QFile::remove(name);
        }
    }
}

TEST(FrameBuffer_FullDisk, PermanentLogFailsUntilItIsEnded)
{
    QTemporaryDir dir;
    auto path = [&](const char* name) { return dir.filePath(QString::fromLatin1(name)); };
    FrameBuffer fb;
    const QString name = path("perm.csv");
    ASSERT_EQ(fb.startPermCsv(name, "Channel_1"), FrameBuffer::saveOk);
    const std::vector<int> block = ramp(1000, 1);
    int result = FrameBuffer::saveOk;
    {
        FileSizeLimit full(8000);
        for (int k = 0; k < 50 && result == FrameBuffer::saveOk; ++k)
            result = fb.savePermCsv(block.data(), int(block.size()));
        if (result == FrameBuffer::saveOk)
            fb.flushPermCsv();
        // Once failed, the log stays failed: no gap in the middle of a log that goes on.
        EXPECT_EQ(fb.savePermCsv(block.data(), 1), FrameBuffer::saveFailed);
    }
    EXPECT_EQ(fb.savePermCsv(block.data(), 1), FrameBuffer::saveFailed);
    EXPECT_EQ(fb.startPermCsv(QString(), QByteArray()), FrameBuffer::saveFailed);
    EXPECT_FALSE(fb.permLogOpen());
    // A log that is ended while its last lines cannot be written reports it too.
    ASSERT_EQ(fb.startPermCsv(path("second.csv"), "Channel_1"), FrameBuffer::saveOk);
    EXPECT_EQ(fb.savePermCsv(block.data(), 100), FrameBuffer::saveOk); // buffered
    {
        FileSizeLimit full(QFileInfo(path("second.csv")).size());
        EXPECT_EQ(fb.startPermCsv(QString(), QByteArray()), FrameBuffer::saveFailed);
    }
}
