// Tests of the frame display's snapshots: the frame-view ASCII file byte for byte, copies that outlive the live
// frame, PNG pictures that decode to the frame's pixels, and failures.
#include "displays/waterfallplugin.h"
#include "displays/waterfallsnbuffer.h"
#include "snapshot/snapshotmgr.h"
#include "support/filesizelimit.h"

#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <gtest/gtest.h>
#include <memory>

namespace {

QByteArray readFile(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

// Replaces the second line (the time of writing) so that files compare byte for byte.
QByteArray withoutDate(QByteArray text)
{
    const int a = text.indexOf('\n');
    const int b = text.indexOf('\n', a + 1);
    if (a < 0 || b < 0)
        return text;
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^# \\d{4}-\\d\\d-\\d\\dT\\d\\d:\\d\\d:\\d\\d$"))
                    .match(QString::fromLatin1(text.mid(a + 1, b - a - 1)))
                    .hasMatch());
    return text.left(a + 1) + "# DATE" + text.mid(b);
}

const QByteArray header = "# Orvik frame view snapshot\n"
                          "# DATE\n"
                          "# display:   snapbwd\n"
                          "# x-pixels:  4\n"
                          "# y-pixels:  3\n"
                          "# x-length:  2e+09\n"
                          "# y-length:  1e+09\n"
                          "# x-offset:  0\n"
                          "# y-offset:  0\n"
                          "# rotation:  90.0013733\n"
                          "# x-unit:    nm\n"
                          "# y-unit:    nm\n"
                          "# z-unit:    nm\n"
                          "# scanspeed: 2\n"
                          "# Start of Data:\n";

class WaterfallSnapshot : public ::testing::Test
{
protected:
    void SetUp() override
    {
        plugin = std::make_unique<WaterfallPlugin>(nullptr, QStringLiteral("snap"));
        plugin->setDataRangeX(4);
        plugin->setDataRangeY(3);
        plugin->setDataUnitX(384);     // m: written in nm
        plugin->setDataUnitVal(0x17E); // um: written in nm (factor 1000)
        plugin->setDataPhysX(2);
        plugin->setDataPhysY(1);
        plugin->setDataRotation(16384);
        plugin->setDataScanSpeed(1500);
        plugin->setDataPhysVal(1000); // 0.001 um per raw unit: 1 nm
        plugin->setDataOffsetVal(10);
        plugin->setGradation(0, 256);
        // Linear order: backward lines only; 11 of 12 values, so the top-left pixel holds none.
        QVector<int> v(11);
        for (int i = 0; i < v.size(); ++i)
            v[i] = 100 + i;
        plugin->setData(v.constData(), v.size(), 0);
        base = dir.filePath(QStringLiteral("Scan_001-snap"));
    }

    QTemporaryDir dir;
    std::unique_ptr<WaterfallPlugin> plugin;
    QString base;
};

} // namespace

TEST_F(WaterfallSnapshot, AsciiFileFromTheLiveFrame)
{
    plugin->setDataOffsetX(-5000000); // metres, written in nanometres
    QString message;
    ASSERT_TRUE(plugin->saveSnapshot(base, SnapshotMgr::typeCsvDisplayed, nullptr, &message));
    const QString file = base + QStringLiteral("-bwd.asc");
    EXPECT_EQ(message, QStringLiteral("Snapshot written to ") + QDir::toNativeSeparators(file));
    EXPECT_FALSE(QFile::exists(base + QStringLiteral("-fwd.asc"))); // no forward data
    const QByteArray text = withoutDate(readFile(file));
    QByteArray expected = header;
    expected.replace("# x-offset:  0\n", "# x-offset:  -5e+15\n");
    // Rows top to bottom, each mirrored (backward lines); (v - 10) nm, and -10 for the pixel without a value.
    for (int v : {-10, 100, 99, 98, 97, 96, 95, 94, 93, 92, 91, 90})
        expected += QByteArray::number(v) + "\n";
    EXPECT_EQ(text.toStdString(), expected.toStdString());
}

TEST_F(WaterfallSnapshot, CopyKeepsTheFrameAndMatrixLayout)
{
    // The layout is the host's when the store was requested, even if the host changes it while the copy is written.
    bool matrix = true;
    GPlugin::PrefData prefs = GPlugin::dfltPrefs;
    prefs.ascMatrix = &matrix;
    GPlugin::setPrefs(&prefs);
    std::unique_ptr<SnapshotBuffer> copy(
        plugin->snapshotData(SnapshotMgr::typeCsvDisplayed | SnapshotMgr::typeGraphics));
    matrix = false;
    auto* buf = dynamic_cast<WaterfallSnBuffer*>(copy.get());
    ASSERT_NE(buf, nullptr);
    EXPECT_FALSE(buf->hasFwd);
    EXPECT_TRUE(buf->hasBwd);
    EXPECT_EQ(buf->values.size(), 24u);
    EXPECT_FALSE(buf->bwdImage.isNull());
    plugin->init(); // the live frame is gone; the copy is not

    QString message;
    const bool ok = plugin->saveSnapshot(base, SnapshotMgr::typeCsvDisplayed, copy.get(), &message);
    GPlugin::setPrefs(&GPlugin::dfltPrefs);
    ASSERT_TRUE(ok) << message.toStdString();
    QByteArray expected = header;
    expected += "-10  100  99  98  \n97  96  95  94  \n93  92  91  90  \n";
    EXPECT_EQ(withoutDate(readFile(base + QStringLiteral("-bwd.asc"))).toStdString(), expected.toStdString());
}

