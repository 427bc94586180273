// Every selection tool steers the simulator visibly: a path makes the next scan frame a line scan along it, a grid
// makes it sample the grid's points, a spectrum range narrows the band of the lines. Over real sockets, through a
// view manager, as the viewer does it.
#include "connection/datagroup.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "connectiontest.h"
#include "simserver.h"

#include <QSet>
#include <QSignalSpy>
#include <algorithm>
#include <gtest/gtest.h>
#include <memory>

namespace {

/// Keeps the data blocks as they arrive: stream position and words.
class BlockRecorder : public GPlugin
{
public:
    BlockRecorder() : GPlugin(nullptr, QStringLiteral("BlockRecorder"), nullptr) {}
    void setData(const int* data, int count, int index) override
    {
        blocks.append({index, QVector<int>(data, data + count)});
    }
    /// The words of the first whole frame of `frame` words that starts at position 0, from block `from` on; empty
    /// when none arrived yet.
    QVector<int> frameAtZero(int from, int frame, int* next = nullptr) const
    {
        for (int b = from; b < blocks.size(); ++b) {
            if (blocks[b].first != 0)
                continue;
            QVector<int> words;
            int expected = 0;
            for (int k = b; k < blocks.size() && blocks[k].first == expected && words.size() < frame; ++k) {
                words += blocks[k].second;
                expected += blocks[k].second.size();
                if (next)
                    *next = k + 1;
            }
            if (words.size() >= frame)
                return words.mid(0, frame);
        }
        return {};
    }
    QList<QPair<int, QVector<int>>> blocks;
};

class SteeringTest : public ::testing::Test
{
protected:
    void SetUp() override
    {
        for (int g = 0; g < 3; ++g) {
            DataGroup d;
            d.groupNumber = g;
            d.name = QStringLiteral("G%1").arg(g);
            groups.insert(g, d);
        }
        // A small scan keeps frames short: 16 x 16 pixels, forward and backward, two frames a second.
        sim.setScanPixels(pixels);
        sim.setChannels({SimServer::Scan, SimServer::Sine, SimServer::Lines, SimServer::TimeTags});
        ASSERT_TRUE(sim.listen(0));
        manager = std::make_unique<ViewManager>(nullptr, false);
        manager->setChannelCount(sim.channelCount(), 0, groups);
    }
    BlockRecorder* addPage(int channel)
    {
        // A name of its own: a page restores the channel persisted under its name.
        static int made = 0;
        auto page = std::make_unique<ViewPage>(nullptr, QStringLiteral("SteerPage%1").arg(++made), groups, false);
        page->setSelectMode(ViewPage::selectAll);
        auto* plugin = new BlockRecorder;
        page->addReceiver(plugin);
        manager->addPage(page.get());
        page->setChannelNo(channel);
        pages.push_back(std::move(page));
        return plugin;
    }
    /// The forward half of line `j` of a scan frame (lines are forward then backward).
    static QVector<int> forwardLine(const QVector<int>& frame, int j) { return frame.mid(2 * j * pixels, pixels); }

    static constexpr int pixels = 16;
    SimServer sim;
    QMap<int, DataGroup> groups;
    std::unique_ptr<ViewManager> manager;
    std::vector<std::unique_ptr<ViewPage>> pages;
};

} // namespace

