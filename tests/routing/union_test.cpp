// Fork and Union: pairing in every order and lifetime, the merge modes with hand-made inputs, the output description
// and the options.
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "routing/forkplugin.h"
#include "routing/unionplugin.h"
#include "support/recordingplugin.h"

#include <QCoreApplication>
#include <QSignalSpy>
#include <climits>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

// A union with a recording successor; forks are paired by calling their partner slot, as a page does.
struct UnionFixture
{
    UnionFixture() : u(std::make_unique<UnionPlugin>(nullptr, QStringLiteral("U"))), rec(new RecordingPlugin)
    {
        u->setSuccessor(rec);
    }
    ForkPlugin* fork(const QString& index = QString())
    {
        forks.push_back(std::make_unique<ForkPlugin>(nullptr, QStringLiteral("F%1").arg(forks.size() + 1)));
        ForkPlugin* f = forks.back().get();
        f->setOption(QStringLiteral("target"), QStringLiteral("U"));
        if (!index.isNull())
            f->setOption(QStringLiteral("index"), index);
        f->checkForPartner(QStringLiteral("U"), u.get());
        return f;
    }
    // Describes input `input` as a plain stream of the given order (the fork's chain or the union's own).
    void describe(int input, int order = 0, int unitVal = 0x27E, int physVal = 1)
    {
        GPlugin* target = input == 0 ? static_cast<GPlugin*>(u.get()) : forkOf(input);
        target->setDataOrder(GPlugin::DataOrder(order));
        target->setDataEncoding(GPlugin::Int32Enc);
        target->setDataUnitVal(unitVal);
        target->setDataPhysVal(physVal);
    }
    ForkPlugin* forkOf(int input)
    {
        for (auto& f : forks)
            if (f->getInput() == input)
                return f.get();
        return nullptr;
    }
    void feed(int input, const std::vector<int>& words, int index)
    {
        GPlugin* target = input == 0 ? static_cast<GPlugin*>(u.get()) : forkOf(input);
        ASSERT_NE(target, nullptr);
        target->setData(words.data(), int(words.size()), index);
    }
    // The data calls the union sent downstream, as (index, words).
    std::vector<std::pair<int, std::vector<int>>> blocks() const
    {
        std::vector<std::pair<int, std::vector<int>>> out;
        int at = 0;
        for (const QString& c : rec->calls) {
            if (!c.startsWith(QLatin1String("setData ")))
                continue;
            const int n = c.section(QLatin1Char(' '), 1, 1).toInt();
            const int index = rec->indices.at(int(out.size()));
            out.push_back({index, std::vector<int>(rec->words.begin() + at, rec->words.begin() + at + n)});
            at += n;
        }
        return out;
    }
    std::unique_ptr<UnionPlugin> u;
    RecordingPlugin* rec; // owned by the union
    std::vector<std::unique_ptr<ForkPlugin>> forks;
};

std::vector<int> seq(int first, int count, int step = 1)
{
    std::vector<int> w;
    for (int i = 0; i < count; ++i)
        w.push_back(first + i * step);
    return w;
}

using Points = std::vector<std::pair<int, std::vector<int>>>;

} // namespace

TEST(Fork_Pairing, TakesInputsByIndexOption)
{
    UnionFixture fx;
    fx.fork(); // F1, automatic: input 1
    EXPECT_EQ(fx.forks[0]->getInput(), 1);
    EXPECT_EQ(fx.u->getFork(1), fx.forks[0].get());

    ForkPlugin* f2 = fx.fork(QStringLiteral("2")); // index 2: input 3
    EXPECT_EQ(f2->getInput(), 3);
    ForkPlugin* f3 = fx.fork(); // the lowest free input
    EXPECT_EQ(f3->getInput(), 2);
    EXPECT_EQ(fx.u->getInputsUsed(), 3);

    // An explicit index wins over an automatic choice: F1 moves on to the next free input.
    ForkPlugin* f4 = fx.fork(QStringLiteral("0"));
    EXPECT_EQ(f4->getInput(), 1);
    EXPECT_EQ(fx.forks[0]->getInput(), 4);
    EXPECT_EQ(fx.u->getFork(4), fx.forks[0].get());

    // Two explicit forks on one input: the second stays unpaired and says so.
    auto extra = std::make_unique<ForkPlugin>(nullptr, QStringLiteral("X"));
    extra->setOption(QStringLiteral("target"), QStringLiteral("U"));
    extra->setOption(QStringLiteral("index"), QStringLiteral("0"));
    QSignalSpy status(extra.get(), &GPlugin::statusChanged);
    extra->checkForPartner(QStringLiteral("U"), fx.u.get());
    EXPECT_EQ(extra->getInput(), -1);
    ASSERT_EQ(status.count(), 1);
    EXPECT_EQ(status.at(0).at(2).toInt(), 2);
}

