// Words per second through the line-based and word-based filters, each beside a memcpy of the same frame.
// Run with scripts/bench; compare each filter's items_per_second with BM_MemcpyFrame.

#include "filters/derivativefilter.h"
#include "filters/directionfilter.h"
#include "filters/ugfilter.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// Frames of 512-word lines: 512 lines (1 MiB, a common scan, in cache) and 8192 lines (16 MiB, beyond the cache).
constexpr int kLineLength = 512;

// The end of the chain: takes the blocks and keeps only their size, so the filters' own work is what is measured.
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

std::vector<int> noisyFrame(int lines)
{
    std::vector<int> frame(size_t(kLineLength) * size_t(lines));
    quint32 seed = 12345;
    for (size_t i = 0; i < frame.size(); ++i) {
        seed = seed * 1664525u + 1013904223u;
        frame[i] = int(i % kLineLength) * 40 + int(seed >> 22); // a slope with noise
    }
    return frame;
}

template <class F> void runFrames(benchmark::State& state, F* filter)
{
    const std::vector<int> frame = noisyFrame(int(state.range(0)));
    for (auto _ : state)
        filter->setData(frame.data(), int(frame.size()), 0);
    state.SetItemsProcessed(state.iterations() * qint64(frame.size()));
}

void BM_MemcpyFrame(benchmark::State& state)
{
    const std::vector<int> frame = noisyFrame(int(state.range(0)));
    std::vector<int> copy(frame.size());
    for (auto _ : state) {
        std::memcpy(copy.data(), frame.data(), frame.size() * sizeof(int));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * qint64(frame.size()));
}

void BM_UgFilterLinear(benchmark::State& state)
{
    UgFilter filter(nullptr, QStringLiteral("ug"));
    filter.setSuccessor(new Sink);
    filter.setDataOrder(GPlugin::cyclic);
    filter.setDataRangeX(kLineLength);
    filter.changeMode(UgFilter::Linear);
    runFrames(state, &filter);
}

void BM_DerivativeFilter(benchmark::State& state)
{
    DerivativeFilter filter(nullptr, QStringLiteral("deriv"));
    filter.setSuccessor(new Sink);
    filter.setDataRangeX(101);
    filter.setDataPhysX(100);
    runFrames(state, &filter);
}

void BM_ScanDirectionFilter(benchmark::State& state)
{
    DirectionFilter filter(nullptr, QStringLiteral("dir"));
    filter.setSuccessor(new Sink);
    filter.setDataOrder(GPlugin::forBack);
    filter.setDataRangeX(kLineLength);
    filter.changeMode(DirectionFilter::Forward);
    runFrames(state, &filter);
}

} // namespace

BENCHMARK(BM_MemcpyFrame)->Arg(512)->Arg(8192);
BENCHMARK(BM_UgFilterLinear)->Arg(512)->Arg(8192);
BENCHMARK(BM_DerivativeFilter)->Arg(512)->Arg(8192);
BENCHMARK(BM_ScanDirectionFilter)->Arg(512)->Arg(8192);
