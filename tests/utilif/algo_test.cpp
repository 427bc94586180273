#include "utilif/algo.h"

#include <cmath>
#include <gtest/gtest.h>
#include <limits>

TEST(Algo_Rounding, NearestAndSaturation)
{
    EXPECT_EQ(algoNearest(2.5), 3);
    EXPECT_EQ(algoNearest(-2.5), -3);
    EXPECT_EQ(algoNearest(2.49), 2);
    EXPECT_EQ(algoNearest(1e20), std::numeric_limits<int>::max());
    EXPECT_EQ(algoNearest(-1e20), std::numeric_limits<int>::min());
    EXPECT_EQ(algoNearest(std::nan("")), 0);
    EXPECT_EQ(algoNearestLongLong(140737488355327.4), 140737488355327LL);
    EXPECT_EQ(algoNearestLongLong(1e30), std::numeric_limits<qint64>::max());
}

TEST(Algo_Logb, FloorOfLog2)
{
    EXPECT_EQ(algoLogb(0), 0);
    EXPECT_EQ(algoLogb(1), 0);
    EXPECT_EQ(algoLogb(2), 1);
    EXPECT_EQ(algoLogb(1023), 9);
    EXPECT_EQ(algoLogb(1024), 10);
    EXPECT_EQ(algoLogb(0xffffffffffffffffULL), 63);
}

struct UnitCase
{
    int code;
    const char* text;
    char prefix;
    double factor;
};

TEST(Algo_BaseUnit, Table)
{
    const UnitCase cases[] = {
        {0, "m", 'X', 1e-12},  {1, "V", 'X', 1e-6},   {2, "Hz", 'X', 1},      {3, "s", 'X', 1e-9},
        {4, "V", 'X', 1},      {5, "s", 'X', 1e-3},   {6, "cos", 'X', 1},     {128, "", ' ', 1},
        {0x17e, "m", 'u', 1e-6}, {0x180, "m", ' ', 1}, {0x280, "V", ' ', 1},  {0x380, "Hz", ' ', 1},
        {0x480, "s", ' ', 1},  {0x47f, "s", 'm', 1e-3}, {0x47e, "s", 'u', 1e-6}, {0x900, "m", ' ', 1},
        {0xb80, "dBm", ' ', 1}, {0xd80, "m/s", ' ', 1}, {0x381, "Hz", 'k', 1e3}, {7, "", ' ', 1},
        {-1, "", ' ', 1},      {0x7ff80, "", ' ', 1},  {0x1ff, "m", ' ', 1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.code);
        char prefix = '?';
        double factor = -1;
        EXPECT_EQ(algoGetBaseUnit(c.code, &prefix, &factor), QString::fromUtf8(c.text));
        EXPECT_EQ(prefix, c.prefix);
        EXPECT_DOUBLE_EQ(factor, c.factor);
    }
    EXPECT_EQ(algoGetBaseUnit(0x280), "V"); // optional outputs may be null
}

TEST(Algo_Prefix, FactorsAndPrintable)
{
    EXPECT_DOUBLE_EQ(algoGetPrefixFactor('k'), 1e3);
    EXPECT_DOUBLE_EQ(algoGetPrefixFactor('u'), 1e-6);
    EXPECT_DOUBLE_EQ(algoGetPrefixFactor(' '), 1);
    EXPECT_DOUBLE_EQ(algoGetPrefixFactor('X'), 1);
    EXPECT_DOUBLE_EQ(algoGetPrefixFactor('q'), 1);
    EXPECT_EQ(algoGetPrintablePrefix('u'), QString::fromUtf8("µ"));
    EXPECT_EQ(algoGetPrintablePrefix(' '), "");
    EXPECT_EQ(algoGetPrintablePrefix('X'), "");
    EXPECT_EQ(algoGetPrintablePrefix('M'), "M");
}