TEST_F(WaterfallSnapshot, PngShowsTheFramePixels)
{
    plugin->getWidget()->resize(400, 300);
    plugin->getWidget()->show();
    QString message;
    ASSERT_TRUE(plugin->saveSnapshot(base, SnapshotMgr::typeGraphics, nullptr, &message)) << message.toStdString();
    QImage png(base + QStringLiteral("-bwd.png"));
    ASSERT_FALSE(png.isNull());
    Waterfall* view = plugin->getWaterfall();
    const QPoint origin = view->mapTo(view->parentWidget()->parentWidget(), QPoint(0, 0));
    // The picture is turned by the quarter turn of the rotation. Row 2 holds 103 102 101 100 (mirrored), the
    // top-left data pixel is empty (black).
    auto at = [&](int x, int y) {
        QPoint p(x, y);
        view->transformCoord(p, false);
        return png.pixel(origin + p) | 0xff000000u;
    };
    EXPECT_EQ(at(0, 2), qRgb(103, 103, 103));
    EXPECT_EQ(at(3, 2), qRgb(100, 100, 100));
    EXPECT_EQ(at(1, 0), qRgb(110, 110, 110));
    EXPECT_EQ(at(0, 0), qRgb(0, 0, 0));
    // Both directions when both hold data: forward files first; a second store numbers its names.
    plugin->setDataOrder(GPlugin::forBack);
    const int v[] = {1, 2, 3, 4};
    plugin->setData(v, 4, 0);
    ASSERT_TRUE(
        plugin->saveSnapshot(base, SnapshotMgr::typeGraphics | SnapshotMgr::typeCsvDisplayed, nullptr, &message));
    for (const char* name :
         {"Scan_001[1]-snap-bwd.png", "Scan_001-snap-fwd.png", "Scan_001-snap-fwd.asc", "Scan_001-snap-bwd.asc"})
        EXPECT_TRUE(QFile::exists(dir.filePath(QString::fromLatin1(name)))) << name;
}

TEST_F(WaterfallSnapshot, BackgroundStoreWritesFromItsCopy)
{
    const bool background = true;
    SnapshotMgr::setBackgroundSwitch(&background);
    SnapshotMgr* mgr = plugin->getSnapshotManager();
    QSignalSpy status(plugin.get(), &GPlugin::statusChanged);
    SnapshotMgr::ActionDescriptor d;
    d.directory = dir.path();
    d.fullName = QStringLiteral("bg");
    d.tag = QStringLiteral("T");
    d.sequence = 3;
    d.types = SnapshotMgr::typeCsvDisplayed | SnapshotMgr::typeGraphics;
    ASSERT_TRUE(mgr->makeSnapshot(d));
    plugin->init(); // the live frame is cleared at once; the thread writes from its copy
    QDeadlineTimer deadline(20000);
    while (mgr->runningThreads() > 0 && !deadline.hasExpired())
        status.wait(50);
    SnapshotMgr::setBackgroundSwitch(nullptr);
    ASSERT_EQ(mgr->runningThreads(), 0);
    const QString asc = dir.filePath(QStringLiteral("T_003-bg-bwd.asc"));
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last().at(0).toString(), QStringLiteral("Snapshot written to ") + QDir::toNativeSeparators(asc));
    EXPECT_TRUE(readFile(asc).contains("# Start of Data:\n-10\n100\n99\n"));
    EXPECT_FALSE(QImage(dir.filePath(QStringLiteral("T_003-bg-bwd.png"))).isNull());
}

TEST_F(WaterfallSnapshot, UnwritableFileIsReported)
{
    const QString missing = dir.filePath(QStringLiteral("no/such/dir/base"));
    QString message;
    EXPECT_FALSE(plugin->saveSnapshot(missing, SnapshotMgr::typeCsvDisplayed, nullptr, &message));
    EXPECT_EQ(message, QStringLiteral("Failed to write snapshot to ") +
                           QDir::toNativeSeparators(missing + QStringLiteral("-bwd.asc")));
    EXPECT_FALSE(plugin->saveSnapshotAsc(nullptr, missing + QStringLiteral(".asc"), false));
    plugin->set3dMode(true);
    EXPECT_FALSE(plugin->saveSnapshotImg(nullptr, base + QStringLiteral(".png"), false, QStringLiteral("PNG")));
}

TEST_F(WaterfallSnapshot, FullDiskFailsTheStoreAndLeavesNoFile)
{
    plugin->getWidget()->resize(400, 300);
    plugin->getWidget()->show();
    const struct
    {
        int type;
        const char* file;
    } cases[] = {{SnapshotMgr::typeCsvDisplayed, "Scan_001-snap-bwd.asc"},
                 {SnapshotMgr::typeGraphics, "Scan_001-snap-bwd.png"}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.file);
        std::unique_ptr<SnapshotBuffer> copy(plugin->snapshotData(c.type));
        QString message;
        bool ok;
        {
            FileSizeLimit full(200);
            ok = plugin->saveSnapshot(base, c.type, copy.get(), &message);
        }
        EXPECT_FALSE(ok);
        EXPECT_EQ(message, QStringLiteral("Failed to write snapshot to ") +
                               QDir::toNativeSeparators(dir.filePath(QString::fromLatin1(c.file))));
        EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).isEmpty());
    }
}
