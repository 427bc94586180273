// The orvik-viewer program on a nearly full disk: every store that fails says so with its file's name, the program
// exits 1, and it lists only the files that are whole.
#include "support/filesizelimit.h"

#include <QDir>
#include <QFileInfo>
#include <QImage>
#include <QProcess>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <gtest/gtest.h>

namespace {

struct FullDiskRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

// No file of the program can grow beyond `limit` bytes: its writes past it fail with EFBIG.
FullDiskRun runViewerOnFullDisk(const QStringList& args, const QTemporaryDir& dir, rlim_t limit)
{
    QProcess p;
    p.setWorkingDirectory(dir.path());
    {
        const FileSizeLimit full(limit); // inherited by the program, for it alone
        p.start(QStringLiteral(ORVIK_VIEWER_EXE),
                QStringList{QStringLiteral("--offscreen"), QStringLiteral("--settings"),
                            dir.filePath(QStringLiteral("settings.ini"))} +
                    args);
        p.waitForStarted();
    }
    if (!p.waitForFinished(90000)) {
        p.kill();
        p.waitForFinished();
    }
    FullDiskRun r;
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

} // namespace

TEST(ViewerProgram, FullDiskStoreOnExitFailsAndListsOnlyWholeFiles)
{
    // Files of at most 10000 bytes fit; larger ones (the scan's files, the pictures of big displays) do not.
    const rlim_t limit = 10000;
    QTemporaryDir dir;
    const QString snaps = dir.filePath(QStringLiteral("snaps"));
    const FullDiskRun r =
        runViewerOnFullDisk({QStringLiteral("--run-for"), QStringLiteral("3"), QStringLiteral("--store-on-exit"),
                             QStringLiteral("--snapshot-dir"), snaps},
                            dir, limit);
    EXPECT_EQ(r.exitCode, 1) << qPrintable(r.out) << qPrintable(r.err);
    EXPECT_TRUE(r.err.contains(QStringLiteral("snapshot store(s) failed"))) << qPrintable(r.err);

    // Each failure names its file, extension included; that file is not there.
    const QRegularExpression failure(QStringLiteral("Failed to write (?:frame|snapshot) to (.*)$"),
                                     QRegularExpression::MultilineOption);
    int failures = 0;
    for (auto it = failure.globalMatch(r.err); it.hasNext(); ++failures) {
        const QString file = it.next().captured(1).trimmed();
        SCOPED_TRACE(qPrintable(file));
        EXPECT_TRUE(QStringList({"png", "asc", "bcrf", "csv"}).contains(QFileInfo(file).suffix()));
        EXPECT_FALSE(QFileInfo::exists(file));
    }
    EXPECT_GT(failures, 0) << qPrintable(r.err);

    // Listed are exactly the files in the folder, each one whole; no unfinished or temporary file is left.
    QStringList listed;
    for (const QString& line : r.out.split(QLatin1Char('\n'))) {
        if (line.startsWith(QStringLiteral("  ")))
            listed << QFileInfo(line.trimmed()).fileName();
    }
    QStringList present = QDir(snaps).entryList(QDir::Files | QDir::Hidden, QDir::Name);
    listed.sort();
    EXPECT_EQ(listed, present);
    for (const QString& name : present) {
        const QFileInfo f(QDir(snaps).filePath(name));
        SCOPED_TRACE(qPrintable(name));
        EXPECT_GT(f.size(), 0);
        EXPECT_LT(f.size(), qint64(limit)); // a file cut at the limit would be exactly as large
        if (f.suffix() == QLatin1String("png"))
            EXPECT_FALSE(QImage(f.filePath()).isNull());
    }
}
