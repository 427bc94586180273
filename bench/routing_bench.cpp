// Words per second through a union merging three inputs into lines (multiline mode), beside a memcpy of the same
// words. Run with scripts/bench; compare BM_UnionMultiline* items_per_second with BM_MemcpyThreeBlocks.

#include "routing/forkplugin.h"
#include "routing/unionplugin.h"

#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>
#include <vector>

namespace {

// A channel block as the server sends it.
constexpr int kBlock = 1019;
constexpr int kInputs = 3;

// The end of the chain: keeps only the word count, so the union's own work is what is measured.
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

std::vector<std::vector<int>> blocks()
{
    std::vector<std::vector<int>> b(kInputs, std::vector<int>(kBlock));
    quint32 seed = 12345;
    for (auto& v : b)
        for (int& w : v) {
            seed = seed * 1664525u + 1013904223u;
            w = int(seed >> 8);
        }
    return b;
}

void BM_MemcpyThreeBlocks(benchmark::State& state)
{
    const auto in = blocks();
    std::vector<int> out(size_t(kInputs) * kBlock);
    for (auto _ : state) {
        for (int j = 0; j < kInputs; ++j)
            std::memcpy(out.data() + size_t(j) * kBlock, in[size_t(j)].data(), sizeof(int) * kBlock);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * qint64(kInputs) * kBlock);
}

// Arg 1: inputs matched by stream index ("forceddatamatch"); arg 0: independent linear streams merged by arrival.
void BM_UnionMultiline(benchmark::State& state)
{
    UnionPlugin u(nullptr, QStringLiteral("U"));
    auto* sink = new Sink;
    u.setSuccessor(sink);
    u.setOption(QStringLiteral("mode"), QStringLiteral("multiline"));
    u.setOption(QStringLiteral("forceddatamatch"), QString::number(state.range(0)));
    std::vector<std::unique_ptr<ForkPlugin>> forks;
    std::vector<GPlugin*> input{&u};
    for (int j = 1; j < kInputs; ++j) {
        forks.push_back(std::make_unique<ForkPlugin>(nullptr, QStringLiteral("F%1").arg(j)));
        forks.back()->setOption(QStringLiteral("target"), QStringLiteral("U"));
        forks.back()->checkForPartner(QStringLiteral("U"), &u);
        input.push_back(forks.back().get());
    }
    for (GPlugin* p : input) {
        p->setDataOrder(GPlugin::linear);
        p->setDataEncoding(GPlugin::Int32Enc);
        p->setDataUnitVal(0x280);
        p->setDataPhysVal(1000);
    }
    if (u.getActiveInputs().size() != kInputs) {
        state.SkipWithError("the union did not take three inputs");
        return;
    }
    const auto data = blocks();
    int index = 0;
    for (auto _ : state) {
        for (int j = 0; j < kInputs; ++j)
            input[size_t(j)]->setData(data[size_t(j)].data(), kBlock, index);
        index = index < (1 << 30) ? index + kBlock : 0;
    }
    if (sink->words < state.iterations() * qint64(kInputs) * kBlock - qint64(kInputs) * kBlock)
        state.SkipWithError("words were lost in the merge");
    state.SetItemsProcessed(state.iterations() * qint64(kInputs) * kBlock);
}

} // namespace

BENCHMARK(BM_MemcpyThreeBlocks);
BENCHMARK(BM_UnionMultiline)->Arg(1)->Arg(0);
