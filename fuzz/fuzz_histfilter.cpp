// Fuzz target of the Histogram Filter's event input: any words in any encoding, with any bin layout and channel
// choice, must be binned without an out-of-bounds access, and every stop event must be accounted for: inside,
// before or after, or not binned because no start preceded it.
#include "filters/histogramfilter.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QComboBox>
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

HistogramFilter* filter = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    Savable::setStorageFile(QDir::temp().filePath(QStringLiteral("orvik-fuzz-histfilter.ini")));
    filter = new HistogramFilter(nullptr, QStringLiteral("fuzz"));
    filter->setSuccessor(new SinkPlugin);
    filter->create();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 16)
        return 0;
    // Header: encoding choice, flags, start and stop channel, bin start, width and count (each as sent by an option,
    // so the fields limit them), then the words.
    const int encodings[] = {5, 7, 9, 10};
    const int encoding = encodings[data[0] & 3];
    const bool odd = data[0] & 4;
    const bool raw = data[0] & 8;
    qint32 start, width, count;
    std::memcpy(&start, data + 4, 4);
    std::memcpy(&width, data + 8, 4);
    std::memcpy(&count, data + 12, 4);
    filter->init();
    filter->setDataEncoding(GPlugin::DataEncoding(encoding));
    filter->setOption(QStringLiteral("startstop"), raw ? QStringLiteral("1") : QStringLiteral("0"));
    filter->setOption(QStringLiteral("binstart"), QString::number(start));
    filter->setOption(QStringLiteral("binwidth"), QString::number(width % 2000000));
    filter->setOption(QStringLiteral("bincount"), QString::number(count % 20000));
    filter->startList()->setCurrentIndex(data[2] % filter->startList()->count());
    filter->stopList()->setCurrentIndex(data[3] % filter->stopList()->count());
    filter->refreshHistogram(); // clears

    const size_t payload = size - 16;
    std::vector<quint32> words((payload + 3) / 4 + 1, 0);
    std::memcpy(words.data(), data + 16, payload);
    if (odd)
        filter->setDataOdd(reinterpret_cast<const int*>(words.data()), int(payload), 0);
    else
        filter->setData(reinterpret_cast<const int*>(words.data()), int(payload / 4), 0);

    const bool global = filter->getStartChannel() < 0;
    const HistogramFilter::Histogram& h = global ? filter->channelHistogram() : filter->startStopHistogram();
    quint64 sum = 0;
    for (quint32 b : h.bins)
        sum += b;
    if (qint64(sum) != h.countsInside)
        abort();
    const qint64 binned = h.countsInside + h.countsBefore + h.countsAfter;
    if (binned > h.stopEvents)
        abort();
    filter->outputHistogram();
    return 0;
}
