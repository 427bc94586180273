// What every registered plug-in type does with each data property: feeds each property twice to a fresh plug-in
// and compares what reaches a recording successor with what the type's header documents (its "Properties:" line).
//
// A new type is added to kTypes with the properties it does not simply forward; a registered type that is missing
// from kTypes fails the test, so that its behaviour is written down before it is merged.

#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "support/recordingplugin.h"

#include <QMap>
#include <QWidget>
#include <gtest/gtest.h>
#include <memory>

namespace {

/// What reaches the successor when the same value of a property arrives twice.
enum class Flow {
    Forward,  // both values, unchanged (the base behaviour)
    OnChange, // the first only: a repeated value is not news
    Consume,  // neither, nor any other value of the property
    Rewrite,  // the property goes on, but never with the value that arrived
};

struct Rule
{
    StreamFormat::Property property;
    Flow flow;
};

struct TypeRules
{
    const char* name;
    std::vector<Rule> rules; // every property not listed is forwarded
};

using SF = StreamFormat;

// The documented behaviour of each type (see the "Properties:" line of its header).
const TypeRules kTypes[] = {
    {"Line Display 2", {}},
    {"Double Line Display 2", {}},
    {"Parametric Display", {}},
    {"Polar Display", {}},
    {"Text Display", {}},
    {"Frame Display",
     {{SF::RangeX, Flow::OnChange},
      {SF::RangeY, Flow::OnChange},
      {SF::UnitX, Flow::OnChange},
      {SF::ScanSpeed, Flow::Consume}}},
    {"Underground Filter", {}},
    {"Average Filter", {}},
    {"Scan Direction Filter", {}},
    {"Missing Data Filter", {}},
    {"Index Correction Filter", {}},
    {"Meta Data Filter", {}},
    {"Frequency Swap Filter", {}},
    {"AM Filter", {}},
    {"64Bit Filter", {}},
    {"Index Recovery Filter",
     {{SF::Order, Flow::Rewrite},
      {SF::RangeX, Flow::Rewrite},
      {SF::OffsetX, Flow::Rewrite},
      {SF::PhysX, Flow::Rewrite}}},
    {"Derivative Filter", {}},
    {"Counter Filter",
     {{SF::Order, Flow::Rewrite},
      {SF::Encoding, Flow::Rewrite},
      {SF::RangeX, Flow::Rewrite},
      {SF::OffsetX, Flow::Rewrite},
      {SF::PhysX, Flow::Rewrite},
      {SF::PhysVal, Flow::Rewrite},
      {SF::Rotation, Flow::Rewrite},
      {SF::UnitX, Flow::Rewrite},
      {SF::UnitVal, Flow::Rewrite}}},
    {"Histogram Filter", {{SF::Encoding, Flow::Consume}, {SF::PhysVal, Flow::Consume}, {SF::UnitVal, Flow::Consume}}},
    {"Generic Histogram Filter",
     {{SF::Order, Flow::Consume},
      {SF::RangeX, Flow::Consume},
      {SF::OffsetX, Flow::Consume},
      {SF::PhysX, Flow::Consume},
      {SF::UnitX, Flow::Consume},
      {SF::OffsetVal, Flow::Rewrite},
      {SF::PhysVal, Flow::Rewrite},
      {SF::UnitVal, Flow::Rewrite}}},
    {"3D Histogram Display", {}},
    {"Para16 Filter",
     {{SF::Order, Flow::Consume},
      {SF::Encoding, Flow::Consume},
      {SF::RangeX, Flow::Consume},
      {SF::PhysX, Flow::Consume},
      {SF::OffsetX, Flow::Consume},
      {SF::PhysVal, Flow::Consume},
      {SF::UnitX, Flow::Consume},
      {SF::UnitVal, Flow::Consume}}},
    {"Fork", {}},
    // The spectrum has its own axis and values: the input's description is kept for the transform.
    {"FFT Data Filter",
     {{SF::Order, Flow::Rewrite},
      {SF::Encoding, Flow::Rewrite},
      {SF::RangeX, Flow::Consume},
      {SF::OffsetX, Flow::Consume},
      {SF::OffsetVal, Flow::Rewrite},
      {SF::PhysX, Flow::Consume},
      {SF::PhysVal, Flow::Rewrite},
      {SF::PhysValNumerator, Flow::Rewrite},
      {SF::UnitX, Flow::Rewrite},
      {SF::UnitVal, Flow::OnChange}}},
    {"Disc Writer", {}},
    {"Sync Writer", {}},
    // Unpaired, in its default mode: the union describes its merged output itself, from its inputs.
    {"Union",
     {{SF::Order, Flow::Rewrite},      {SF::Encoding, Flow::Rewrite},   {SF::Binning, Flow::Consume},
      {SF::RangeX, Flow::Rewrite},     {SF::RangeY, Flow::Consume},     {SF::RangeZ, Flow::Consume},
      {SF::OffsetX, Flow::Rewrite},    {SF::OffsetY, Flow::Consume},    {SF::OffsetZ, Flow::Consume},
      {SF::OffsetVal, Flow::OnChange}, {SF::PhysX, Flow::Rewrite},      {SF::PhysY, Flow::Consume},
      {SF::PhysZ, Flow::Consume},      {SF::PhysVal, Flow::OnChange},   {SF::PhysValNumerator, Flow::OnChange},
      {SF::Trigger, Flow::Consume},    {SF::Rotation, Flow::Consume},   {SF::UnitX, Flow::Consume},
      {SF::UnitZ, Flow::Consume},      {SF::UnitVal, Flow::OnChange},   {SF::FixXY, Flow::Consume},
      {SF::ScanSpeed, Flow::Consume}}},
};

// A plausible value of each property that differs from the usual defaults.
int sampleValue(StreamFormat::Property p)
{
    switch (p) {
    case SF::Order:
        return GPlugin::forBack;
    case SF::Encoding:
        return 1; // Int16
    case SF::Binning:
        return 0x0a0a;
    case SF::RangeX:
        return 64;
    case SF::RangeY:
        return 32;
    case SF::RangeZ:
        return 8;
    case SF::OffsetX:
        return 100;
    case SF::OffsetY:
        return 200;
    case SF::OffsetZ:
        return 300;
    case SF::OffsetVal:
        return 5;
    case SF::PhysX:
        return 6400;
    case SF::PhysY:
        return 3200;
    case SF::PhysZ:
        return 800;
    case SF::PhysVal:
        return 10;
    case SF::PhysValNumerator:
        return 3;
    case SF::Trigger:
        return GPlugin::scanner;
    case SF::Rotation:
        return 4096;
    case SF::UnitX:
    case SF::UnitZ:
        return 0x17E;
    case SF::UnitVal:
        return 0x280;
    case SF::FixXY:
        return 1;
    case SF::ScanSpeed:
        return 7;
    case SF::PropertyCount:
        break;
    }
    return 0;
}

const char* flowName(Flow f)
{
    switch (f) {
    case Flow::Forward:
        return "forwards";
    case Flow::OnChange:
        return "forwards on change";
    case Flow::Consume:
        return "consumes";
    case Flow::Rewrite:
        return "rewrites";
    }
    return "?";
}

/// What a plug-in built by `d` passed on of two equal values of `p`: calls with that value and calls with another.
void observe(const GPlugin::PluginDescriptor* d, StreamFormat::Property p, int* same, int* other)
{
    QWidget parent;
    std::unique_ptr<GPlugin> plugin(d->factory(&parent, QStringLiteral("flow")));
    ASSERT_NE(plugin, nullptr);
    auto* rec = new RecordingPlugin;
    plugin->setSuccessor(rec); // owned by the plug-in
    rec->clear();
    const int v = sampleValue(p);
    StreamFormat::deliver(plugin.get(), p, v);
    StreamFormat::deliver(plugin.get(), p, v);
    const QString setter = QString::fromLatin1(StreamFormat::info(p).setter);
    const int shown = p == SF::FixXY ? int(v != 0) : v;
    *same = rec->calls.count(setter + QLatin1Char(' ') + QString::number(shown));
    *other = rec->count(setter) - *same;
}

} // namespace