TEST(Fork_Pairing, BadIndicesAndAnEighthForkStayUnpaired)
{
    for (const char* index : {"7", "-2", "100"}) {
        SCOPED_TRACE(index);
        UnionFixture fx;
        ForkPlugin f(nullptr, QStringLiteral("F"));
        QSignalSpy status(&f, &GPlugin::statusChanged);
        f.setOption(QStringLiteral("target"), QStringLiteral("U"));
        f.setOption(QStringLiteral("index"), QLatin1String(index));
        EXPECT_EQ(status.count(), 1);
        f.checkForPartner(QStringLiteral("U"), fx.u.get());
        EXPECT_EQ(f.getInput(), -1);
        EXPECT_EQ(fx.u->getInputsUsed(), 0);
    }
    UnionFixture fx;
    for (int i = 0; i < 7; ++i)
        EXPECT_EQ(fx.fork()->getInput(), i + 1);
    EXPECT_EQ(fx.fork()->getInput(), -1);
    // Words of the unpaired fork still reach its own successor.
    auto* after = new RecordingPlugin;
    fx.forks.back()->setSuccessor(after);
    fx.feed(0, {1}, 0);
    const int w[2] = {5, 6};
    fx.forks.back()->setData(w, 2, 0);
    EXPECT_EQ(after->words, QVector<int>({5, 6}));
}

TEST(Fork_Pairing, IgnoresOtherNamesAndTypes)
{
    UnionFixture fx;
    ForkPlugin f(nullptr, QStringLiteral("F"));
    f.setOption(QStringLiteral("target"), QStringLiteral("U"));
    RecordingPlugin other;
    f.checkForPartner(QStringLiteral("U"), &other);         // not a union
    f.checkForPartner(QStringLiteral("Other"), fx.u.get()); // not the target
    f.checkForPartner(QStringLiteral("U"), nullptr);        // a bare search
    EXPECT_EQ(f.getPartner(), nullptr);
    QSignalSpy replay(&f, &GPlugin::requestLastFrame);
    f.checkForPartner(QStringLiteral("U"), fx.u.get());
    EXPECT_EQ(f.getPartner(), fx.u.get());
    EXPECT_EQ(replay.count(), 1); // the page replays its last frame into the new pairing
    f.checkForPartner(QStringLiteral("U"), fx.u.get());
    EXPECT_EQ(replay.count(), 1);
}

TEST(Fork_Lifetime, EitherSideMayGoFirst)
{
    // The union goes first: the fork is unpaired, keeps passing its stream, and pairs with the next union of the name.
    auto u = std::make_unique<UnionPlugin>(nullptr, QStringLiteral("U"));
    ForkPlugin f(nullptr, QStringLiteral("F"));
    auto* after = new RecordingPlugin;
    f.setSuccessor(after);
    f.setOption(QStringLiteral("target"), QStringLiteral("U"));
    f.checkForPartner(QStringLiteral("U"), u.get());
    ASSERT_EQ(f.getInput(), 1);
    u.reset();
    EXPECT_EQ(f.getPartner(), nullptr);
    EXPECT_EQ(f.getInput(), -1);
    const int w[3] = {1, 2, 3};
    f.setData(w, 3, 0);
    f.setDataRangeX(3);
    EXPECT_EQ(after->words.size(), 3);
    UnionPlugin again(nullptr, QStringLiteral("U"));
    f.checkForPartner(QStringLiteral("U"), &again);
    EXPECT_EQ(f.getInput(), 1);
    EXPECT_EQ(again.inputFormat(1).rangeX(), 3); // what the fork knew arrives with the pairing

    // The fork goes first: its input is freed and the union merges on without it.
    auto f2 = std::make_unique<ForkPlugin>(nullptr, QStringLiteral("F2"));
    f2->setOption(QStringLiteral("target"), QStringLiteral("U"));
    f2->checkForPartner(QStringLiteral("U"), &again);
    EXPECT_EQ(f2->getInput(), 2);
    f2.reset();
    EXPECT_EQ(again.getFork(2), nullptr);
    EXPECT_EQ(again.getInputsUsed(), 1);
    auto f3 = std::make_unique<ForkPlugin>(nullptr, QStringLiteral("F3"));
    f3->setOption(QStringLiteral("target"), QStringLiteral("U"));
    f3->checkForPartner(QStringLiteral("U"), &again);
    EXPECT_EQ(f3->getInput(), 2); // the freed input is free again
}

