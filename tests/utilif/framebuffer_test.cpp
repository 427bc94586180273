#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "utilif/error.h"
#include "utilif/framebuffer.h"

#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <cmath>
#include <cstring>
#include <gtest/gtest.h>
#include <numeric>
#include <vector>

#ifdef Q_OS_LINUX
#include <sys/resource.h>
#include <unistd.h>
#endif

namespace {
void setGeometry(FrameBuffer& fb, int order, int rangeX, int rangeY)
{
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::Order), order);
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::RangeX), rangeX);
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::RangeY), rangeY);
}

std::vector<int> ramp(int n, int start = 0)
{
    std::vector<int> v(static_cast<size_t>(n));
    std::iota(v.begin(), v.end(), start);
    return v;
}

QByteArray readAll(const QString& name)
{
    QFile f(name);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

/// Restores the size limit whatever a test sets.
struct LimitGuard
{
    qint64 saved = FrameBuffer::sizeLimit();
    ~LimitGuard() { FrameBuffer::setSizeLimit(saved); }
};
} // namespace

TEST(FrameBuffer_Geometry, LengthAndModeFollowMetadata)
{
    struct Case
    {
        const char* name;
        int order, rangeX, rangeY;
        int length, mode;
    };
    const Case cases[] = {
        {"cyclic line", 2, 100, 7, 100, 1},    {"linear line", 0, 5, 0, 5, 1},    {"forFor scan", 3, 4, 3, 12, 2},
        {"forBack doubles", 4, 4, 3, 24, 2},   {"backBack scan", 5, 4, 3, 12, 2}, {"backFor doubles", 6, 4, 3, 24, 2},
        {"scan without lines", 3, 4, 0, 4, 2}, {"no range yet", 3, 0, 10, 0, 0},  {"negative range", 2, -5, 0, 0, 0},
    };
    // A change of order re-shapes the frame: forBack doubles the words of each row.
    FrameBuffer changed;
    setGeometry(changed, 3, 4, 6);
    changed.setMetaData(StreamFormat::metaCode(StreamFormat::RangeY), 3);
    changed.setMetaData(StreamFormat::metaCode(StreamFormat::Order), 4);
    EXPECT_EQ(changed.frameLength(), 24);
    EXPECT_EQ(changed.linesPerFrame(), 3);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FrameBuffer fb;
        setGeometry(fb, c.order, c.rangeX, c.rangeY);
        EXPECT_EQ(fb.frameLength(), c.length);
        EXPECT_EQ(fb.frameMode(), c.mode);
    }
}

TEST(FrameBuffer_AddData, StopsAtFrameEndAndReportsTheRest)
{
    FrameBuffer fb;
    setGeometry(fb, 4, 2, 2); // forBack: 8 words per frame
    const std::vector<int> words = ramp(11);
    EXPECT_EQ(fb.addData(words.data(), 5, 0), 0);
    EXPECT_FALSE(fb.atFrameEnd());
    EXPECT_FALSE(fb.getFilled());
    EXPECT_EQ(fb.addData(words.data() + 5, 6, 5), 3); // 3 of 6 belong to the next frame
    EXPECT_TRUE(fb.atFrameEnd());
    EXPECT_TRUE(fb.getFilled());
    EXPECT_EQ(fb.addData(words.data() + 8, 3, 8), 0); // the next frame starts at position 8
    EXPECT_FALSE(fb.atFrameEnd());

    // Exactly at the end of a block: nothing is left, and the end is reported.
    FrameBuffer line;
    setGeometry(line, 2, 4, 0);
    EXPECT_EQ(line.addData(words.data(), 4, 0), 0);
    EXPECT_TRUE(line.atFrameEnd());
    // Positions are taken modulo the frame: a block at 6 takes the 2 words up to 8.
    EXPECT_EQ(line.addData(words.data(), 5, 6), 3);
}

TEST(FrameBuffer_AddData, WithoutGeometryTakesEverythingAndNeverEndsAFrame)
{
    FrameBuffer fb;
    const std::vector<int> words = ramp(50);
    EXPECT_EQ(fb.addData(words.data(), 50, 0), 0);
    EXPECT_FALSE(fb.atFrameEnd());
    EXPECT_FALSE(fb.getFilled());
    int count = -1;
    fb.getData(&count);
    EXPECT_EQ(count, 0);
}

