// The catalogue order of the plug-in types. Each type registers its own descriptor; the registry sorts new records
// into this order so that the page's first-match lookup (e.g. "Average Filter") does not depend on the order in which
// the linker runs static constructors.

#include "framework/gplugin.h"

namespace {

struct CatalogueEntry
{
    const char* name;
    int flags;
};

const CatalogueEntry kCatalogue[] = {
    {"Audio Output", 0x1101},
    {"Statistics Plugin", 0x1004},
    {"Flim 3D Filter", 0x802002},
    {"Flim 2D Filter", 0x802002},
    {"Flim Control Filter", 0x802002},
    {"Line Display 2", 0x1001},
    {"Double Line Display 2", 0x10c1},
    {"Parametric Display", 0x1041},
    {"Float Filter", 0x1000002},
    {"Raw Counter Display", 0x1},
    {"Counter Display", 0x1001},
    {"FFT Data Filter", 0x1004},
    {"ASCII Trace Display", 0x1110},
    {"Polar Display", 0x1001},
    {"Fork", 0x1108},
    {"Union", 0x1108},
    {"Metadata Debugger", 0x1010},
    {"Histogram Filter", 0x800004},
    {"Generic Histogram Filter", 0x1004},
    {"3D Histogram Display", 0x1},
    {"Disc Writer", 0x1010},
    {"Sync Writer", 0x18001a0},
    {"Underground Filter", 0x2002},
    {"Average Filter", 0x1002},
    {"Scan Direction Filter", 0x2002},
    {"Reduction Filter", 0x1002},
    {"Missing Data Filter", 0x1102},
    {"Index Correction Filter", 0x1102},
    {"Meta Data Filter", 0x1010},
    {"FIR/IIR Filter", 0x1002},
    {"ASCII Filter", 0x1110},
    {"Arc Cosine Filter", 0x1104},
    {"AM Filter", 0x1002},
    {"Frequency Swap Filter", 0x1010},
    {"Muxed Channel Filter", 0x1002},
    {"64Bit Filter", 0x1002},
    {"64Bit Mapping Filter", 0x1000188},
    {"FPS48 Protocol Check", 0x1000108},
    {"test64", 0x1000188},
    {"Index Recovery Filter", 0x1004},
    {"Derivative Filter", 0x1004},
    {"Oscilloscope Data Filter", 0x1004},
    {"Difference Filter", 0x12},
    {"Correlation Filter", 0x2002},
    {"Average Filter", 0x1104},
    {"Counter Filter", 0x1004},
    {"Para16 Filter", 0x1000104},
    {"ThreeInOne Filter", 0x24},
    {"Text Display", 0x1001},
    {"Line Display", 0x1001},
    {"Double Line Display", 0x10c1},
    {"Frame Display", 0x6001},
};

} // namespace

int catalogueRank(const QString& name, int flags)
{
    const int n = int(sizeof(kCatalogue) / sizeof(kCatalogue[0]));
    for (int i = 0; i < n; ++i) {
        if (kCatalogue[i].flags == flags && name == QLatin1String(kCatalogue[i].name))
            return i;
    }
    return n;
}
