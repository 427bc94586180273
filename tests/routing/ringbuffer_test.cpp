// RingBuffer: exact contents after adds, wrap-around, blocks at and beyond the capacity, and the kill operations.
#include "routing/ringbuffer.h"

#include <gtest/gtest.h>
#include <vector>

namespace {

// Words whose value is their stream index, so that contents show where each word came from.
std::vector<int> block(int first, int count)
{
    std::vector<int> w(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i)
        w[size_t(i)] = first + i;
    return w;
}

void add(RingBuffer& r, int first, int count)
{
    const std::vector<int> w = block(first, count);
    r.add(w.data(), count, first);
}

// The held words, oldest first, read through find() run by run; checks that every word sits at its own index.
std::vector<int> contents(const RingBuffer& r)
{
    std::vector<int> out;
    qint64 k = r.getBase();
    while (k < r.getEnd()) {
        int run = 0;
        const int* p = r.find(int(k), &run);
        EXPECT_NE(p, nullptr);
        EXPECT_GT(run, 0);
        if (!p || run <= 0)
            break;
        out.insert(out.end(), p, p + run);
        k += run;
    }
    return out;
}

std::vector<int> range(int first, int count)
{
    return block(first, count);
}

} // namespace

TEST(RingBuffer_Add, KeepsExactContents)
{
    struct Case
    {
        const char* name;
        std::vector<std::pair<int, int>> adds; // (first index, count)
        int base;
        int size;
    };
    const Case cases[] = {
        {"continuing blocks join", {{0, 100}, {100, 100}}, 0, 200},
        {"a gap keeps only the new block", {{0, 100}, {200, 100}}, 200, 100},
        {"a step back keeps only the new block", {{100, 100}, {50, 10}}, 50, 10},
        {"a repeated block restarts", {{0, 10}, {0, 10}}, 0, 10},
        {"exactly the capacity", {{7, 4096}}, 7, 4096},
        {"capacity reached in two blocks", {{0, 4000}, {4000, 96}}, 0, 4096},
        {"wrap-around drops the oldest", {{0, 3000}, {3000, 2000}}, 904, 4096},
        {"wrap twice", {{0, 3000}, {3000, 3000}, {6000, 3000}}, 4904, 4096},
        {"a block beyond the capacity keeps its newest words", {{10, 5000}}, 914, 4096},
        {"an oversized block after others replaces them", {{0, 100}, {100, 9000}}, 5004, 4096},
        {"a negative start index", {{-50, 100}}, -50, 100},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        RingBuffer r;
        for (const auto& a : c.adds)
            add(r, a.first, a.second);
        EXPECT_EQ(r.getBase(), c.base);
        EXPECT_EQ(r.getSize(), c.size);
        EXPECT_EQ(contents(r), range(c.base, c.size));
    }
}

TEST(RingBuffer_Add, ReportsOnlyOversizedBlocks)
{
    RingBuffer r;
    const std::vector<int> exact = block(0, 4096), over = block(0, 4097);
    EXPECT_TRUE(r.add(exact.data(), 4096, 0));
    EXPECT_FALSE(r.add(over.data(), 4097, 0));
    EXPECT_EQ(contents(r), range(1, 4096));
    EXPECT_TRUE(r.add(nullptr, 5, 0)); // nothing to add
    EXPECT_EQ(r.getSize(), 4096);
}

TEST(RingBuffer_Find, GivesRunsUpToTheWrapAndDistances)
{
    RingBuffer r;
    add(r, 0, 3000);
    add(r, 3000, 2000); // positions: 904..4095 hold 904..4095, 0..903 hold 4096..4999
    int run = 0;
    const int* p = r.find(904, &run);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 904);
    EXPECT_EQ(run, 4096 - 904); // up to the end of the array
    p = r.find(4096, &run);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 4096);
    EXPECT_EQ(run, 904); // the wrapped part
    EXPECT_EQ(r.find(900, &run), nullptr);
    EXPECT_EQ(run, 4); // distance to the oldest word
    EXPECT_EQ(r.find(5000, &run), nullptr);
    EXPECT_EQ(run, RingBuffer::beyondRun);
    p = r.getOldest(&run);
    ASSERT_NE(p, nullptr);
    EXPECT_EQ(*p, 904);
    EXPECT_EQ(run, 4096 - 904);

    RingBuffer empty;
    EXPECT_EQ(empty.find(0, &run), nullptr);
    EXPECT_EQ(run, RingBuffer::beyondRun);
    EXPECT_EQ(empty.getOldest(&run), nullptr);
    EXPECT_EQ(run, 0);
}

TEST(RingBuffer_Kill, DropsOnlyTheOldestWords)
{
    // On a wrapped ring the newest words sit before the start; they must survive.
    RingBuffer r;
    add(r, 0, 3000);
    add(r, 3000, 2000);
    r.killOldest(100);
    EXPECT_EQ(r.getBase(), 1004);
    EXPECT_EQ(contents(r), range(1004, 3996));
    r.killOlder(4500);
    EXPECT_EQ(contents(r), range(4500, 500));
    r.killOlder(10); // before the oldest word: nothing
    EXPECT_EQ(r.getSize(), 500);
    r.killOldest(-3);
    EXPECT_EQ(r.getSize(), 500);
    r.killOldest(100000); // more than held: empty, never negative
    EXPECT_EQ(r.getSize(), 0);
    EXPECT_EQ(r.getBase(), 5000);
    add(r, 5000, 10); // the stream continues where it was
    EXPECT_EQ(contents(r), range(5000, 10));
    r.killOlder(1 << 30); // beyond the newest: empty
    EXPECT_TRUE(r.isEmpty());
}

TEST(RingBuffer_Append, ContinuesWhateverTheIndex)
{
    RingBuffer r;
    add(r, 10, 5);
    const std::vector<int> w = block(100, 3);
    r.append(w.data(), 3);
    EXPECT_EQ(r.getBase(), 10);
    EXPECT_EQ(r.getSize(), 8);
    std::vector<int> expected = range(10, 5);
    expected.insert(expected.end(), w.begin(), w.end());
    std::vector<int> got;
    int run = 0;
    for (const int* p = r.getOldest(&run); p; p = r.getOldest(&run)) {
        got.insert(got.end(), p, p + run);
        r.killOldest(run);
    }
    EXPECT_EQ(got, expected);
}
