// The orvik-viewer program as a user runs it: headless against the built-in simulator, with bad layouts, and
// pointed at a port where no server listens yet.
#include "simserver.h"
#include "viewerwindow.h"

#include "connection/viewpage.h"
#include "recording/discwriterplugin.h"
#include "snapshot/viewrecipe.h"

#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QJsonArray>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTcpServer>
#include <QTemporaryDir>
#include <QTest>
#include <QTextStream>
#include <gtest/gtest.h>

namespace {

struct ProgramRun
{
    int exitCode = -1;
    QString out;
    QString err;
};

ProgramRun runViewer(const QStringList& args, const QTemporaryDir& dir, int timeoutMs = 90000)
{
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(ORVIK_VIEWER_EXE), QStringList{QStringLiteral("--offscreen"), QStringLiteral("--settings"),
                                                          dir.filePath(QStringLiteral("settings.ini"))} +
                                                  args);
    ProgramRun r;
    if (!p.waitForFinished(timeoutMs)) {
        p.kill();
        p.waitForFinished();
    }
    r.exitCode = p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -1;
    r.out = QString::fromLocal8Bit(p.readAllStandardOutput());
    r.err = QString::fromLocal8Bit(p.readAllStandardError());
    return r;
}

// Distinct colours in an image (capped): a picture with content has more than one.
int colourCount(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height() && colours.size() < 16; y += 2) {
        for (int x = 0; x < image.width() && colours.size() < 16; x += 2)
            colours.insert(image.pixel(x, y));
    }
    return colours.size();
}

// The numeric rows of a snapshot text file: lines that are neither comments nor column headers.
int numericRows(const QString& path, QString* problem)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        *problem = QStringLiteral("cannot open");
        return 0;
    }
    const QRegularExpression separators(QStringLiteral("[;,\\s]+"));
    int rows = 0;
    QTextStream in(&f);
    while (!in.atEnd()) {
        const QString line = in.readLine().trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')) || line.at(0).isLetter())
            continue;
        for (const QString& field : line.split(separators, Qt::SkipEmptyParts)) {
            bool ok = false;
            field.toDouble(&ok);
            if (!ok && field.compare(QLatin1String("nan"), Qt::CaseInsensitive) != 0) {
                *problem = QStringLiteral("not a number: \"%1\" in \"%2\"").arg(field, line);
                return 0;
            }
        }
        ++rows;
    }
    return rows;
}

QString writeFile(const QTemporaryDir& dir, const QString& name, const QByteArray& content)
{
    const QString path = dir.filePath(name);
    QFile f(path);
    f.open(QIODevice::WriteOnly);
    f.write(content);
    return path;
}

} // namespace

TEST(ViewerProgram, HeadlessDemoStoresEveryDisplayAndScreenshot)
{
    QTemporaryDir dir;
    const QString snaps = dir.filePath(QStringLiteral("snaps"));
    const QString shot = dir.filePath(QStringLiteral("shot.png"));
    const ProgramRun r = runViewer({QStringLiteral("--run-for"), QStringLiteral("3"), QStringLiteral("--store-on-exit"),
                                    QStringLiteral("--snapshot-dir"), snaps, QStringLiteral("--screenshot"), shot},
                                   dir);
    ASSERT_EQ(r.exitCode, 0) << qPrintable(r.out) << qPrintable(r.err);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Snapshot files written to"))) << qPrintable(r.out);
    EXPECT_TRUE(r.out.contains(QStringLiteral("Screenshot written to"))) << qPrintable(r.out);

    const QImage screenshot(shot);
    ASSERT_FALSE(screenshot.isNull());
    EXPECT_GE(screenshot.width(), 400);
    EXPECT_GT(colourCount(screenshot), 4);

    const QFileInfoList files = QDir(snaps).entryInfoList(QDir::Files, QDir::Name);
    ASSERT_FALSE(files.isEmpty());
    int images = 0, texts = 0;
    for (const QFileInfo& f : files) {
        SCOPED_TRACE(qPrintable(f.fileName()));
        EXPECT_GT(f.size(), 0);
        const QString suffix = f.suffix().toLower();
        if (suffix == QLatin1String("png")) {
            const QImage image(f.filePath());
            ASSERT_FALSE(image.isNull());
            EXPECT_GT(colourCount(image), 1); // not one flat colour
            ++images;
        } else if (suffix == QLatin1String("csv") || suffix == QLatin1String("asc")) {
            QString problem;
            EXPECT_GT(numericRows(f.filePath(), &problem), 0) << qPrintable(problem);
            ++texts;
        }
    }
    EXPECT_GT(images, 0);
    EXPECT_GT(texts, 0);
    // Every set has its recipe beside it, and the recipes name every data file, each once.
    QStringList named;
    int recipes = 0;
    for (const QFileInfo& f : files) {
        if (f.suffix() != QLatin1String("json"))
            continue;
        ++recipes;
        QJsonObject recipe;
        QString error;
        ASSERT_TRUE(ViewRecipe::read(f.filePath(), &recipe, &error)) << qPrintable(error);
        for (const QJsonValue& v : recipe.value(QStringLiteral("files")).toArray())
            named << v.toString();
    }
    EXPECT_GT(recipes, 0);
    QStringList data;
    for (const QFileInfo& f : files)
        if (f.suffix() != QLatin1String("json"))
            data << f.fileName();
    named.sort();
    EXPECT_EQ(named, data);
}

