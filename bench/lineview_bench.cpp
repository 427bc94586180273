// Line display throughput: (a) points per second through setData into a rolling curve that is drawn
// incrementally, (b) the full redraw of a view holding one million points. memcpy of the same bytes is the bound.
#include "displays/lineview.h"
#include "displays/lineviewplugin.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

std::vector<int> noisySine(int n)
{
    std::vector<int> v(n);
    unsigned seed = 1;
    for (int i = 0; i < n; ++i) {
        seed = seed * 1103515245u + 12345u;
        v[i] = int(20000 * std::sin(i * 0.001) + int((seed >> 16) % 2000) - 1000);
    }
    return v;
}

// (a) A rolling y(t) display: blocks of `range(0)` words; a paint (incremental draw) every 2^20 points, about what
// the 40 ms paint coalescing gives at 25 M points per second.
void BM_RollingSetData(benchmark::State& state)
{
    const int block = int(state.range(0));
    LineViewPlugin p(nullptr, QStringLiteral("bench"), false, nullptr);
    p.getWidget()->resize(800, 600);
    p.getWidget()->show();
    p.setRolling(true);
    p.setOption(QStringLiteral("initialxrange"), QStringLiteral("20000"));
    const std::vector<int> data = noisySine(block * 64);
    int index = 0;
    long long points = 0, sincePaint = 0;
    for (auto _ : state) {
        p.setData(data.data() + (index / block % 64) * block, block, index);
        index += block;
        if (index > (1 << 30))
            index = 0;
        points += block;
        sincePaint += block;
        if (sincePaint >= (1 << 20)) {
            p.getView()->drawToDblBuf();
            sincePaint = 0;
        }
    }
    state.SetItemsProcessed(points);
}
BENCHMARK(BM_RollingSetData)->Arg(1019)->Arg(16384);

void BM_MemcpyBlock(benchmark::State& state)
{
    const int block = int(state.range(0));
    std::vector<int> src = noisySine(block), dst(block);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), block * sizeof(int));
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * block);
}
BENCHMARK(BM_MemcpyBlock)->Arg(1019)->Arg(16384);

// (b) Full redraw (grid, labels and every curve point) of an 800x600 view with one curve of 10^6 points.
void BM_FullRedraw1M(benchmark::State& state)
{
    LineView view(nullptr, false);
    view.resize(800, 600);
    view.show();
    view.setWindow(QRectF(0, -25000, 1e6, 50000), QStringLiteral("+s"), QStringLiteral("+V"));
    LvCurve* c = view.addCurve(1);
    const std::vector<int> data = noisySine(1000000);
    c->points.reserve(1000000);
    for (int i = 0; i < 1000000; ++i)
        c->points.append(QPointF(i, data[i]));
    for (auto _ : state)
        view.setChanged();
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_FullRedraw1M)->Unit(benchmark::kMillisecond);

void BM_Memcpy1MPoints(benchmark::State& state)
{
    std::vector<QPointF> src(1000000), dst(1000000);
    for (auto _ : state) {
        std::memcpy(dst.data(), src.data(), src.size() * sizeof(QPointF));
        benchmark::DoNotOptimize(dst.data());
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_Memcpy1MPoints)->Unit(benchmark::kMillisecond);

} // namespace