TEST(Fork_Pairing, FindsItsUnionAcrossPagesBuiltAtDifferentTimes)
{
    // Pages relay partner searches through their host, as the viewer does: every search reaches every page.
    QMap<int, DataGroup> groups;
    std::vector<std::unique_ptr<ViewPage>> pages;
    auto addPage = [&](const QString& name) {
        pages.push_back(std::make_unique<ViewPage>(nullptr, name, groups, false));
        ViewPage* p = pages.back().get();
        QObject::connect(p, &ViewPage::searchPluginIn, p, [&pages](QString n, GPlugin* ptr) {
            for (auto& q : pages)
                emit q->searchPluginOut(n, ptr);
        });
        return p;
    };
    auto settle = [] {
        for (int i = 0; i < 3; ++i)
            QCoreApplication::processEvents();
    };
    const QStringList target{QStringLiteral("target")}, index{QStringLiteral("index")};

    // A union first, a fork on a page built later.
    ViewPage* a = addPage(QStringLiteral("A"));
    auto* u = qobject_cast<UnionPlugin*>(a->addPlugin(QStringLiteral("Union"), QStringLiteral("U1"), {}, {}));
    ASSERT_NE(u, nullptr);
    settle();
    ViewPage* b = addPage(QStringLiteral("B"));
    auto* f = qobject_cast<ForkPlugin*>(b->addPlugin(QStringLiteral("Fork"), QStringLiteral("F1"), target, {"U1"}));
    ASSERT_NE(f, nullptr);
    settle();
    EXPECT_EQ(f->getPartner(), u);

    // A fork first, its union on a page built later; a second fork on the union's own page.
    ViewPage* c = addPage(QStringLiteral("C"));
    auto* g = qobject_cast<ForkPlugin*>(c->addPlugin(QStringLiteral("Fork"), QStringLiteral("F2"), target, {"U2"}));
    settle();
    EXPECT_EQ(g->getPartner(), nullptr);
    ViewPage* d = addPage(QStringLiteral("D"));
    auto* h = qobject_cast<ForkPlugin*>(
        d->addPlugin(QStringLiteral("Fork"), QStringLiteral("F3"), target + index, {"U2", "4"}));
    auto* u2 = qobject_cast<UnionPlugin*>(d->addPlugin(QStringLiteral("Union"), QStringLiteral("U2"), {}, {}));
    settle();
    EXPECT_EQ(g->getPartner(), u2);
    EXPECT_EQ(g->getInput(), 1);
    EXPECT_EQ(h->getPartner(), u2);
    EXPECT_EQ(h->getInput(), 5);

    // The union's page goes away; its forks live on unpaired.
    pages.erase(pages.begin() + 3);
    EXPECT_EQ(g->getPartner(), nullptr);
    const int w = 1;
    g->setData(&w, 1, 0);
}

TEST(Union_Parametric, PairsByIndexInEitherArrivalOrder)
{
    for (bool positionsFirst : {false, true}) {
        SCOPED_TRACE(positionsFirst);
        UnionFixture fx;
        fx.fork();
        fx.describe(0, 1); // a scan order: pairing by index
        fx.describe(1, 1);
        const std::vector<int> values = seq(100, 10), positions = seq(-50, 10, 7);
        if (positionsFirst)
            fx.feed(1, positions, 0);
        fx.feed(0, values, 0);
        if (!positionsFirst)
            fx.feed(1, positions, 0);
        Points expected;
        for (int i = 0; i < 10; ++i)
            expected.push_back({positions[size_t(i)], {values[size_t(i)]}});
        EXPECT_EQ(fx.blocks(), expected);
    }
}