TEST_F(SteeringTest, PathAndGridSelectionsShapeTheNextScanFrame)
{
    BlockRecorder* scan = addPage(0);
    manager->connectToServer(QStringLiteral("127.0.0.1"), sim.serverPort());
    const int frame = 2 * pixels * pixels;
    ASSERT_TRUE(QTest::qWaitFor([&]() { return !scan->frameAtZero(0, frame).isEmpty(); }, 10000));
    // A surface frame: its lines differ.
    const QVector<int> surface = scan->frameAtZero(0, frame);
    EXPECT_NE(forwardLine(surface, 0), forwardLine(surface, pixels / 2));

    QSignalSpy special(&sim, &SimServer::specialFrameQueued);
    struct Case
    {
        const char* what;
        SimServer::FrameKind kind;
    };
    for (const Case& c : {Case{"path", SimServer::PathFrame}, Case{"grid", SimServer::GridFrame}}) {
        SCOPED_TRACE(c.what);
        special.clear();
        const int from = scan->blocks.size();
        if (c.kind == SimServer::PathFrame) {
            // A bent path over the surface (pm): every line of the next frame is the same profile along it.
            emit scan->pathSelected(PathList{QPoint(-30000, -20000), QPoint(10000, 5000), QPoint(30000, -15000)},
                                    GPlugin::scanner);
        } else {
            // A grid of 4 x 2 points: the frame shows 4 columns and 2 rows of constant values.
            emit scan->gridSelected(PathList{QPoint(-30000, -30000), QPoint(30000, -30000), QPoint(-30000, 30000)}, 4,
                                    2, GPlugin::scanner);
        }
        ASSERT_TRUE(special.wait(5000));
        EXPECT_EQ(special.last().at(0).toInt(), int(c.kind));
        int after = 0;
        ASSERT_TRUE(QTest::qWaitFor([&]() { return !scan->frameAtZero(from, frame, &after).isEmpty(); }, 10000));
        const QVector<int> shaped = scan->frameAtZero(from, frame);
        if (c.kind == SimServer::PathFrame) {
            for (int j = 1; j < pixels; ++j)
                ASSERT_EQ(forwardLine(shaped, j), forwardLine(shaped, 0)) << "line " << j;
            // The profile is not flat: it follows the surface along the path.
            const QVector<int> profile = forwardLine(shaped, 0);
            EXPECT_NE(*std::min_element(profile.begin(), profile.end()),
                      *std::max_element(profile.begin(), profile.end()));
        } else {
            // Blocks of pixels/4 columns and pixels/2 lines carry one grid point's value each.
            QSet<int> distinct;
            for (int j = 0; j < pixels; ++j) {
                const QVector<int> line = forwardLine(shaped, j);
                for (int i = 0; i < pixels; ++i) {
                    ASSERT_EQ(line[i], forwardLine(shaped, (j / (pixels / 2)) * (pixels / 2))[(i / 4) * 4])
                        << "pixel " << i << "," << j;
                    distinct.insert(line[i]);
                }
            }
            EXPECT_GT(distinct.size(), 1);
            EXPECT_LE(distinct.size(), 8);
        }
        // Only that one frame: the one after it is the surface again, whose lines differ.
        ASSERT_TRUE(QTest::qWaitFor(
            [&]() {
                int k = after;
                for (; k < scan->blocks.size(); ++k) {
                    if (scan->blocks[k].first == frame) { // the frame after the special one, uninterrupted
                        QVector<int> next;
                        for (int m = k; m < scan->blocks.size() && next.size() < frame; ++m)
                            next += scan->blocks[m].second;
                        if (next.size() < frame)
                            return false;
                        return forwardLine(next, 0) != forwardLine(next, pixels / 2);
                    }
                }
                return false;
            },
            10000));
    }
}

TEST_F(SteeringTest, SpectrumRangeNarrowsTheBandOfTheLines)
{
    BlockRecorder* lines = addPage(2);
    manager->connectToServer(QStringLiteral("127.0.0.1"), sim.serverPort());
    ASSERT_TRUE(QTest::qWaitFor([&]() { return lines->blocks.size() > 4; }, 10000));

    // 50 kHz to 100 kHz on spectrum 0 (the first lines channel): the server gets start and end in Hz.
    emit lines->rangeSelected(QRect(QPoint(50000, 0), QPoint(100000, -1)), GPlugin::spec0);
    ASSERT_TRUE(QTest::qWaitFor([&]() { return sim.band(0).end == 100000; }, 5000));
    EXPECT_EQ(sim.band(0).start, 50000);
    EXPECT_EQ(sim.band(1).end, 0); // other spectra keep their band

    // Whole lines sent after the change: every peak lies in bins 50 to 99, elsewhere only the floor.
    const int from = lines->blocks.size();
    constexpr int lineLength = 256;
    QVector<int> words;
    ASSERT_TRUE(QTest::qWaitFor(
        [&]() {
            if (lines->blocks.size() <= from)
                return false;
            QVector<int> all;
            for (int b = from; b < lines->blocks.size(); ++b)
                all += lines->blocks[b].second;
            // From a line start; lines already under way to the client at the change are left out by taking the
            // last 8 whole lines of 40.
            const int base = lines->blocks[from].first;
            const int off = (lineLength - base % lineLength) % lineLength;
            const int whole = (all.size() - off) / lineLength;
            if (whole < 40)
                return false;
            words = all.mid(off + (whole - 8) * lineLength, 8 * lineLength);
            return true;
        },
        10000));
    for (int l = 0; l < 8; ++l) {
        SCOPED_TRACE(l);
        const QVector<int> line = words.mid(l * lineLength, lineLength);
        const int peak = int(std::max_element(line.begin(), line.end()) - line.begin());
        EXPECT_GE(peak, 50);
        EXPECT_LT(peak, 100);
        for (int i = 0; i < lineLength; ++i) {
            if (i < 50 || i >= 100) {
                ASSERT_LT(line[i], 1200) << "bin " << i;
            }
        }
    }
}