TEST(ViewerProgram, BadLayoutExitsWithTwoAndNamesTheProblem)
{
    QTemporaryDir dir;
    struct Case
    {
        const char* file;
        QByteArray json;
        const char* message;
    };
    const Case cases[] = {
        {"broken.json", "{\"channels\": {\"count\": 4},\n \"pages\": [}", "broken.json:2:"},
        {"unknown.json", R"({"channels": {"count": 4}, "pages": [{"name": "A", "chain": [{"type": "Warp Display"}]}]})",
         "pages[0].chain[0].type: unknown plug-in type \"Warp Display\""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.file);
        const QString path = writeFile(dir, QLatin1String(c.file), c.json);
        const ProgramRun r = runViewer({QStringLiteral("--layout"), path}, dir);
        EXPECT_EQ(r.exitCode, 2);
        EXPECT_TRUE(r.err.contains(path)) << qPrintable(r.err);
        EXPECT_TRUE(r.err.contains(QLatin1String(c.message))) << qPrintable(r.err);
    }
    const ProgramRun r = runViewer({QStringLiteral("--connect"), QStringLiteral("nowhere")}, dir);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("HOST:PORT"))) << qPrintable(r.err);
}

TEST(ViewerProgram, WaitsForServerAndConnectsWhenItAppears)
{
    QTemporaryDir dir;
    quint16 port = 0;
    {
        QTcpServer probe;
        ASSERT_TRUE(probe.listen(QHostAddress::LocalHost, 0));
        port = probe.serverPort();
    }
    QProcess p;
    p.setWorkingDirectory(dir.path());
    p.start(QStringLiteral(ORVIK_VIEWER_EXE),
            {QStringLiteral("--offscreen"), QStringLiteral("--settings"), dir.filePath(QStringLiteral("s.ini")),
             QStringLiteral("--connect"), QStringLiteral("127.0.0.1:%1").arg(port), QStringLiteral("--run-for"),
             QStringLiteral("60")});
    ASSERT_TRUE(p.waitForStarted());
    QString err;
    QElapsedTimer t;
    t.start();
    while (!err.contains(QStringLiteral("No server at 127.0.0.1:%1").arg(port)) && t.elapsed() < 15000) {
        p.waitForReadyRead(100);
        err += QString::fromLocal8Bit(p.readAllStandardError());
    }
    ASSERT_TRUE(err.contains(QStringLiteral("No server at"))) << qPrintable(err);
    ASSERT_EQ(p.state(), QProcess::Running);

    SimServer sim;
    QSignalSpy connected(&sim, &SimServer::clientConnected);
    ASSERT_TRUE(sim.listen(port)) << qPrintable(sim.errorString());
    EXPECT_TRUE(connected.count() > 0 || connected.wait(15000));
    EXPECT_TRUE(QTest::qWaitFor([&sim] { return sim.wordsSent() > 0; }, 10000));
    EXPECT_EQ(p.state(), QProcess::Running);
    p.kill();
    p.waitForFinished();
}

