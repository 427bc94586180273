#include "utilif/tdc56.h"

#include <QtEndian>
#include <cstring>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace {

struct Ev
{
    qint64 time;
    int channel;
    bool operator==(const Ev& o) const { return time == o.time && channel == o.channel; }
};

std::ostream& operator<<(std::ostream& os, const Ev& e)
{
    return os << "(" << e.time << ", ch " << e.channel << ")";
}

struct Handle
{
    Handle() : h(tdc56Init()) {}
    ~Handle() { tdc56DeInit(h); }
    Tdc56State* h;
};

std::vector<Ev> popAll(Tdc56State* h)
{
    std::vector<Ev> out;
    Tdc56Event buf[3];
    int n;
    while ((n = tdc56Pop(h, buf, 3)) > 0)
        for (int i = 0; i < n; ++i)
            out.push_back({buf[i].time, buf[i].channel});
    return out;
}

using DecodeFn = void (*)(Tdc56State*, const quint32*, int);

/// Decodes `words` whole, then split at every position, and checks that each gives `expected`.
void checkSplits(DecodeFn fn, const std::vector<quint32>& words, const std::vector<Ev>& expected)
{
    {
        Handle d;
        fn(d.h, words.data(), int(words.size()));
        EXPECT_EQ(popAll(d.h), expected) << "whole block";
    }
    for (size_t cut = 1; cut < words.size(); ++cut) {
        SCOPED_TRACE(testing::Message() << "split at " << cut);
        Handle d;
        fn(d.h, words.data(), int(cut));
        fn(d.h, words.data() + cut, int(words.size() - cut));
        EXPECT_EQ(popAll(d.h), expected);
    }
}

constexpr qint64 P28 = qint64(1) << 28;

} // namespace

TEST(Tdc56_Encoding5, HighWordsEventsChannelsAndRollOver)
{
    const std::vector<quint32> words = {
        0x00000005,              // before the first high word: skipped
        0xE0000007,              // skipped too (channel 8)
        0x10000001,              // base 1 << 28
        0x00000010,              // ch 1
        0x20000020,              // ch 2
        0xE0000030,              // ch 8
        0x0FFFFFF0 & 0x0FFFFFFF, // ch 1, near the end of the low part
        0x40000004,              // ch 3: smaller than the last time, so the low part rolled over
        0x10000005,              // new base 5 << 28: later than the rolled-over time
        0x60000001,              // ch 4
    };
    const std::vector<Ev> expected = {
        {P28 + 0x10, 1},       {P28 + 0x20, 2},     {P28 + 0x30, 8},
        {P28 + 0x0FFFFFF0, 1}, {2 * P28 + 0x04, 3}, {5 * P28 + 0x01, 4},
    };
    checkSplits(tdc56Decode, words, expected);

    Handle d;
    tdc56Decode(d.h, words.data(), int(words.size()));
    EXPECT_EQ(tdc56Skipped(d.h), 2u);
}

TEST(Tdc56_Encoding5, HighWordOfZeroSkipsUntilTheNextAndFlushStartsANewStream)
{
    Handle d;
    const quint32 a[] = {0x10000000, 0x00000001, 0x10000002, 0x00000003};
    tdc56Decode(d.h, a, 4);
    EXPECT_EQ(popAll(d.h), (std::vector<Ev>{{2 * P28 + 3, 1}}));

    // After a flush the roll-over state is gone: a smaller time is not a roll-over, and events wait for a high word.
    tdc56Flush(d.h);
    const quint32 b[] = {0x00000009, 0x10000001, 0x00000002};
    tdc56Decode(d.h, b, 3);
    EXPECT_EQ(popAll(d.h), (std::vector<Ev>{{P28 + 2, 1}}));
}

TEST(Tdc56_Pop, NeverWritesPastCapacityAndKeepsTheRest)
{
    Handle d;
    std::vector<quint32> words = {0x10000001};
    for (quint32 i = 0; i < 7; ++i)
        words.push_back(i + 1);
    tdc56Decode(d.h, words.data(), int(words.size()));
    EXPECT_EQ(tdc56Pending(d.h), 7);

    Tdc56Event buf[4];
    std::memset(buf, 0xAB, sizeof buf);
    EXPECT_EQ(tdc56Pop(d.h, buf, 2), 2);
    EXPECT_EQ(buf[0].time, P28 + 1);
    EXPECT_EQ(buf[1].time, P28 + 2);
    EXPECT_EQ(buf[2].time, qint64(0xABABABABABABABABull)) << "wrote past the capacity";
    EXPECT_EQ(tdc56Pop(d.h, buf, 0), 0);
    EXPECT_EQ(tdc56Pop(d.h, nullptr, 4), 0);
    EXPECT_EQ(tdc56Pending(d.h), 5);

    // New events queue behind those not yet taken.
    const quint32 more[] = {0x20000100};
    tdc56Decode(d.h, more, 1);
    std::vector<Ev> rest = popAll(d.h);
    ASSERT_EQ(rest.size(), 6u);
    EXPECT_EQ(rest.front(), (Ev{P28 + 3, 1}));
    EXPECT_EQ(rest.back(), (Ev{P28 + 0x100, 2}));
    EXPECT_EQ(tdc56Pop(d.h, buf, 4), 0);
}

