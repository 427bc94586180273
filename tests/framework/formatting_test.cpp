#include "framework/gplugin.h"
#include "framework/mobiletooltip.h"

#include <QHelpEvent>
#include <QLabel>
#include <gtest/gtest.h>

struct FormatCase
{
    const char* name;
    double value;
    const char* unit;
    double resolution;
    int digits;
    const char* expected;
};

TEST(FormatValue_Text, Table)
{
    const FormatCase cases[] = {
        {"rescaled to kilo", 12345.0, "+Hz", 0.0, 4, "12.35 kHz"},
        {"plain unit same as plus", 12345.0, "Hz", 0.0, 4, "12.35 kHz"},
        {"minus keeps value unscaled", 12345.0, "-Hz", 0.0, 5, "12345 Hz"},
        {"small value to micro", 0.0000025, "V", 0.0, 3, "2.5 µV"},
        {"resolution adds digits", 1.2345678, "m", 0.0001, 2, "1.2346 m"},
        {"resolution scaled with the value", 12345.678, "Hz", 0.1, 2, "12.3457 kHz"},
        {"zero resolution keeps digits", 1.2345678, "m", 0.0, 2, "1.2 m"},
        {"zero value", 0.0, "V", 0.0, 3, "0 V"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(GPlugin::formatValue(c.value, QString::fromUtf8(c.unit), c.resolution, c.digits),
                  QString::fromUtf8(c.expected));
    }
}

TEST(FormatValue_Code, Table)
{
    // The channel description formats a period like this: period * 2.5 in microseconds.
    EXPECT_EQ(GPlugin::formatValue(400 * 2.5, 0x47e, 0, ' ', 4), "1 ms");
    // Basic codes: the factor is applied, then the value is rescaled (5000 pm = 5 nm).
    EXPECT_EQ(GPlugin::formatValue(5000, 0, 0, ' ', 3), "5 nm");
    // Value given in kilo.
    EXPECT_EQ(GPlugin::formatValue(2.5, 0x380, 0, 'k', 3), "2.5 kHz");
    // Unknown codes give a plain number.
    EXPECT_EQ(GPlugin::formatValue(42, 99, 0, ' ', 3), "42 ");
}

TEST(PrintUnit, Table)
{
    EXPECT_EQ(GPlugin::printUnit(0x17e), QString::fromUtf8("µm"));
    EXPECT_EQ(GPlugin::printUnit(0x380), "Hz");
    EXPECT_EQ(GPlugin::printUnit(0x47f), "ms");
    EXPECT_EQ(GPlugin::printUnit(0xb80), "dBm");
    EXPECT_EQ(GPlugin::printUnit(0xd80), "m/s");
    EXPECT_EQ(GPlugin::printUnit(0), "m"); // basic code pm: base unit m, no printable prefix for 'X'
    EXPECT_EQ(GPlugin::printUnit(128), "");
    EXPECT_EQ(GPlugin::printUnit(-5), "");
    EXPECT_EQ(GPlugin::printUnit(0x7fffffff), "");
}

TEST(DesignMode, Keywords)
{
    EXPECT_EQ(string2DesignMode("Orvik"), 1);
    EXPECT_EQ(string2DesignMode("DESIGNORVIK"), 1);
    EXPECT_EQ(string2DesignMode("tebran"), 2);
    EXPECT_EQ(string2DesignMode("disignTebran"), 2);
    EXPECT_EQ(string2DesignMode("designtebran"), 0);
    EXPECT_EQ(string2DesignMode(""), 0);
    EXPECT_EQ(string2DesignMode(" orvik"), 0);
}

namespace {
struct TipPlugin : GPlugin
{
    TipPlugin() : GPlugin(nullptr, QStringLiteral("tip"), nullptr) {}
    QString getToolTip(const QPoint& p) const override { return QStringLiteral("at %1,%2").arg(p.x()).arg(p.y()); }
};
struct Silent : GPlugin
{
    Silent() : GPlugin(nullptr, QStringLiteral("silent"), nullptr) {}
};
} // namespace

TEST(MobileToolTip, ConsumesOnlyToolTipsWithText)
{
    QLabel widget;
    TipPlugin tip;
    Silent silent;
    auto* withText = new MobileToolTip(&tip, &widget);
    EXPECT_EQ(withText->parent(), &widget);
    QHelpEvent ev(QEvent::ToolTip, QPoint(3, 4), QPoint(103, 104));
    EXPECT_TRUE(withText->eventFilter(&widget, &ev));
    QEvent other(QEvent::MouseMove);
    EXPECT_FALSE(withText->eventFilter(&widget, &other));

    QLabel widget2;
    auto* empty = new MobileToolTip(&silent, &widget2);
    EXPECT_FALSE(empty->eventFilter(&widget2, &ev));
}