TEST(ViewerProgram, ReplayOfARecordedScanStoresTheSameAscSnapshotAsTheLiveRun)
{
    QTemporaryDir dir;
    const QString liveDir = dir.filePath(QStringLiteral("live")), replayDir = dir.filePath(QStringLiteral("replay"));
    const QString recording = dir.filePath(QStringLiteral("scan.dat"));
    ASSERT_TRUE(QDir().mkpath(liveDir));

    // The live run, in-process: a disc writer records channel 0 (the simulator's scan) from the first telegram on,
    // in front of a frame display; the snapshot and the end of the recording happen in one step.
    ViewerLayout layout;
    QString error;
    const QByteArray json = R"({"channels": {"count": 4}, "preferences": {"ascMatrix": true},
        "groups": [{"number": 0, "name": "Topography", "tag": "Scan", "trigger": "scanner"}],
        "pages": [{"name": "Scan", "channel": 0, "chain": [{"type": "Disc Writer", "name": "Recorder"},
                                                            {"type": "Frame Display", "name": "Topo"}]}]})";
    ASSERT_TRUE(LayoutFile::parse(json, QStringLiteral("live.json"), &layout, &error)) << qPrintable(error);
    {
        ViewerWindow window;
        window.setSnapshotDir(liveDir);
        ASSERT_TRUE(window.loadLayout(layout, &error)) << qPrintable(error);
        window.show();
        auto* writer = qobject_cast<DiscWriterPlugin*>(window.pages().first()->getReceiver());
        ASSERT_NE(writer, nullptr);
        DiscWriterPlugin::setMessageBoxes(false);
        writer->setFormat(DiscWriterPlugin::Binary);
        writer->openOutFile(recording);
        writer->startWrite(true);
        ASSERT_TRUE(writer->isWriting());
        SimServer sim;
        ASSERT_TRUE(sim.listen(0));
        window.connectTo(QStringLiteral("127.0.0.1"), sim.serverPort());
        // More than a whole frame of the scan (128 x 128, forward and backward lines).
        ASSERT_TRUE(QTest::qWaitFor([writer] { return writer->wordsWritten() > 3 * 128 * 128; }, 60000));
        window.storeAllPagesNow();
        writer->startWrite(false);
        ASSERT_TRUE(QTest::qWaitFor([] { return ViewerWindow::runningStores() == 0; }, 30000));
    }

    const ProgramRun r = runViewer({QStringLiteral("--replay"), recording, QStringLiteral("--store-on-exit"),
                                    QStringLiteral("--snapshot-dir"), replayDir},
                                   dir);
    ASSERT_EQ(r.exitCode, 0) << qPrintable(r.out) << qPrintable(r.err);

    auto ascData = [](const QString& folder) {
        QStringList data;
        for (const QString& name : QDir(folder).entryList({QStringLiteral("*.asc")}, QDir::Files, QDir::Name)) {
            if (!name.contains(QStringLiteral("Topo")) && !name.contains(QStringLiteral("ReplayFrame")))
                continue;
            QFile f(QDir(folder).filePath(name));
            if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
                continue;
            for (const QString& line : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
                if (!line.startsWith(QLatin1Char('#')))
                    data << line;
            break;
        }
        return data;
    };
    const QStringList live = ascData(liveDir), replayed = ascData(replayDir);
    ASSERT_GT(live.size(), 100) << qPrintable(QDir(liveDir).entryList().join(QLatin1Char(' ')));
    ASSERT_EQ(replayed.size(), live.size()) << qPrintable(QDir(replayDir).entryList().join(QLatin1Char(' ')));
    for (int i = 0; i < live.size(); ++i)
        ASSERT_EQ(replayed.at(i), live.at(i)) << "line " << i;
}

TEST(ViewerProgram, ReplayRefusesWhatIsNotARecording)
{
    QTemporaryDir dir;
    const QString bad = writeFile(dir, QStringLiteral("bad.dat"), QByteArray("\xff\xff\xff\xff", 4));
    const ProgramRun r = runViewer({QStringLiteral("--replay"), bad}, dir);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.err.contains(QStringLiteral("not a binary disc-writer recording"))) << qPrintable(r.err);
    const ProgramRun missing = runViewer({QStringLiteral("--replay"), dir.filePath(QStringLiteral("none.dat"))}, dir);
    EXPECT_EQ(missing.exitCode, 2);
    EXPECT_TRUE(missing.err.contains(QStringLiteral("cannot read the recording"))) << qPrintable(missing.err);
}