TEST(Tdc56_Api, NullAndEmptyInputsAreHarmless)
{
    tdc56DeInit(nullptr);
    tdc56Decode(nullptr, nullptr, 5);
    tdc56Flush(nullptr);
    EXPECT_EQ(tdc56Pop(nullptr, nullptr, 1), 0);
    Handle d;
    const quint32 w = 0x10000001;
    tdc56Decode(d.h, &w, -3);
    tdc56Decode52(d.h, &w, 0);
    tdc56Decode60(d.h, nullptr, 2);
    tdc56Decode60b(d.h, &w, 0);
    EXPECT_EQ(tdc56Pending(d.h), 0);
}

TEST(Tdc56_Encoding9, HighWordsEventsChannelsAndRollOver)
{
    constexpr qint64 P26 = qint64(1) << 26;
    const std::vector<quint32> words = {
        0x00000005,               // before the first high word: skipped
        0x80000000,               // base 0: the stream starts at time 0
        0x00000011,               // ch 1
        (31u << 26) | 0x03FFFFF0, // ch 32
        (2u << 26) | 0x00000002,  // ch 3, rolled over
        0x80000007,               // base 7 << 26
        (4u << 26) | 0x00000001,  // ch 5
    };
    const std::vector<Ev> expected = {{0x11, 1}, {0x03FFFFF0, 32}, {P26 + 2, 3}, {7 * P26 + 1, 5}};
    checkSplits(tdc56Decode52, words, expected);
    Handle d;
    tdc56Decode52(d.h, words.data(), int(words.size()));
    EXPECT_EQ(tdc56Skipped(d.h), 1u);
}

TEST(Tdc56_Encoding7, WordPairsOddTailsAndWrap)
{
    constexpr quint64 P60 = quint64(1) << 60;
    auto rec = [](quint64 t, int field, std::vector<quint32>& w) {
        const quint64 r = (t & (P60 - 1)) | (quint64(field) << 60);
        w.push_back(quint32(r));
        w.push_back(quint32(r >> 32));
    };
    std::vector<quint32> words;
    rec(0x123456789ABull, 0, words);  // ch 1
    rec(0x123456789ACull, 15, words); // ch 16
    rec(P60 - 5, 2, words);           // ch 3, near the end of the counter
    rec(0x10, 1, words);              // ch 2, after the wrap
    rec(0x08, 1, words);              // a small step back is not a wrap: taken as it stands
    const std::vector<Ev> expected = {{0x123456789AB, 1},
                                      {0x123456789AC, 16},
                                      {qint64(P60 - 5), 3},
                                      {qint64(P60 + 0x10), 2},
                                      {qint64(P60 + 0x08), 2}};
    checkSplits(tdc56Decode60, words, expected);

    // An odd word waits; a flush drops it and counts it.
    Handle d;
    tdc56Decode60(d.h, words.data(), 3);
    EXPECT_EQ(popAll(d.h).size(), 1u);
    tdc56Flush(d.h);
    EXPECT_EQ(tdc56Skipped(d.h), 1u);
    tdc56Decode60(d.h, words.data() + 4, 2);
    EXPECT_EQ(popAll(d.h), (std::vector<Ev>{{qint64(P60 - 5), 3}}));
}

TEST(Tdc56_Encoding10, RecordsSplitAtAnyByte)
{
    // Three 10-byte records: 30 bytes, padded to 8 words.
    std::vector<uchar> bytes(32, 0);
    const qint64 times[] = {12345, -7, qint64(0x0123456789ABCDEFll)};
    const quint16 chans[] = {1, 8, 300};
    for (int i = 0; i < 3; ++i) {
        qToLittleEndian(times[i], bytes.data() + 10 * i);
        qToLittleEndian(chans[i], bytes.data() + 10 * i + 8);
    }
    std::vector<quint32> words(8);
    std::memcpy(words.data(), bytes.data(), 32);
    const std::vector<Ev> expected = {{12345, 1}, {-7, 8}, {0x0123456789ABCDEFll, 255}};

    for (int cut = 0; cut <= 30; ++cut) {
        SCOPED_TRACE(testing::Message() << "split at byte " << cut);
        Handle d;
        // Byte counts come negative, as for a block of odd length; the second part starts on a word of its own.
        std::vector<quint32> second(8, 0);
        std::memcpy(second.data(), bytes.data() + cut, size_t(30 - cut));
        tdc56Decode60b(d.h, words.data(), -cut);
        tdc56Decode60b(d.h, second.data(), -(30 - cut));
        EXPECT_EQ(popAll(d.h), expected);
    }
    // Whole words: 8 words are 32 bytes, so two bytes of a fourth record wait, and a flush drops them.
    Handle d;
    tdc56Decode60b(d.h, words.data(), 8);
    EXPECT_EQ(popAll(d.h), expected);
    tdc56Flush(d.h);
    EXPECT_EQ(tdc56Skipped(d.h), 2u);
}

TEST(Tdc56_Encodings, SwitchingEncodingDropsTheOtherTail)
{
    Handle d;
    const quint32 w[] = {0x00000001, 0x00000000};
    tdc56Decode60(d.h, w, 1); // one word waits
    const quint32 e5[] = {0x10000001, 0x00000002};
    tdc56Decode(d.h, e5, 2);
    EXPECT_EQ(tdc56Skipped(d.h), 1u);
    EXPECT_EQ(popAll(d.h), (std::vector<Ev>{{P28 + 2, 1}}));
}