TEST(FrameBuffer_GetData, ReturnsTheLastFrameInStreamOrder)
{
    FrameBuffer fb;
    setGeometry(fb, 2, 4, 0);
    const std::vector<int> words = ramp(6, 100); // 100..105 at positions 0..5
    fb.addData(words.data(), 2, 0);
    int count = 0;
    qint64 position = -1;
    const int* data = fb.getData(&count, &position);
    ASSERT_EQ(count, 2); // no complete frame yet: the current frame so far
    EXPECT_EQ(position, 0);
    EXPECT_EQ(data[1], 101);

    int rest = fb.addData(words.data() + 2, 4, 2);
    EXPECT_EQ(rest, 2);
    fb.addData(words.data() + 4, 2, 4);
    data = fb.getData(&count, &position);
    ASSERT_EQ(count, 4); // the last four words: positions 2..5
    EXPECT_EQ(position, 2);
    EXPECT_EQ(std::vector<int>(data, data + 4), (std::vector<int>{102, 103, 104, 105}));
    // Asking again (already in order) gives the same, and later words land in the right slots.
    fb.addData(words.data(), 1, 6);
    data = fb.getData(&count, &position);
    EXPECT_EQ(position, 3);
    EXPECT_EQ(std::vector<int>(data, data + 4), (std::vector<int>{103, 104, 105, 100}));
}

TEST(FrameBuffer_Inactive, EndsFramesButStoresNoWords)
{
    FrameBuffer fb;
    fb.setActive(false);
    setGeometry(fb, 2, 3, 0);
    const std::vector<int> words = ramp(5);
    EXPECT_EQ(fb.addData(words.data(), 5, 0), 2);
    EXPECT_TRUE(fb.atFrameEnd());
    EXPECT_FALSE(fb.getFilled());
    int count = -1;
    EXPECT_EQ(fb.getData(&count), nullptr);
    EXPECT_EQ(count, 0);
    fb.setActive(true);
    fb.addData(words.data(), 3, 3);
    fb.getData(&count);
    EXPECT_EQ(count, 3);
}

TEST(FrameBuffer_Limit, RefusesAbsurdFramesAndStaysUsable)
{
    LimitGuard guard;
    FrameBuffer fb;
    setGeometry(fb, 4, 10, 10);
    ASSERT_EQ(fb.frameLength(), 200);
    // 100000 x 100000 x 2 words: far above the default limit of 1 GiB.
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::RangeX), 100000);
    EXPECT_THROW(fb.setMetaData(StreamFormat::metaCode(StreamFormat::RangeY), 100000), OomError);
    // Unchanged by the refused value (the range X before it was within the limit: 2 x 100000 x 10 words).
    EXPECT_EQ(fb.frameLength(), 2000000);
    EXPECT_EQ(fb.getMetaData(StreamFormat::metaCode(StreamFormat::RangeY)), 10);

    FrameBuffer::setSizeLimit(4096);
    FrameBuffer small;
    small.setMetaData(StreamFormat::metaCode(StreamFormat::Order), 2);
    EXPECT_NO_THROW(small.setMetaData(StreamFormat::metaCode(StreamFormat::RangeX), 512));
    EXPECT_THROW(small.setMetaData(StreamFormat::metaCode(StreamFormat::RangeX), 2000), OomError);
    EXPECT_EQ(small.frameLength(), 512);
    const std::vector<int> words = ramp(512);
    EXPECT_EQ(small.addData(words.data(), 512, 0), 0);
    EXPECT_TRUE(small.getFilled());
}

TEST(FrameBuffer_Copy, IsIndependentOfTheLiveBuffer)
{
    FrameBuffer fb;
    setGeometry(fb, 3, 2, 2);
    const std::vector<int> words = ramp(4, 10);
    fb.addData(words.data(), 4, 0);
    FrameBuffer copy(fb, true);
    const std::vector<int> other = ramp(4, 50);
    fb.addData(other.data(), 4, 4);
    int count = 0;
    const int* data = copy.getData(&count);
    ASSERT_EQ(count, 4);
    EXPECT_EQ(std::vector<int>(data, data + 4), words);
    EXPECT_EQ(copy.getMetaData(StreamFormat::metaCode(StreamFormat::RangeX)), 2);
    EXPECT_FALSE(copy.permLogOpen());

    // Without the flag a scan copy keeps only the metadata.
    FrameBuffer metaOnly(fb, false);
    metaOnly.getData(&count);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(metaOnly.frameMode(), 2);
}

class FrameBufferFiles : public ::testing::Test
{
protected:
    QTemporaryDir dir;
    QString path(const char* name) const { return dir.filePath(QString::fromLatin1(name)); }