TEST(Union_Parametric, PairsOnlyIndicesBothInputsHold)
{
    UnionFixture fx;
    fx.fork();
    fx.u->setOption(QStringLiteral("forceddatamatch"), QStringLiteral("1"));
    fx.describe(0);
    fx.describe(1);
    fx.feed(0, seq(0, 10), 0);    // indices 0..9
    fx.feed(1, seq(1000, 10), 5); // indices 5..14
    Points expected;
    for (int i = 5; i < 10; ++i)
        expected.push_back({1000 + i - 5, {i}});
    EXPECT_EQ(fx.blocks(), expected);
    fx.rec->clear();
    fx.feed(0, seq(10, 10), 10); // 10..19: only 10..14 have positions
    ASSERT_EQ(fx.blocks().size(), 5u);
    EXPECT_EQ(fx.blocks().front(), std::make_pair(1005, std::vector<int>{10}));
}

TEST(Union_Parametric, PairsByArrivalWhenIndicesAreUnrelated)
{
    UnionFixture fx;
    fx.fork();
    fx.describe(0); // linear streams: their indices say nothing about each other
    fx.describe(1);
    fx.feed(0, seq(100, 5), 700); // values wait for positions
    EXPECT_TRUE(fx.blocks().empty());
    fx.feed(1, seq(10, 3), 3);
    fx.feed(1, seq(13, 4), 9);
    Points expected;
    for (int i = 0; i < 5; ++i)
        expected.push_back({10 + i, {100 + i}});
    EXPECT_EQ(fx.blocks(), expected);
    // Two positions wait; a value input that stops leaves them waiting, a position input that runs on is bounded.
    fx.rec->clear();
    for (int k = 0; k < 10; ++k)
        fx.feed(1, seq(0, 1000), k * 1000);
    EXPECT_TRUE(fx.blocks().empty());
    EXPECT_EQ(fx.u->ring(1).getSize(), RingBuffer::capacity);
    fx.feed(0, {7}, 0);
    EXPECT_EQ(fx.blocks().size(), 1u);
}

TEST(Union_Fpsxy, ConvertsEveryPairIncludingSplitOnes)
{
    UnionFixture fx;
    fx.u->setOption(QStringLiteral("mode"), QStringLiteral("fpsxy"));
    fx.describe(0);
    // Position and value are signed 24-bit numbers; the top byte is not part of them.
    fx.feed(0, {1, 10, 0xFFFFFF, 0x7F000014, 3, 30, 4, 0x00800000}, 0);
    Points expected{{1, {10}}, {-1, {20}}, {3, {30}}, {4, {-8388608}}};
    EXPECT_EQ(fx.blocks(), expected);
    fx.rec->clear();
    fx.feed(0, {5, 50, 6}, 8); // a pair cut by the block end
    fx.feed(0, {60, 7}, 11);
    fx.feed(0, {70}, 13);
    expected = {{5, {50}}, {6, {60}}, {7, {70}}};
    EXPECT_EQ(fx.blocks(), expected);
    fx.rec->clear();
    fx.feed(0, {8}, 20);     // a position whose value never comes...
    fx.feed(0, {9, 90}, 40); // ...is dropped when the stream jumps
    expected = {{9, {90}}};
    EXPECT_EQ(fx.blocks(), expected);
}

TEST(Union_Multiline, InterleavesInputsByIndex)
{
    UnionFixture fx;
    fx.fork();
    fx.fork();
    fx.u->setOption(QStringLiteral("mode"), QStringLiteral("multiline"));
    for (int i = 0; i < 3; ++i)
        fx.describe(i, 3);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataEncoding")), 1 | 0x700);
    fx.feed(0, seq(0, 10), 0);
    fx.feed(1, seq(100, 10), 0);
    EXPECT_TRUE(fx.blocks().empty());
    fx.feed(2, seq(202, 10), 2); // indices 2..11
    std::vector<int> merged;
    for (int k = 2; k < 10; ++k)
        merged.insert(merged.end(), {k, 100 + k, 200 + k});
    Points expected{{2 * 3, merged}};
    EXPECT_EQ(fx.blocks(), expected);
    fx.rec->clear();
    fx.feed(0, seq(10, 4), 10);
    fx.feed(1, seq(110, 4), 10); // 10 and 11: all three hold them; 12 and 13 wait for input 2
    expected = {{10 * 3, {10, 110, 210, 11, 111, 211}}};
    EXPECT_EQ(fx.blocks(), expected);
}

