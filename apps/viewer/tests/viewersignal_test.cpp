// The orvik-viewer program ended by a signal, as a service manager or a terminal ends it: the quit is orderly (stores
// finished, stop telegram sent, settings kept, the documented exit code), and a second signal ends it at once.
#include "simserver.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonDocument>
#include <QProcess>
#include <QRegularExpression>
#include <QSettings>
#include <QTemporaryDir>
#include <QTest>
#include <gtest/gtest.h>

#include <csignal>
#include <sys/types.h>

namespace {

// A viewer running headless against a simulator in this process (so that the test sees what reaches the server).
class ViewerUnderTest
{
public:
    explicit ViewerUnderTest(const QTemporaryDir& dir) : dir(dir)
    {
        ok = sim.listen(0);
        process.setWorkingDirectory(dir.path());
    }
    bool start(const QStringList& extra)
    {
        process.start(QStringLiteral(ORVIK_VIEWER_EXE),
                      QStringList{QStringLiteral("--offscreen"), QStringLiteral("--settings"), settingsFile(),
                                  QStringLiteral("--connect"), QStringLiteral("127.0.0.1:%1").arg(sim.serverPort())} +
                          extra);
        if (!ok || !process.waitForStarted())
            return false;
        // The handlers are in place once the viewer says where it connects; then let a few frames arrive.
        return QTest::qWaitFor(
            [this] {
                out += QString::fromLocal8Bit(process.readAllStandardOutput());
                return out.contains(QLatin1String("Connecting to")) && sim.wordsSent() > 200000;
            },
            30000);
    }
    void signal(int number) { ::kill(pid_t(process.processId()), number); }
    // Keeps the event loop running (the simulator must read what the viewer sends while it quits).
    bool waitForEnd(int timeoutMs = 60000)
    {
        const bool ended = QTest::qWaitFor([this] { return process.state() == QProcess::NotRunning; }, timeoutMs);
        if (!ended) {
            process.kill();
            process.waitForFinished();
        }
        out += QString::fromLocal8Bit(process.readAllStandardOutput());
        err = QString::fromLocal8Bit(process.readAllStandardError());
        return ended;
    }
    bool stopTelegramArrived() const
    {
        for (const SimServer::Received& r : sim.log()) {
            if (r.kind == 6 && r.address == 0x1201 && r.hasValue && r.value == -1)
                return true;
        }
        return false;
    }
    QString settingsFile() const { return dir.filePath(QStringLiteral("settings.ini")); }

    const QTemporaryDir& dir;
    SimServer sim;
    QProcess process;
    QString out;
    QString err;
    bool ok = false;
};

// Why a snapshot file is not whole, or an empty text.
QString partialFileProblem(const QFileInfo& info)
{
    QFile f(info.filePath());
    if (!f.open(QIODevice::ReadOnly))
        return QStringLiteral("cannot open");
    const QByteArray bytes = f.readAll();
    if (bytes.isEmpty())
        return QStringLiteral("empty");
    const QString suffix = info.suffix().toLower();
    if (suffix == QLatin1String("png")) {
        if (!bytes.endsWith(QByteArray::fromHex("0000000049454e44ae426082")))
            return QStringLiteral("PNG without its end chunk");
        if (QImage(info.filePath()).isNull())
            return QStringLiteral("PNG that does not load");
    } else if (suffix == QLatin1String("asc") || suffix == QLatin1String("csv")) {
        if (!bytes.endsWith('\n'))
            return QStringLiteral("text cut off in a line");
        if (bytes.count('\n') < 3)
            return QStringLiteral("text without data");
    } else if (suffix == QLatin1String("bcrf")) {
        const QString header = QString::fromLatin1(bytes.left(2048));
        const QRegularExpression x(QStringLiteral("xpixels = (\\d+)")), y(QStringLiteral("ypixels = (\\d+)"));
        const qint64 pixels = x.match(header).captured(1).toLongLong() * y.match(header).captured(1).toLongLong();
        if (pixels <= 0 || bytes.size() != 2048 + 4 * pixels)
            return QStringLiteral("BCRF of %1 bytes for %2 pixels").arg(bytes.size()).arg(pixels);
    } else if (suffix == QLatin1String("json")) { // the recipe of a set
        QJsonParseError error;
        if (!QJsonDocument::fromJson(bytes, &error).isObject())
            return QStringLiteral("recipe that does not parse: ") + error.errorString();
    } else {
        return QStringLiteral("not a snapshot file (a temporary file left behind?)");
    }
    return QString();
}

} // namespace

TEST(ViewerProgram, SignalQuitsInOrder)
{
    struct Case
    {
        int number;
        const char* name;
    };
    const Case cases[] = {{SIGTERM, "SIGTERM"}, {SIGINT, "SIGINT"}, {SIGHUP, "SIGHUP"}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QTemporaryDir dir;
        const QString snaps = dir.filePath(QStringLiteral("snaps"));
        ViewerUnderTest viewer(dir);
        // Stores on the way out, so that the quit has background stores to wait for.
        ASSERT_TRUE(viewer.start({QStringLiteral("--store-on-exit"), QStringLiteral("--snapshot-dir"), snaps}))
            << qPrintable(viewer.out);
        viewer.signal(c.number);
        ASSERT_TRUE(viewer.waitForEnd()) << qPrintable(viewer.err);

        EXPECT_EQ(viewer.process.exitStatus(), QProcess::NormalExit);
        EXPECT_EQ(viewer.process.exitCode(), 128 + c.number) << qPrintable(viewer.out) << qPrintable(viewer.err);
        EXPECT_TRUE(viewer.err.contains(QStringLiteral("%1 received").arg(QLatin1String(c.name))))
            << qPrintable(viewer.err);
        EXPECT_TRUE(viewer.stopTelegramArrived());
        EXPECT_TRUE(QTest::qWaitFor([&] { return viewer.sim.clientCount() == 0; }, 5000));

        const QFileInfoList files = QDir(snaps).entryInfoList(QDir::Files | QDir::Hidden, QDir::Name);
        EXPECT_FALSE(files.isEmpty());
        for (const QFileInfo& f : files)
            EXPECT_EQ(partialFileProblem(f), QString()) << qPrintable(f.fileName());
        // The stores' sequence numbers are kept for the next run.
        QSettings settings(viewer.settingsFile(), QSettings::IniFormat);
        EXPECT_GE(settings.value(QStringLiteral("Viewer.Group0/SequenceNumber")).toInt(), 2);
    }
}

TEST(ViewerProgram, SecondSignalEndsTheViewerAtOnce)
{
    QTemporaryDir dir;
    ViewerUnderTest viewer(dir);
    ASSERT_TRUE(viewer.start({QStringLiteral("--snapshot-dir"), dir.filePath(QStringLiteral("snaps"))}))
        << qPrintable(viewer.out);
    // Held stopped, the viewer gets both signals the moment it goes on: the first starts the quit, the second
    // arrives while that quit has not even reached the event loop.
    viewer.signal(SIGSTOP);
    viewer.signal(SIGTERM);
    viewer.signal(SIGINT);
    viewer.signal(SIGCONT);
    ASSERT_TRUE(viewer.waitForEnd(10000)) << qPrintable(viewer.err);
    EXPECT_EQ(viewer.process.exitStatus(), QProcess::CrashExit); // ended by the signal itself
    EXPECT_FALSE(viewer.err.contains(QLatin1String("received, quitting"))) << qPrintable(viewer.err);
}