    /// A 3 x 2 forBack scan in volts (unit 0x280) with resolution 1/1000 V and raw words 1..12.
    void fillScan(FrameBuffer& fb, int words = 12)
    {
        setGeometry(fb, 4, 3, 2);
        fb.setMetaData(StreamFormat::metaCode(StreamFormat::PhysX), 30); // 30 µm wide
        fb.setMetaData(StreamFormat::metaCode(StreamFormat::PhysY), 20);
        fb.setMetaData(StreamFormat::metaCode(StreamFormat::UnitX), 0x17E);
        fb.setMetaData(StreamFormat::metaCode(StreamFormat::UnitVal), 0x280);
        fb.setMetaData(StreamFormat::metaCode(StreamFormat::PhysVal), 1000);
        const std::vector<int> data = ramp(words, 1);
        fb.addData(data.data(), words, 0);
    }
};

TEST_F(FrameBufferFiles, LineCsvHoldsHeaderAndPhysicalSamples)
{
    FrameBuffer fb;
    setGeometry(fb, 2, 3, 0);
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::PhysX), 4);       // 4 units over the line
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::UnitX), 0x380);   // Hz
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::UnitVal), 0x280); // V
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::PhysVal), 4);     // a word is 1/4 V
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::OffsetVal), 2);   // offset of the words
    const int words[] = {2, 6, 10};
    fb.addData(words, 3, 0);
    const QString name = path("line.csv");
    EXPECT_LT(fb.saveLineCsv(name, "Channel_3"), FrameBuffer::saveFailed);
    const QList<QByteArray> lines = readAll(name).split('\n');
    ASSERT_GE(lines.size(), 8);
    EXPECT_EQ(lines[0], "# Channel_3");
    EXPECT_TRUE(lines[1].startsWith("# Date: "));
    EXPECT_EQ(lines[2], "# Unit of X: Hz");
    EXPECT_EQ(lines[3], "# Unit of Y: V");
    EXPECT_EQ(lines[4], "X ; Y");
    EXPECT_EQ(lines[5], "0 ; 0");
    EXPECT_EQ(lines[6], "2 ; 1");
    EXPECT_EQ(lines[7], "4 ; 2");
}

TEST_F(FrameBufferFiles, AscPairSplitsDirectionsAndMirrorsBackwardLines)
{
    FrameBuffer fb;
    fillScan(fb);
    const QString fwd = path("f.asc"), bwd = path("b.asc");
    EXPECT_EQ(fb.saveFrameAsc(fwd, "T", true, true), FrameBuffer::saveOk);
    EXPECT_EQ(fb.saveFrameAsc(bwd, "T", false, false), FrameBuffer::saveOk);
    const QByteArray f = readAll(fwd);
    EXPECT_TRUE(f.contains("# direction: fwd\n"));
    // Even frames are scanned bottom up: the second scan row (words 7..9) is the top row.
    const QByteArray fData = f.mid(f.indexOf("# Start of Data:\n") + 17);
    EXPECT_EQ(fData, "0.007  0.008  0.009\n0.001  0.002  0.003\n");
    const QByteArray b = readAll(bwd);
    EXPECT_TRUE(b.contains("# direction: bwd\n"));
    // Backward lines (words 4..6 and 10..12) are mirrored; one value per line without the matrix flag.
    const QByteArray bData = b.mid(b.indexOf("# Start of Data:\n") + 17);
    EXPECT_EQ(bData, "0.012\n0.011\n0.01\n0.006\n0.005\n0.004\n");
}