TEST(Union_Multiline, MergesUnalignedInputsByArrival)
{
    UnionFixture fx;
    fx.fork();
    fx.fork();
    fx.u->setOption(QStringLiteral("mode"), QStringLiteral("multiline"));
    for (int i = 0; i < 3; ++i)
        fx.describe(i, 0);
    fx.feed(0, seq(0, 4), 100);
    fx.feed(1, seq(10, 3), 7);
    fx.feed(2, seq(20, 5), 0);
    Points expected{{0, {0, 10, 20, 1, 11, 21, 2, 12, 22}}};
    EXPECT_EQ(fx.blocks(), expected);
    fx.rec->clear();
    fx.feed(1, seq(13, 2), 8000);
    expected = {{9, {3, 13, 23}}};
    EXPECT_EQ(fx.blocks(), expected);
    // Inputs 1 and 2 have one word left each (14, 24); once they are used, an input that stops holds the merge and the
    // others stay bounded.
    fx.rec->clear();
    for (int k = 0; k < 20; ++k) {
        fx.feed(0, seq(0, 1000), 0);
        fx.feed(1, seq(0, 1000), 0);
    }
    expected = {{12, {0, 14, 24}}};
    EXPECT_EQ(fx.blocks(), expected);
    EXPECT_LE(fx.u->ring(0).getSize(), RingBuffer::capacity);
}

TEST(Union_Multiline, LeavesOutInputsThatDoNotAgree)
{
    UnionFixture fx;
    fx.fork();
    fx.fork();
    fx.u->setOption(QStringLiteral("mode"), QStringLiteral("multiline"));
    fx.u->setOption(QStringLiteral("forceddatamatch"), QStringLiteral("0"));
    fx.describe(0, 3);
    fx.describe(1, 3, 0x280); // another unit
    QSignalSpy status(fx.u.get(), &GPlugin::statusChanged);
    fx.describe(2, 3);
    fx.forkOf(2)->setDataEncoding(GPlugin::DataEncoding(6)); // 48-bit words
    EXPECT_EQ(fx.u->getActiveInputs(), QVector<int>({0}));
    EXPECT_EQ(status.count(), 1);
    fx.feed(1, seq(0, 4), 0);
    fx.feed(2, seq(0, 4), 0);
    EXPECT_TRUE(fx.blocks().empty());
    fx.feed(0, seq(5, 4), 0);
    Points expected{{0, {5, 6, 7, 8}}};
    EXPECT_EQ(fx.blocks(), expected);
    fx.forkOf(1)->setDataEncoding(GPlugin::DataEncoding(255)); // inactive by encoding
    fx.u->setOption(QStringLiteral("forceddatamatch"), QStringLiteral("1"));
    EXPECT_EQ(fx.u->getActiveInputs(), QVector<int>({0}));
}

TEST(Union_Output, DescribesAParametricCurve)
{
    UnionFixture fx;
    fx.fork();
    fx.describe(0, 0, 0x27E, 1);         // values in µV
    fx.describe(1, 0, 0x280, 666666666); // positions in V, 666666666 counts per volt
    fx.u->setDataOffsetVal(12);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataOrder")), 0);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataRangeX")), UnionPlugin::parametricPoints);
    // 999999999 / 666666666 V = 1.5 V, kept exact in µV.
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataPhysX")), 1500000);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataUnitX")), 0x27E);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataUnitVal")), 0x27E);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataOffsetVal")), 12);
    // Each property goes out only when it changes, and a unit 0 never.
    const int rangeCalls = fx.rec->count(QStringLiteral("setDataRangeX"));
    fx.u->setDataRangeY(5);
    fx.u->setDataUnitVal(0);
    EXPECT_EQ(fx.rec->count(QStringLiteral("setDataRangeX")), rangeCalls);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataUnitVal")), 0x27E);
    EXPECT_EQ(fx.rec->count(QStringLiteral("setDataRangeY")), 0);
}

TEST(Union_Transparent, PassesTheMasterStreamUnchanged)
{
    UnionFixture fx;
    fx.fork();
    fx.u->setOption(QStringLiteral("mode"), QStringLiteral("transparent"));
    fx.describe(0, 2, 0x280, 3);
    fx.u->setDataRotation(77);
    fx.describe(1);
    fx.feed(0, {1, 2, 3}, 4);
    fx.feed(1, {9, 9}, 4);
    EXPECT_EQ(fx.blocks(), Points({{4, {1, 2, 3}}}));
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataOrder")), 2);
    EXPECT_EQ(fx.rec->lastValue(QStringLiteral("setDataRotation")), 77);
    // The master may be a fork.
    fx.rec->clear();
    fx.u->setOption(QStringLiteral("masterchannel"), QStringLiteral("1"));
    fx.feed(0, {1}, 0);
    fx.feed(1, {9, 8}, 0);
    EXPECT_EQ(fx.blocks(), Points({{0, {9, 8}}}));
}

