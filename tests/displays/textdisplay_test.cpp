#include "displays/txtplotplugin.h"
#include "support/recordingplugin.h"

#include <QApplication>
#include <QLabel>
#include <QTimer>
#include <climits>
#include <gtest/gtest.h>
#include <memory>

namespace {

struct TextChain
{
    std::unique_ptr<TxtPlotPlugin> display = std::make_unique<TxtPlotPlugin>(nullptr, QStringLiteral("txt"));
    RecordingPlugin* rec = new RecordingPlugin;
    TextChain() { display->setSuccessor(rec); }
    QLabel* label() { return static_cast<QLabel*>(display->getWidget()); }
    void feed(const QVector<int>& words) { display->setData(words.constData(), words.size(), 0); }
};

constexpr int kHigh = int(0x80000000u);

} // namespace

TEST(TextDisplay_Widget, EmptySunkenLabelRefreshedByTimer)
{
    TextChain chain;
    QLabel* label = chain.label();
    ASSERT_NE(label, nullptr);
    EXPECT_TRUE(label->text().isEmpty());
    EXPECT_EQ(label->frameStyle(), 50);
    EXPECT_EQ(int(label->alignment()), 130);
    EXPECT_TRUE(label->autoFillBackground());
    EXPECT_EQ(label->palette().color(label->backgroundRole()), QColor(Qt::white));
    EXPECT_EQ(chain.display->getStretch(), 2);
    const auto timers = chain.display->findChildren<QTimer*>();
    ASSERT_EQ(timers.size(), 1);
    EXPECT_EQ(timers.at(0)->interval(), 330);
    EXPECT_TRUE(timers.at(0)->isActive());
    if (QApplication::font().pointSize() > 0) {
        EXPECT_EQ(label->font().pointSize(), 2 * QApplication::font().pointSize());
    }
    chain.display->setFrameStyle(0);
    EXPECT_EQ(label->frameStyle(), 0);
}

TEST(TextDisplay_Value, LastValueScaledFromItsEncoding)
{
    struct Case
    {
        const char* what;
        int encoding;
        QVector<int> physVals; // in the order they arrive
        int offset;
        QVector<int> words;
        double value;
    };
    const Case cases[] = {
        {"resolution 1000: a raw step of 1000 is 1", 0, {1000}, 0, {7, 1000}, 1.0},
        {"resolution 0 keeps the factor", 0, {1000, 0}, 0, {2000}, 2.0},
        {"offset subtracted before scaling", 0, {2}, 100, {150}, 25.0},
        {"no wrap at the ends of the int range", 0, {}, -1, {INT_MAX}, 2147483648.0},
        {"48-bit pair", 6, {}, 0, {16, kHigh | 1}, 16777216.0 + 16},
        {"48-bit: the incomplete last pair is skipped", 6, {}, 0, {16, kHigh | 1, 32}, 16777216.0 + 16},
        {"48-bit negative", 6, {}, 0, {0, kHigh | 0x800000}, -140737488355328.0},
        {"48-bit with offset", 6, {}, 5, {16, kHigh | 1}, 16777216.0 + 11},
        {"48-bit: bits 8..15 of the encoding do not count", 0x306, {}, 0, {3, kHigh}, 3.0},
        {"48-bit: a single word is a plain value", 6, {}, 0, {-9}, -9.0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        TextChain chain;
        chain.display->setDataEncoding(GPlugin::DataEncoding(c.encoding));
        for (int v : c.physVals)
            chain.display->setDataPhysVal(v);
        chain.display->setDataOffsetVal(c.offset);
        chain.feed(c.words);
        EXPECT_TRUE(chain.display->hasCurrentValue());
        EXPECT_DOUBLE_EQ(chain.display->currentValue(), c.value);
        // Properties and data go on unchanged.
        EXPECT_EQ(chain.rec->lastValue("setDataEncoding"), c.encoding);
        EXPECT_EQ(chain.rec->lastValue("setDataOffsetVal"), c.offset);
        EXPECT_EQ(chain.rec->words, c.words);
    }
}

TEST(TextDisplay_Refresh, TextChangesOnlyOnTheTimerWithTheRequestedDigits)
{
    TextChain chain;
    chain.display->updateDisplay();
    EXPECT_TRUE(chain.label()->text().isEmpty()); // nothing arrived yet
    chain.display->setDataPhysVal(10000000);
    chain.feed({12345678});
    EXPECT_TRUE(chain.label()->text().isEmpty()); // data alone does not repaint
    chain.display->updateDisplay();
    EXPECT_EQ(chain.label()->text(), QStringLiteral("1.2346 "));
    struct Case
    {
        const char* digits;
        const char* text;
    };
    const Case cases[] = {{"0", "1.235 "}, {"-2", "1.235 "}, {"6", "1.234568 "}, {"abc", "1.234568 "}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.digits);
        chain.display->setOption(QStringLiteral("Digits"), QLatin1String(c.digits));
        EXPECT_EQ(chain.label()->text(), QLatin1String(c.text));
    }
    chain.display->setOption(QStringLiteral("digits"), QStringLiteral("4"));
    chain.display->setDataUnitVal(0x280); // volts
    chain.display->setDataPhysVal(1000000000);
    chain.feed({12345678});
    chain.display->updateDisplay();
    EXPECT_EQ(chain.label()->text(), QStringLiteral("12.346 mV"));
    EXPECT_TRUE(chain.rec->options.isEmpty()); // options are not passed on
}

