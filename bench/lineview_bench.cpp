// Line display throughput: (a) points per second through setData into a rolling curve that is drawn
// incrementally; redraws of a view holding one million points (b) after the whole curve changed, (c) with no new
// points (the grid and overlay rebuilt, the curve from its kept columns), (d) after new points arrived (a redraw from
// the grid: the cost follows the new points, not the curve). memcpy of the million points is the bound.
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

// An 800x600 view with one curve of 10^6 points over the whole window, drawn once.
struct MillionPointView
{
    MillionPointView() : view(nullptr, false)
    {
        view.resize(800, 600);
        view.show();
        view.setWindow(QRectF(0, -25000, 1e6, 50000), QStringLiteral("+s"), QStringLiteral("+V"));
        curve = view.addCurve(1);
        first = points(0);
        second = points(1);
        curve->points = first;
        view.setChanged();
    }
    static LvPoints points(int variant)
    {
        const std::vector<int> data = noisySine(1000000 + variant);
        QVector<QPointF> v;
        v.reserve(1000000);
        for (int i = 0; i < 1000000; ++i)
            v.append(QPointF(i, data[i + variant]));
        return LvPoints(v);
    }
    LineView view;
    LvCurve* curve = nullptr;
    LvPoints first, second;
};

// (b) The whole curve changed (a new sweep of a million points): grid, labels and every point.
void BM_FullRedraw1M(benchmark::State& state)
{
    MillionPointView m;
    bool flip = false;
    for (auto _ : state) {
        m.curve->points = flip ? m.first : m.second;
        flip = !flip;
        m.view.setChanged();
    }
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_FullRedraw1M)->Unit(benchmark::kMillisecond);

// (c) No new points: a change of the overlay (marker lines) rebuilds grid and labels and redraws the curve.
void BM_RedrawUnchanged1M(benchmark::State& state)
{
    MillionPointView m;
    const QVector<double> lines[2] = {{250000.0}, {750000.0}};
    int k = 0;
    for (auto _ : state)
        m.view.setVerticalLines(lines[++k & 1]);
    state.SetItemsProcessed(state.iterations() * 1000000);
}
BENCHMARK(BM_RedrawUnchanged1M)->Unit(benchmark::kMillisecond);

// (d) range(0) new points arrive on a curve of a million, then the view is redrawn from the grid (the end of a
// sweep does this). Items are the new points.
void BM_RedrawNewPoints(benchmark::State& state)
{
    const int added = int(state.range(0));
    MillionPointView m;
    const std::vector<int> data = noisySine(1 << 20);
    double x = 1e6;
    for (auto _ : state) {
        if (m.curve->points.size() > 1500000) {
            state.PauseTiming();
            m.curve->points = m.first;
            x = 1e6;
            m.view.setChanged();
            state.ResumeTiming();
        }
        for (int i = 0; i < added; ++i, x += 0.5)
            m.curve->points.append(QPointF(x - 500000, data[i & 0xfffff]));
        m.view.startCurve();
        m.view.drawToDblBuf();
    }
    state.SetItemsProcessed(state.iterations() * added);
}
BENCHMARK(BM_RedrawNewPoints)->Arg(1019)->Arg(16384)->Unit(benchmark::kMicrosecond);

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