TEST(Union_Options, RejectsBadValuesWithAMessage)
{
    UnionFixture fx;
    QSignalSpy status(fx.u.get(), &GPlugin::statusChanged);
    fx.u->setOption(QStringLiteral("Mode"), QStringLiteral("MultiLine"));
    EXPECT_EQ(fx.u->getMode(), UnionPlugin::multiline);
    fx.u->setOption(QStringLiteral("mode"), QStringLiteral("spiral"));
    EXPECT_EQ(fx.u->getMode(), UnionPlugin::multiline);
    fx.u->setOption(QStringLiteral("masterchannel"), QStringLiteral("9"));
    fx.u->setOption(QStringLiteral("masterchannel"), QStringLiteral("many")); // not a number: ignored quietly
    EXPECT_EQ(status.count(), 2);
    for (int i = 0; i < status.count(); ++i)
        EXPECT_EQ(status.at(i).at(2).toInt(), 2);
}

TEST(Union_64BitFormat, ChecksAndRealignsPairs)
{
    const int good[4] = {1, -2, 3, -4}, bad[4] = {-2, 3, -4, 5};
    EXPECT_EQ(UnionPlugin::check64Format(good, 4), 0);
    EXPECT_EQ(UnionPlugin::check64Format(bad, 4), 2);
    EXPECT_EQ(UnionPlugin::check64Format(good, 3), 1);

    UnionFixture fx;
    fx.u->setOption(QStringLiteral("mode"), QStringLiteral("multiline"));
    fx.u->setOption(QStringLiteral("fix64format"), QStringLiteral("1"));
    fx.u->setOption(QStringLiteral("debug64format"), QStringLiteral("1"));
    fx.u->setOption(QStringLiteral("forceddatamatch"), QStringLiteral("1"));
    fx.describe(0);
    QSignalSpy status(fx.u.get(), &GPlugin::statusChanged);
    fx.feed(0, {1, -1, 2}, 0);  // the low word 2 waits for its high word
    fx.feed(0, {-2, 3, -3}, 3); // starts with that high word
    EXPECT_EQ(fx.blocks(), Points({{0, {1, -1}}, {2, {2, -2, 3, -3}}}));
    EXPECT_EQ(status.count(), 1); // reported once until a block is whole again
}

TEST(Union_Loop, RefusesAForkBehindItself)
{
    UnionPlugin u(nullptr, QStringLiteral("U"));
    auto* f = new ForkPlugin(nullptr, QStringLiteral("F"));
    u.setSuccessor(f);
    f->setOption(QStringLiteral("target"), QStringLiteral("U"));
    QSignalSpy status(&u, &GPlugin::statusChanged);
    f->checkForPartner(QStringLiteral("U"), &u);
    EXPECT_EQ(f->getInput(), -1);
    EXPECT_EQ(status.count(), 1);
}

TEST(Routing_Catalogue, RegistersForkAndUnionInTheirPlaces)
{
    const QList<const GPlugin::PluginDescriptor*>& types = *GPlugin::_typeList;
    int fork = -1, uni = -1;
    for (int i = 0; i < types.size(); ++i) {
        if (types.at(i) == &ForkPlugin::_descriptor)
            fork = i;
        if (types.at(i) == &UnionPlugin::_descriptor)
            uni = i;
    }
    ASSERT_GE(fork, 0);
    EXPECT_EQ(uni, fork + 1);
    EXPECT_EQ(ForkPlugin::_descriptor.flags, 0x1108);
    EXPECT_EQ(UnionPlugin::_descriptor.flags, 0x1108);
    EXPECT_EQ(ForkPlugin::_descriptor.description, QStringLiteral("Send a copy of the data stream to a union plugin."));
    EXPECT_EQ(UnionPlugin::_descriptor.description,
              QStringLiteral("Merge data stream with a copy of another one for a parametric curve display"));
    EXPECT_EQ(catalogueRank(QStringLiteral("Fork"), 0x1108) + 1, catalogueRank(QStringLiteral("Union"), 0x1108));
    EXPECT_LT(catalogueRank(QStringLiteral("Union"), 0x1108),
              catalogueRank(QStringLiteral("Metadata Debugger"), 0x1010));
}