TEST(TextDisplay_Refresh, InitClearsTheLabelUntilTheNextValue)
{
    TextChain chain;
    chain.feed({3});
    chain.display->updateDisplay();
    EXPECT_FALSE(chain.label()->text().isEmpty());
    chain.display->init();
    EXPECT_TRUE(chain.label()->text().isEmpty());
    EXPECT_FALSE(chain.display->hasCurrentValue());
    chain.display->updateDisplay();
    EXPECT_TRUE(chain.label()->text().isEmpty());
    EXPECT_EQ(chain.rec->calls.last(), QStringLiteral("init"));
    chain.feed({}); // an empty block stores nothing
    EXPECT_FALSE(chain.display->hasCurrentValue());
}

TEST(TextDisplay_Options, StyleAndFontIncrement)
{
    TextChain chain;
    QLabel* label = chain.label();
    chain.display->setOption(QStringLiteral("style"), QStringLiteral("1"));
    EXPECT_EQ(label->frameStyle(), 0);
    EXPECT_FALSE(label->autoFillBackground());
    chain.display->setOption(QStringLiteral("STYLE"), QStringLiteral("0"));
    EXPECT_EQ(label->frameStyle(), 50);
    EXPECT_TRUE(label->autoFillBackground());
    chain.display->setOption(QStringLiteral("style"), QStringLiteral("x"));
    EXPECT_EQ(label->frameStyle(), 50);
    const int base = label->font().pointSize() / 2;
    if (base > 0) {
        chain.display->setOption(QStringLiteral("fontincr"), QStringLiteral("0x10")); // any integer base
        EXPECT_EQ(label->font().pointSize(), base + 16);
    }
}

TEST(TextDisplay_Catalogue, RegisteredWithItsRecord)
{
    const GPlugin::PluginDescriptor* found = nullptr;
    for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList)
        if (d->name == QLatin1String("Text Display") && !found)
            found = d;
    ASSERT_EQ(found, &TxtPlotPlugin::_descriptor);
    EXPECT_EQ(found->description, QStringLiteral("Numerical text display, cyclically updated."));
    EXPECT_EQ(found->flags, 0x1001);
    EXPECT_EQ(found->factory, &txtPlotFactory);
    std::unique_ptr<GPlugin> p(found->factory(nullptr, QStringLiteral("t")));
    EXPECT_NE(qobject_cast<TxtPlotPlugin*>(p.get()), nullptr);
    EXPECT_EQ(p->getDescriptor(), found);
}
