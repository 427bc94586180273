// Frame display throughput: pixels per second from setData into the image (colour-mapped), for a 1024 x 1024
// forBack scan in blocks of 1019 words, beside a memcpy of the same blocks; and the time of a full repaint
// (recolouring the frame and drawing it scaled and turned).
#include "displays/waterfall.h"
#include "displays/waterfallplugin.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QImage>
#include <QPainter>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>
#include <cstring>
#include <memory>
#include <vector>

namespace {

constexpr int side = 1024;
constexpr int block = 1019;
constexpr int frameWords = 2 * side * side; // forward and backward lines

std::vector<int> scan()
{
    std::vector<int> v(frameWords);
    for (int i = 0; i < frameWords; ++i)
        v[size_t(i)] = (i * 37) % 20000 - 10000;
    return v;
}

std::unique_ptr<WaterfallPlugin> framePlugin()
{
    auto p = std::make_unique<WaterfallPlugin>(nullptr, QStringLiteral("bench"));
    p->setDataRangeX(side);
    p->setDataRangeY(side);
    p->setDataOrder(GPlugin::forBack);
    p->setColorCoding(QStringLiteral("Spectrum"));
    return p;
}

void BM_SetDataForBack(benchmark::State& state)
{
    auto plugin = framePlugin();
    const std::vector<int> data = scan();
    qint64 pos = 0;
    for (auto _ : state) {
        for (int i = 0; i < frameWords; i += block) {
            const int n = qMin(block, frameWords - i);
            plugin->setData(data.data() + i, n, int(pos % (2 * qint64(frameWords))));
            pos += n;
        }
    }
    state.SetItemsProcessed(state.iterations() * frameWords);
}
BENCHMARK(BM_SetDataForBack)->Unit(benchmark::kMillisecond);

void BM_MemcpyBlocks(benchmark::State& state)
{
    const std::vector<int> data = scan();
    std::vector<int> dest(frameWords);
    for (auto _ : state) {
        for (int i = 0; i < frameWords; i += block) {
            const int n = qMin(block, frameWords - i);
            std::memcpy(dest.data() + i, data.data() + i, size_t(n) * sizeof(int));
        }
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * frameWords);
}
BENCHMARK(BM_MemcpyBlocks)->Unit(benchmark::kMillisecond);

// Full repaint: paint() recolours every pixel, then the image is drawn as the widget shows it. Arguments: scale and
// rotation (1/65536 turn).
void BM_FullRepaint(benchmark::State& state)
{
    auto plugin = framePlugin();
    const std::vector<int> data = scan();
    plugin->setData(data.data(), frameWords, 0);
    Waterfall* view = plugin->getWaterfall();
    view->setScale(int(state.range(0)));
    view->setRotation(int(state.range(1)));
    QImage target(view->size(), QImage::Format_RGB32);
    for (auto _ : state) {
        view->paint();
        QPainter painter(&target);
        view->draw(painter);
    }
    state.SetItemsProcessed(state.iterations() * side * side);
}
BENCHMARK(BM_FullRepaint)
    ->Args({1, 0})
    ->Args({1, 16384})
    ->Args({-2, 16384})
    ->Args({2, 49152})
    ->Unit(benchmark::kMillisecond);

} // namespace