TEST_F(FrameBufferFiles, BcrfHasTheFixedHeaderAndLittleEndianFloats)
{
    FrameBuffer fb;
    fillScan(fb, 10); // the last two words of the frame are missing
    const QString name = path("scan.bcrf");
    ASSERT_EQ(fb.saveFrameBcr(name, "Channel_0", false), FrameBuffer::saveOk);
    const QByteArray file = readAll(name);
    ASSERT_EQ(file.size(), 2048 + 6 * 4);
    const QByteArray head = file.left(2048);
    EXPECT_TRUE(head.startsWith("fileformat = bcrf\nheadersize = 2048\nxpixels = 3\nypixels = 2\n"));
    EXPECT_TRUE(head.contains("\nintelmode = 1\n"));
    EXPECT_TRUE(head.contains("\nxunit = m\n"));
    EXPECT_TRUE(head.contains("\nzunit = V\n"));
    EXPECT_TRUE(head.contains("\nvoidpixels = 2\n"));
    EXPECT_EQ(head.at(2047), '\0');
    std::vector<float> values;
    for (int i = 0; i < 6; ++i) {
        const quint32 bits = qFromLittleEndian<quint32>(file.constData() + 2048 + 4 * i);
        float v;
        std::memcpy(&v, &bits, 4);
        values.push_back(v);
    }
    // Top row = second scan row, backward words 10 (present), 11 and 12 (missing), mirrored.
    EXPECT_TRUE(std::isnan(values[0]));
    EXPECT_TRUE(std::isnan(values[1]));
    EXPECT_FLOAT_EQ(values[2], 0.010f);
    EXPECT_FLOAT_EQ(values[3], 0.006f);
    EXPECT_FLOAT_EQ(values[5], 0.004f);
}

TEST_F(FrameBufferFiles, BcrfOpensInGwyddion)
{
    const QString tool = QStandardPaths::findExecutable(QStringLiteral("gwyddion-thumbnailer"));
    if (tool.isEmpty())
        GTEST_SKIP() << "gwyddion-thumbnailer is not installed; the BCRF check needs it (scripts/deps)";
    FrameBuffer fb;
    setGeometry(fb, 4, 32, 24);
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::PhysX), 5000);
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::PhysY), 4000);
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::UnitX), 0x17C); // nm... any length unit will do
    fb.setMetaData(StreamFormat::metaCode(StreamFormat::UnitVal), 0x280);
    std::vector<int> words(size_t(fb.frameLength()));
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = int(1000 * std::sin(double(i) / 40.0));
    fb.addData(words.data(), int(words.size()) - 7, 0); // a few void pixels as well
    const QString in = path("scan.bcrf"), out = path("scan.png");
    ASSERT_EQ(fb.saveFrameBcr(in, "Gwyddion check", true), FrameBuffer::saveOk);
    QProcess process;
    process.start(tool, {QStringLiteral("gnome2"), QStringLiteral("128"), in, out});
    ASSERT_TRUE(process.waitForFinished(60000));
    EXPECT_EQ(process.exitCode(), 0) << process.readAllStandardError().constData();
    EXPECT_TRUE(QFileInfo(out).size() > 0);
}

TEST_F(FrameBufferFiles, WritersReportFailureAndLeaveNoFile)
{
    FrameBuffer scan;
    fillScan(scan);
    FrameBuffer line;
    setGeometry(line, 2, 3, 0);
    const int words[] = {1, 2, 3};
    line.addData(words, 3, 0);
    const QString missing = path("no/such/dir/file");
    EXPECT_EQ(line.saveLineCsv(missing, "T"), FrameBuffer::saveFailed);
    EXPECT_EQ(scan.saveFrameAsc(missing, "T", true, false), FrameBuffer::saveFailed);
    EXPECT_EQ(scan.saveFrameBcr(missing, "T", true), FrameBuffer::saveFailed);
    EXPECT_EQ(line.saveLineCsv(QString(), "T"), FrameBuffer::saveFailed);
    EXPECT_FALSE(QFileInfo::exists(missing));
    // A scan has no line CSV and a line no frame files: failures, not empty successes.
    EXPECT_EQ(scan.saveLineCsv(path("x.csv"), "T"), FrameBuffer::saveFailed);
    EXPECT_EQ(line.saveFrameBcr(path("x.bcrf"), "T", true), FrameBuffer::saveFailed);
    // A target that is not a plain file (here a directory) is refused, never replaced.
    EXPECT_EQ(line.saveLineCsv(dir.path(), "T"), FrameBuffer::saveFailed);
    EXPECT_TRUE(QFileInfo(dir.path()).isDir());
}

