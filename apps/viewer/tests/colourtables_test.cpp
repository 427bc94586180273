// The colour tables shipped with the viewer: binary lookup tables whose lightness rises evenly from the first entry
// to the last, so that equal steps of the data look like equal steps of colour.
#include <QDir>
#include <QFile>
#include <gtest/gtest.h>

#include <cmath>

#if __has_include("displays/waterfall.h")
#include "displays/waterfall.h"
#define HAVE_WATERFALL 1
#endif

namespace {

const char* const tableNames[] = {"viridis", "magma", "inferno", "cividis"};

double linear(int c)
{
    const double v = c / 255.0;
    return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
}

// CIE L* of an sRGB colour.
double lightness(int r, int g, int b)
{
    const double y = 0.2126 * linear(r) + 0.7152 * linear(g) + 0.0722 * linear(b);
    return y > 0.008856 ? 116.0 * std::cbrt(y) - 16.0 : 903.3 * y;
}

QString tablePath(const char* name)
{
    return QDir(QStringLiteral(ORVIK_VIEWER_COLORTABLES)).filePath(QLatin1String(name) + QStringLiteral(".lut"));
}

} // namespace

TEST(ColourTables, LightnessRisesEvenly)
{
    for (const char* name : tableNames) {
        SCOPED_TRACE(name);
        QFile f(tablePath(name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray data = f.readAll();
        ASSERT_EQ(data.size(), 768); // 256 red, 256 green, 256 blue bytes
        auto entry = [&data](int i, int c) { return int(quint8(data.at(c * 256 + i))); };
        double previous = lightness(entry(0, 0), entry(0, 1), entry(0, 2));
        const double first = previous;
        double largestStep = 0;
        for (int i = 1; i < 256; ++i) {
            const double l = lightness(entry(i, 0), entry(i, 1), entry(i, 2));
            EXPECT_GE(l, previous - 0.5) << "entry " << i;
            largestStep = std::max(largestStep, l - previous);
            previous = l;
        }
        EXPECT_GT(previous - first, 50.0);
        // No jumps: the largest step is at most a few times the mean step.
        EXPECT_LT(largestStep, 4.0 * (previous - first) / 255.0);
    }
}

#ifdef HAVE_WATERFALL
TEST(ColourTables, LoadInFrameDisplay)
{
    for (const char* name : tableNames) {
        SCOPED_TRACE(name);
        Waterfall w;
        ASSERT_TRUE(w.setColorCoding(tablePath(name)));
        int count = 0;
        const QRgb* colours = w.getColorList(&count);
        ASSERT_EQ(count, 256);
        ASSERT_NE(colours, nullptr);
        EXPECT_NE(colours[0], colours[255]);
    }
}
#endif