TEST(PropertyFlow_EveryType, MatchesWhatItsHeaderDocuments)
{
    ASSERT_NE(GPlugin::_typeList, nullptr);
    QMap<QString, const TypeRules*> rules;
    for (const TypeRules& t : kTypes)
        rules.insert(QString::fromLatin1(t.name), &t);
    int checked = 0;
    for (const GPlugin::PluginDescriptor* d : qAsConst(*GPlugin::_typeList)) {
        if (!d->factory || d->name.startsWith(QLatin1String("Zz Test")))
            continue;
        SCOPED_TRACE(d->name.toStdString());
        {
            QWidget parent;
            std::unique_ptr<GPlugin> probe(d->factory(&parent, QStringLiteral("probe")));
            if (!probe)
                continue; // a record of another test without a plug-in behind it
        }
        const TypeRules* t = rules.value(d->name);
        ASSERT_NE(t, nullptr) << "add the type to kTypes and document its properties in its header";
        ++checked;
        for (int i = 0; i < SF::PropertyCount; ++i) {
            const auto p = SF::Property(i);
            Flow expected = Flow::Forward;
            for (const Rule& r : t->rules)
                if (r.property == p)
                    expected = r.flow;
            int same = 0, other = 0;
            observe(d, p, &same, &other);
            // Two calls with the value: forwarded; one: forwarded on change; none at all: consumed; only others:
            // rewritten. Anything else (e.g. the value once and another value) is no documented flow.
            const char* seen = same == 2 && other == 0   ? flowName(Flow::Forward)
                               : same == 1 && other == 0 ? flowName(Flow::OnChange)
                               : same + other == 0       ? flowName(Flow::Consume)
                               : same == 0               ? flowName(Flow::Rewrite)
                                                         : "mixed";
            EXPECT_STREQ(seen, flowName(expected))
                << d->name.toStdString() << " " << StreamFormat::info(p).setter << ": " << same
                << " calls with the value, " << other << " with others";
        }
    }
    EXPECT_EQ(checked, int(std::size(kTypes))) << "a type of kTypes is not registered";
}
