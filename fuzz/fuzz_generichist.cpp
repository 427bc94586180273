// Fuzz target of the Generic Histogram Filter's value input: any words, in 32-bit or 48-bit encoding, in two blocks
// at any positions, with any bin layout, must be binned without an out-of-bounds access, and every value must be
// accounted for: in a bin, too small or too big.
#include "filters/generichistfilter.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

class SinkPlugin : public GPlugin
{
public:
    SinkPlugin() : GPlugin(nullptr, QStringLiteral("sink"), nullptr) {}
    void setData(const int* data, int count, int index) override
    {
        for (int i = 0; i < count; ++i)
            sum += data[i] ^ index;
    }
    long long sum = 0;
};

GenericHistFilter* filter = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    Savable::setStorageFile(QDir::temp().filePath(QStringLiteral("orvik-fuzz-generichist.ini")));
    filter = new GenericHistFilter(nullptr, QStringLiteral("fuzz"));
    filter->setSuccessor(new SinkPlugin);
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 16)
        return 0;
    // Header: the encoding (bit 0: 48-bit pairs), where the words split into two blocks, the position of the second
    // block (data[2] words after the end of the first, or at its end), then bin start, width and count as options.
    const bool wide = data[0] & 1;
    qint32 start, width, count;
    std::memcpy(&start, data + 4, 4);
    std::memcpy(&width, data + 8, 4);
    std::memcpy(&count, data + 12, 4);
    filter->setDataEncoding(wide ? GPlugin::DataEncoding(6) : GPlugin::Int32Enc);
    filter->setOption(QStringLiteral("binstart"), QString::number(start));
    filter->setOption(QStringLiteral("binwidth"), QString::number(width));
    filter->setOption(QStringLiteral("bincount"), QString::number(count % 20000));
    filter->refreshHistogram(); // clears

    const int n = int((size - 16) / 4);
    std::vector<int> words(size_t(n) + 1, 0);
    std::memcpy(words.data(), data + 16, size_t(n) * 4);
    const int split = n == 0 ? 0 : int(data[1]) % (n + 1);
    filter->setData(words.data(), split, 0);
    filter->setData(words.data() + split, n - split, split + (data[2] & 3));

    const GenericHistFilter::Histogram& h = filter->histogram();
    quint64 sum = 0;
    for (quint32 b : h.bins)
        sum += b;
    if (qint64(sum) != h.hits)
        abort();
    const qint64 values = h.hits + h.tooSmall + h.tooBig;
    if (values > (wide ? n / 2 + 1 : n))
        abort();
    filter->outputHistogram();
    return 0;
}
