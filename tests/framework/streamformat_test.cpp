#include "framework/streamformat.h"
#include "support/recordingplugin.h"

#include <QSet>
#include <gtest/gtest.h>

TEST(StreamFormat_Table, CodesAndRecordTypesAreUniqueAndRoundTrip)
{
    QSet<int> codes, records;
    for (int i = 0; i < StreamFormat::PropertyCount; ++i) {
        const auto p = StreamFormat::Property(i);
        const auto& info = StreamFormat::info(p);
        SCOPED_TRACE(info.setter);
        EXPECT_EQ(info.property, p);
        ASSERT_NE(info.metaCode, 0);
        EXPECT_FALSE(codes.contains(info.metaCode));
        codes.insert(info.metaCode);
        StreamFormat::Property back;
        ASSERT_TRUE(StreamFormat::fromMetaCode(info.metaCode, &back));
        EXPECT_EQ(back, p);
        if (info.recordType >= 0) {
            EXPECT_FALSE(records.contains(info.recordType));
            records.insert(info.recordType);
            ASSERT_TRUE(StreamFormat::fromRecordType(info.recordType, &back));
            EXPECT_EQ(back, p);
            EXPECT_STREQ(StreamFormat::recordTypeName(info.recordType), info.recName);
        }
    }
    // Record types 3…17 and 19…22 carry properties; 0, 1, 2 and 18 do not.
    EXPECT_EQ(records.size(), 19);
    for (int t : {0, 1, 2, 18, -1, 23})
        EXPECT_FALSE(StreamFormat::fromRecordType(t, nullptr)) << t;
    EXPECT_FALSE(StreamFormat::fromMetaCode(StreamFormat::metaInit, nullptr));
    EXPECT_STREQ(StreamFormat::recordTypeName(18), "Timestamp");
    EXPECT_STREQ(StreamFormat::recordTypeName(13), "Physval");
    EXPECT_STREQ(StreamFormat::recordTypeName(23), "-invalid-");
    EXPECT_STREQ(StreamFormat::recordTypeName(-5), "-invalid-");
}

TEST(StreamFormat_Table, DeliverCallsTheNamedSetter)
{
    RecordingPlugin rec;
    for (int i = 0; i < StreamFormat::PropertyCount; ++i) {
        const auto p = StreamFormat::Property(i);
        rec.clear();
        StreamFormat::deliver(&rec, p, 1);
        ASSERT_EQ(rec.calls.size(), 1);
        EXPECT_EQ(rec.calls[0], QString::fromLatin1(StreamFormat::info(p).setter) + " 1");
    }
}

TEST(StreamFormat_Value, ApplySetAndEquality)
{
    StreamFormat a, b;
    EXPECT_TRUE(a.isEmpty());
    EXPECT_TRUE(a.apply(0x2002, 512));
    EXPECT_FALSE(a.apply(0x2100, 1));
    EXPECT_FALSE(a.apply(0x1234, 1));
    EXPECT_EQ(a.rangeX(), 512);
    EXPECT_TRUE(a.isSet(StreamFormat::RangeX));
    EXPECT_NE(a, b);
    EXPECT_TRUE(b.set(StreamFormat::RangeX, 512));
    EXPECT_FALSE(b.set(StreamFormat::RangeX, 512));
    EXPECT_EQ(a, b);
    // A property set to 0 differs from one never set.
    b.set(StreamFormat::OffsetX, 0);
    EXPECT_NE(a, b);
    EXPECT_EQ(b.value(StreamFormat::RangeY, -7), -7);
    b.clear();
    EXPECT_TRUE(b.isEmpty());
}

TEST(StreamFormat_Value, DeliverToSendsSetPropertiesInCodeOrder)
{
    StreamFormat f;
    f.set(StreamFormat::UnitZ, 0x180); // 0x2020
    f.set(StreamFormat::Encoding, 0);  // 0x2010
    f.set(StreamFormat::Order, 4);     // 0x2001
    f.set(StreamFormat::FixXY, 5);     // 0x2015
    f.set(StreamFormat::PhysVal, 3);   // 0x200A
    RecordingPlugin rec;
    f.deliverTo(&rec);
    EXPECT_EQ(rec.calls, QStringList({"setDataOrder 4", "setDataPhysVal 3", "setDataEncoding 0", "setFixXY 1",
                                      "setDataUnitZ 384"}));
}

TEST(StreamFormat_Wide48, DecodesTwoWordsOf24Bits)
{
    struct Case
    {
        quint32 low, high;
        qint64 value;
    } cases[] = {
        {16, 0x80000001u, (qint64(1) << 24) + 16}, // marker bits above the payload are ignored
        {0xFFFFFF, 0x7FFFFF, (qint64(1) << 47) - 1},
        {0, 0x800000, -(qint64(1) << 47)},
        {0xFFFFFF, 0xFFFFFF, -1},
        {0xFF000005, 0xFF000000, 5},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        EXPECT_EQ(StreamFormat::decode48(c.low, c.high), c.value);
    }
    for (qint64 v : {qint64(0), qint64(1), qint64(-1), qint64(1) << 24, -(qint64(1) << 30) - 3, (qint64(1) << 47) - 1,
                     -(qint64(1) << 47)}) {
        quint32 lo, hi;
        StreamFormat::encode48(v, &lo, &hi);
        EXPECT_EQ(lo >> 24, 0u);
        EXPECT_EQ(hi >> 24, v < 0 ? 0xFFu : 0u);
        EXPECT_EQ(StreamFormat::decode48(lo, hi), v);
    }
}
