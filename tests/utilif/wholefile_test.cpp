// WholeFile: a file appears under its name only when every byte reached the disk; a failure keeps what was there.
#include "support/filesizelimit.h"
#include "utilif/wholefile.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTextStream>
#include <gtest/gtest.h>

namespace {

QByteArray readAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
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