TEST(Union_Robustness, SurvivesRandomTraffic)
{
    // Random blocks (gaps, steps back, oversized, at the ends of the index range), property changes, bad options and
    // forks coming and going, in every mode: never a crash, never an empty or oversized block downstream.
    class Checker : public GPlugin
    {
    public:
        Checker() : GPlugin(nullptr, QStringLiteral("check"), nullptr) {}
        void setData(const int* data, int count, int) override
        {
            EXPECT_NE(data, nullptr);
            EXPECT_GT(count, 0);
            EXPECT_LE(count, UnionPlugin::inputCount * RingBuffer::capacity);
            blocks++;
        }
        int blocks = 0;
    };
    quint32 seed = 2024;
    auto rnd = [&seed](int n) {
        seed = seed * 1664525u + 1013904223u;
        return int((seed >> 8) % quint32(n));
    };
    UnionPlugin u(nullptr, QStringLiteral("U"));
    auto* check = new Checker;
    u.setSuccessor(check);
    std::vector<std::unique_ptr<ForkPlugin>> forks;
    std::vector<int> words(9000);
    for (size_t i = 0; i < words.size(); ++i)
        words[i] = int(i * 2654435761u);
    const char* const modes[] = {"transparent", "parametric", "fpsxy", "multiline", "bogus"};
    const int indices[] = {0, 1, 1000, -5, INT_MAX - 10, INT_MIN};
    int next[UnionPlugin::inputCount] = {};
    for (int step = 0; step < 20000; ++step) {
        switch (rnd(20)) {
        case 0:
            u.setOption(QStringLiteral("mode"), QLatin1String(modes[rnd(5)]));
            break;
        case 1:
            u.setOption(QStringLiteral("forceddatamatch"), QString::number(rnd(2)));
            u.setOption(QStringLiteral("masterchannel"), QString::number(rnd(12) - 2));
            break;
        case 2:
            u.setOption(QStringLiteral("fix64format"), QString::number(rnd(2)));
            u.setOption(QStringLiteral("debug64format"), QString::number(rnd(2)));
            break;
        case 3:
            if (forks.size() < 9) {
                forks.push_back(std::make_unique<ForkPlugin>(nullptr, QStringLiteral("F")));
                forks.back()->setOption(QStringLiteral("target"), QStringLiteral("U"));
                forks.back()->setOption(QStringLiteral("index"), QString::number(rnd(10) - 2));
                forks.back()->checkForPartner(QStringLiteral("U"), &u);
            }
            break;
        case 4:
            if (!forks.empty())
                forks.erase(forks.begin() + rnd(int(forks.size())));
            break;
        case 5: {
            const int input = rnd(int(forks.size()) + 1);
            GPlugin* p = input == 0 ? static_cast<GPlugin*>(&u) : forks[size_t(input - 1)].get();
            switch (rnd(5)) {
            case 0:
                p->setDataOrder(GPlugin::DataOrder(rnd(9)));
                break;
            case 1:
                p->setDataEncoding(GPlugin::DataEncoding(rnd(4) == 0 ? 255 : rnd(3)));
                break;
            case 2:
                p->setDataUnitVal(rnd(3) == 0 ? 0 : 0x280);
                break;
            case 3:
                p->setDataPhysVal(rnd(3) - 1);
                break;
            default:
                p->init();
            }
            break;
        }
        default: {
            const int input = rnd(int(forks.size()) + 1);
            GPlugin* p = input == 0 ? static_cast<GPlugin*>(&u) : forks[size_t(input - 1)].get();
            const int count = rnd(10) == 0 ? rnd(9000) : rnd(300);
            int& at = next[std::min(input, UnionPlugin::inputCount - 1)];
            if (rnd(8) == 0)
                at = indices[rnd(6)];
            p->setData(words.data(), count, at);
            at = int(qint64(at) + count > INT_MAX ? 0 : at + count);
            break;
        }
        }
        for (int i = 0; i < UnionPlugin::inputCount; ++i)
            ASSERT_LE(u.ring(i).getSize(), RingBuffer::capacity);
    }
    EXPECT_GT(check->blocks, 0);
}