TEST(Algo_Normalize, EngineeringPrefixes)
{
    struct Case
    {
        double in;
        char from;
        double out;
        char prefix;
    } cases[] = {
        {12345, ' ', 12.345, 'k'}, {0.002, ' ', 2, 'm'},   {999, ' ', 999, ' '}, {1000, ' ', 1, 'k'},
        {5000, 'p', 5, 'n'},       {0, 'k', 0, 'k'},       {-0.5, ' ', -500, 'm'}, {1e30, ' ', 1e12, 'E'},
        {7, 'X', 7, ' '},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        double v = c.in;
        EXPECT_EQ(algoNormalize(&v, c.from, nullptr, 100), c.prefix);
        EXPECT_NEAR(v, c.out, std::fabs(c.out) * 1e-12);
    }
    double v = std::nan("");
    EXPECT_EQ(algoNormalize(&v, ' ', nullptr, 100), ' ');
    double w = 0.002;
    EXPECT_EQ(algoNormalize(&w, ' ', " k", 100), ' '); // only ' ' and 'k' allowed
    double x = 2.5;
    EXPECT_EQ(algoNormalizeFixed(&x, 'm', ' '), ' ');
    EXPECT_DOUBLE_EQ(x, 0.0025);
}

TEST(Algo_Digits, EnoughToTellApart)
{
    EXPECT_EQ(algoDigits(123.4, 123.3), 4);
    EXPECT_EQ(algoDigits(1.0, 0.5), 2); // 1 and 1.5 need two digits
    EXPECT_EQ(algoDigits(5, 5), 1);
    EXPECT_EQ(algoDigits(1e10, 1e10 - 1), 11);
}

TEST(Algo_Rescale, UnitsFollowTheValue)
{
    double L = 12000;
    int unit = 0x480; // s
    const double g = algoRescaleUnit(&L, &unit, false);
    EXPECT_DOUBLE_EQ(L, 12);
    EXPECT_EQ(unit, 0x481);
    EXPECT_DOUBLE_EQ(g, 1e-3);
    double basic = 5000;
    int code = 0;
    EXPECT_DOUBLE_EQ(algoRescaleUnit(&basic, &code, false), 1.0);
    EXPECT_EQ(code, 0);

    int u = 0x27d; // nV
    EXPECT_EQ(algoRescaleUnitInt(5000000, &u, true), 5);
    EXPECT_EQ(u, 0x27f); // mV
    u = 0x27d;
    EXPECT_EQ(algoRescaleUnitInt(1234567, &u, true), 1234567); // not exact: unchanged
    EXPECT_EQ(u, 0x27d);
    EXPECT_EQ(algoRescaleUnitInt(0, &u, true), 0);
}

TEST(Algo_Ticks, RoundStepsAndSafeOnBadInput)
{
    double start = 0, step = 0, factor = 0;
    ASSERT_TRUE(algoCalcScaleTics(0.3, 9.7, 5, &start, &step, &factor));
    EXPECT_DOUBLE_EQ(step, 2);
    EXPECT_DOUBLE_EQ(start, 2);
    EXPECT_DOUBLE_EQ(factor, 1);
    ASSERT_TRUE(algoCalcScaleTics(-5000, 25000, 3, &start, &step, &factor));
    EXPECT_DOUBLE_EQ(step, 10000);
    EXPECT_DOUBLE_EQ(start, 0);
    EXPECT_DOUBLE_EQ(factor, 1000);
    EXPECT_FALSE(algoCalcScaleTics(1, 1, 5, &start, &step, &factor));
    EXPECT_FALSE(algoCalcScaleTics(0, std::nan(""), 5, &start, &step, &factor));
    EXPECT_GT(step, 0);

    int px = 0;
    double value = 0;
    char prefix = 0;
    ASSERT_TRUE(algoCalcGaugeDisplay(400, 2000, 'n', &px, &value, &prefix)); // 400 px = 2 µm
    EXPECT_DOUBLE_EQ(value, 500);
    EXPECT_EQ(prefix, 'n');
    EXPECT_EQ(px, 100);
    EXPECT_FALSE(algoCalcGaugeDisplay(0, 2000, 'n', &px, &value, &prefix));
}
