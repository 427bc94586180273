// A minimal host: builds a two-element chain against the installed library and formats a value.
#include <QApplication>
#include <cstdio>

#include "framework/gplugin.h"

namespace {
struct Counter : GPlugin
{
    Counter() : GPlugin(nullptr, QStringLiteral("counter"), nullptr) {}
    void setData(const int*, int count, int) override { words += count; }
    int words = 0;
};
} // namespace

int main(int argc, char** argv)
{
    QApplication app(argc, argv);
    GPlugin head(nullptr, QStringLiteral("head"), nullptr);
    auto* counter = new Counter;
    head.setSuccessor(counter);
    const int data[4] = {1, 2, 3, 4};
    head.setData(data, 4, 0);
    const QString text = GPlugin::formatValue(12345.0, QStringLiteral("Hz"), 0.0, 4);
    const int types = GPlugin::_typeList ? int(GPlugin::_typeList->size()) : 0;
    std::printf("%d words, %s, %d plug-in types\n", counter->words, qPrintable(text), types);
    return (counter->words == 4 && text == QLatin1String("12.35 kHz")) ? 0 : 1;
}
