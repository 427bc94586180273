// Time-tag histogramming and the 3D histogram display.
//
// Events per second decoded and histogrammed from encoding-5 words by the Histogram Filter (start-stop and
// channel-difference mode), beside a memcpy of the same words (BM_MemcpyTagWords) and the queued decoder alone.
// Hits per second into a 512 x 512 x 512 cube, the full repaint of a 512 x 512 projection and the projection sums
// over all 512 slices, beside a memcpy of the cube (BM_MemcpyCube). Values per second binned by the Generic Histogram
// Filter from 32-bit words, beside a memcpy of the same words (BM_MemcpyValueWords). Run with scripts/bench.

#include "displays/histogram.h"
#include "displays/histogramplugin.h"
#include "filters/generichistfilter.h"
#include "filters/histogramfilter.h"
#include "utilif/tdc56.h"

#include <QComboBox>
#include <QImage>
#include <QPainter>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <memory>
#include <random>
#include <vector>

namespace {

class Sink : public GPlugin
{
public:
    Sink() : GPlugin(nullptr, QStringLiteral("sink"), nullptr) {}
    void setData(const int* data, int count, int) override
    {
        benchmark::DoNotOptimize(data);
        words += count;
    }
    qint64 words = 0;
};

constexpr int kBlock = 1019; // words per telegram, as a channel delivers them

struct TagStream
{
    std::vector<quint32> words;
    qint64 events = 0;
};

// Encoding 5 in picoseconds: a start on channel 1, a stop on channel 2 20 ns later with 250 ps of jitter and one
// background event per 100 ns slot; one high word per eight slots. 2^20 words (4 MiB).
const TagStream& tagStream()
{
    static TagStream s = [] {
        TagStream t;
        std::mt19937_64 rng(1);
        std::normal_distribution<double> jitter(0.0, 250.0);
        quint64 base = quint64(1) << 28;
        while (t.words.size() < (size_t(1) << 20)) {
            quint64 ev[3][2];
            int n = 0;
            quint64 firstTime = ~quint64(0);
            std::vector<std::pair<quint64, int>> packet;
            for (int slot = 0; slot < 8; ++slot, base += 100000) {
                const quint64 start = base + rng() % 25000;
                ev[0][0] = start, ev[0][1] = 1;
                ev[1][0] = start + quint64(20000 + std::llround(jitter(rng))), ev[1][1] = 2;
                ev[2][0] = base + rng() % 100000, ev[2][1] = 1 + rng() % 4;
                n = 3;
                std::vector<std::pair<quint64, int>> s3;
                for (int i = 0; i < n; ++i)
                    s3.push_back({ev[i][0], int(ev[i][1])});
                std::sort(s3.begin(), s3.end());
                packet.insert(packet.end(), s3.begin(), s3.end());
            }
            firstTime = packet.front().first;
            t.words.push_back(0x10000000u | quint32((firstTime >> 28) & 0x0FFFFFFFu));
            for (const auto& e : packet)
                t.words.push_back(quint32(e.second - 1) << 29 | quint32(e.first & 0x0FFFFFFFu));
            t.events += qint64(packet.size());
        }
        return t;
    }();
    return s;
}

void BM_MemcpyTagWords(benchmark::State& state)
{
    const TagStream& s = tagStream();
    std::vector<quint32> copy(s.words.size());
    for (auto _ : state) {
        for (size_t at = 0; at < s.words.size(); at += kBlock) {
            const size_t n = std::min<size_t>(kBlock, s.words.size() - at);
            std::memcpy(copy.data() + at, s.words.data() + at, n * 4);
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * s.events);
    state.SetBytesProcessed(state.iterations() * qint64(s.words.size()) * 4);
}

void BM_DecodeQueued(benchmark::State& state)
{
    const TagStream& s = tagStream();
    Tdc56State* d = tdc56Init();
    std::vector<Tdc56Event> out(kBlock);
    for (auto _ : state) {
        for (size_t at = 0; at < s.words.size(); at += kBlock) {
            const int n = int(std::min<size_t>(kBlock, s.words.size() - at));
            tdc56Decode(d, s.words.data() + at, n);
            benchmark::DoNotOptimize(tdc56Pop(d, out.data(), kBlock));
        }
        tdc56Flush(d);
    }
    tdc56DeInit(d);
    state.SetItemsProcessed(state.iterations() * s.events);
}

void runFilter(benchmark::State& state, bool global)
{
    const TagStream& s = tagStream();
    HistogramFilter f(nullptr, QStringLiteral("bench"));
    f.setSuccessor(new Sink);
    f.setOption(QStringLiteral("channels"), QStringLiteral("4"));
    f.setOption(QStringLiteral("binwidth"), QStringLiteral("100"));
    f.setOption(QStringLiteral("bincount"), QStringLiteral("1000"));
    f.setDataEncoding(GPlugin::DataEncoding(5));
    f.create();
    f.startList()->setCurrentIndex(global ? 0 : f.startList()->findData(1));
    f.stopList()->setCurrentIndex(f.stopList()->findData(2));
    for (auto _ : state) {
        for (size_t at = 0; at < s.words.size(); at += kBlock) {
            const int n = int(std::min<size_t>(kBlock, s.words.size() - at));
            f.setData(reinterpret_cast<const int*>(s.words.data() + at), n, 0);
        }
    }
    const auto& h = global ? f.channelHistogram() : f.startStopHistogram();
    if (h.countsInside == 0)
        state.SkipWithError("nothing binned");
    state.SetItemsProcessed(state.iterations() * s.events);
}

void BM_HistogramStartStop(benchmark::State& state)
{
    runFilter(state, false);
}

void BM_HistogramChannelDiff(benchmark::State& state)
{
    runFilter(state, true);
}

// --- 3D histogram ---------------------------------------------------------------------------------------------------

constexpr size_t kCube = size_t(512) * 512 * 512;

void BM_MemcpyCube(benchmark::State& state)
{
    std::vector<quint8> a(kCube, 1), b(kCube);
    for (auto _ : state) {
        std::memcpy(b.data(), a.data(), kCube);
        benchmark::ClobberMemory();
    }
    state.SetBytesProcessed(state.iterations() * qint64(kCube));
    state.SetItemsProcessed(state.iterations() * qint64(kCube));
}

HistogramPlugin& cubeDisplay()
{
    static HistogramPlugin* p = [] {
        auto* plugin = new HistogramPlugin(nullptr, QStringLiteral("bench3d"));
        plugin->setDataEncoding(GPlugin::coord3d);
        return plugin;
    }();
    return *p;
}

// Hits spread over the whole cube (every hit a cache miss) and hits around a few spots (as a measurement has them).
void runHits(benchmark::State& state, bool spread)
{
    HistogramPlugin& p = cubeDisplay();
    p.init();
    std::mt19937 rng(5);
    std::normal_distribution<double> g(0.0, 20.0);
    std::vector<int> words(1 << 16);
    for (int& w : words) {
        if (spread) {
            w = int(rng() & 0x7FFFFFF);
        } else {
            const int x = int(std::lround(g(rng))) & 0x1FF, y = int(std::lround(g(rng))) & 0x1FF;
            const int t = int(std::lround(g(rng) / 4)) & 0x1FF;
            w = x | y << 9 | t << 18;
        }
    }
    for (auto _ : state) {
        for (size_t at = 0; at < words.size(); at += kBlock) {
            const int n = int(std::min<size_t>(kBlock, words.size() - at));
            p.setData(words.data() + at, n, 0);
        }
    }
    state.SetItemsProcessed(state.iterations() * qint64(words.size()));
}

void BM_Hist3dHitsSpread(benchmark::State& state)
{
    runHits(state, true);
}

void BM_Hist3dHitsSpots(benchmark::State& state)
{
    runHits(state, false);
}

void BM_Hist3dFullRepaint(benchmark::State& state)
{
    HistogramPlugin& p = cubeDisplay();
    Histogram* h = p.histogram();
    for (int i = 0; i < 100000; ++i)
        h->setHit(i % 512, (i * 7) % 512, i % 512);
    QImage target(512, 512, QImage::Format_RGB32);
    for (auto _ : state) {
        h->setChanged(); // the whole projection is drawn again (as after a gradation change)
        h->render(&target);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * 512 * 512);
}

void BM_Hist3dProjectionAllSlices(benchmark::State& state)
{
    HistogramPlugin& p = cubeDisplay();
    Histogram* h = p.histogram();
    // A hit in every page of the cube, so that the sums read memory and not the kernel's shared zero page.
    for (int px = 0; px < 512 * 512; px += 4096 / 512)
        h->setHit(px % 512, px / 512, px % 512);
    for (auto _ : state)
        h->regenerateCache();
    state.SetBytesProcessed(state.iterations() * qint64(kCube));
    state.SetItemsProcessed(state.iterations() * qint64(kCube));
}

} // namespace

// 2^20 values of a noisy signal (Gaussian around 0, sigma 5000 raw units) as a channel delivers them.
const std::vector<int>& valueWords()
{
    static const std::vector<int> words = [] {
        std::vector<int> w(size_t(1) << 20);
        std::mt19937 rng(2);
        std::normal_distribution<double> noise(0.0, 5000.0);
        for (int& v : w)
            v = int(std::lround(noise(rng)));
        return w;
    }();
    return words;
}

void BM_MemcpyValueWords(benchmark::State& state)
{
    const std::vector<int>& w = valueWords();
    std::vector<int> copy(w.size());
    for (auto _ : state) {
        for (size_t at = 0; at < w.size(); at += kBlock)
            std::memcpy(copy.data() + at, w.data() + at, std::min<size_t>(kBlock, w.size() - at) * 4);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * qint64(w.size()));
}

void BM_GenericHistogram32(benchmark::State& state)
{
    const std::vector<int>& w = valueWords();
    GenericHistFilter f(nullptr, QStringLiteral("bench"));
    f.setSuccessor(new Sink);
    f.setDataEncoding(GPlugin::Int32Enc);
    f.setOption(QStringLiteral("binwidth"), QStringLiteral("37"));
    f.setOption(QStringLiteral("binstart"), QStringLiteral("-500"));
    f.setOption(QStringLiteral("bincount"), QStringLiteral("1000"));
    for (auto _ : state) {
        for (size_t at = 0; at < w.size(); at += kBlock) {
            const int n = int(std::min<size_t>(kBlock, w.size() - at));
            f.setData(w.data() + at, n, int(at));
        }
    }
    state.SetItemsProcessed(state.iterations() * qint64(w.size()));
}

BENCHMARK(BM_MemcpyTagWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeQueued)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramStartStop)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_HistogramChannelDiff)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyCube)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hist3dHitsSpread)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hist3dHitsSpots)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hist3dFullRepaint)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_Hist3dProjectionAllSlices)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_MemcpyValueWords)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_GenericHistogram32)->Unit(benchmark::kMillisecond);