TEST_F(FrameBufferFiles, PermanentLogAppendsBlocksAndFlushesWithinASecond)
{
    FrameBuffer fb;
    const QString name = path("perm.csv");
    ASSERT_EQ(fb.startPermCsv(name, "Channel_1"), FrameBuffer::saveOk);
    EXPECT_EQ(fb.permLogName(), name);
    const int a[] = {7, 8};
    const int b[] = {-1};
    EXPECT_EQ(fb.savePermCsv(a, 2, 10), FrameBuffer::saveOk);
    EXPECT_EQ(fb.savePermCsv(b, 1), FrameBuffer::saveOk); // continues at 12
    EXPECT_EQ(fb.savePermCsv(b, 0), FrameBuffer::saveOk);
    // Without closing the log, the lines reach the file by the flush timer.
    EXPECT_TRUE(QTest::qWaitFor([&] { return readAll(name).endsWith("12 ; -1\n"); }, 5000));
    const QByteArray text = readAll(name);
    EXPECT_TRUE(text.startsWith("# Channel_1\n"));
    EXPECT_TRUE(text.contains("\nIndex ; Value\n10 ; 7\n11 ; 8\n12 ; -1\n"));
    EXPECT_EQ(fb.startPermCsv(QString(), QByteArray()), FrameBuffer::saveOk);
    EXPECT_FALSE(fb.permLogOpen());
    EXPECT_EQ(fb.savePermCsv(a, 2), FrameBuffer::saveNothing);
    EXPECT_EQ(fb.startPermCsv(path("no/dir/perm.csv"), "x"), FrameBuffer::saveFailed);
}

#if defined(__has_feature)
#if __has_feature(address_sanitizer) || __has_feature(thread_sanitizer) || __has_feature(memory_sanitizer)
#define ORVIK_TEST_SANITIZED 1
#endif
#endif
#if defined(__SANITIZE_ADDRESS__) || defined(__SANITIZE_THREAD__)
#define ORVIK_TEST_SANITIZED 1
#endif

TEST(FrameBuffer_Limit, FailedAllocationKeepsTheOldValue)
{
#if !defined(Q_OS_LINUX) || defined(ORVIK_TEST_SANITIZED)
    GTEST_SKIP() << "needs an address-space limit that the sanitizers' own mappings do not survive";
#else
    FrameBuffer fb;
    setGeometry(fb, GPlugin::forBack, 16, 8);
    ASSERT_EQ(fb.frameLength(), 256);
    // Let the process map only 64 MiB more, so that a frame of 400 MB (within the buffer's size limit) cannot be
    // allocated although the limit lets it through.
    QFile statm(QStringLiteral("/proc/self/statm"));
    ASSERT_TRUE(statm.open(QIODevice::ReadOnly));
    const qint64 pages = statm.readAll().split(' ').value(0).toLongLong();
    ASSERT_GT(pages, 0);
    rlimit old{};
    ASSERT_EQ(getrlimit(RLIMIT_AS, &old), 0);
    rlimit tight = old;
    tight.rlim_cur = rlim_t(pages * sysconf(_SC_PAGESIZE) + (qint64(64) << 20));
    ASSERT_EQ(setrlimit(RLIMIT_AS, &tight), 0);
    bool threw = false;
    try {
        fb.setMetaData(StreamFormat::metaCode(StreamFormat::RangeY), 3000000); // 16 x 3000000 x 2 words: 384 MB
    } catch (const OomError&) {
        threw = true;
    }
    setrlimit(RLIMIT_AS, &old);
    EXPECT_TRUE(threw);
    EXPECT_EQ(fb.getMetaData(StreamFormat::metaCode(StreamFormat::RangeY)), 8);
    EXPECT_EQ(fb.frameLength(), 256);
    const std::vector<int> words = ramp(256);
    EXPECT_EQ(fb.addData(words.data(), 256, 0), 0);
    EXPECT_TRUE(fb.getFilled());
#endif
}

TEST(FrameBuffer_Meta, KeepsPropertiesAndInitButNoOtherCodes)
{
    FrameBuffer fb;
    const int rangeX = StreamFormat::metaCode(StreamFormat::RangeX), order = StreamFormat::metaCode(StreamFormat::Order);
    const int noProperty = StreamFormat::metaCode(StreamFormat::PhysVal) + 1;
    fb.setMetaData(rangeX, 8);
    fb.setMetaData(StreamFormat::metaInit, 1);
    fb.setMetaData(StreamFormat::metaGroup, 3); // kept as sent: the channel maps the group when it delivers it
    fb.setMetaData(noProperty, 5);
    fb.setMetaData(order, GPlugin::cyclic);
    EXPECT_EQ(fb.metaData().keys(), (QList<int>{order, rangeX, StreamFormat::metaGroup, StreamFormat::metaInit}));
    EXPECT_EQ(fb.getMetaData(StreamFormat::metaGroup), 3);
    EXPECT_EQ(fb.getMetaData(noProperty, -1), -1);
    EXPECT_EQ(fb.format().rangeX(), 8);
    EXPECT_TRUE(fb.hasInit());
    EXPECT_EQ(fb.frameLength(), 8);
}
