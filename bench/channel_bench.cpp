// Words per second through Channel::sendData into the frame buffer and a pass-through chain, in blocks of 1019
// words (the server's block size), beside a memcpy of the same bytes as the natural bound.
#include "connection/channel.h"
#include "connection/viewpage.h"
#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QApplication>
#include <benchmark/benchmark.h>
#include <cstring>
#include <numeric>
#include <vector>

namespace {
constexpr int blockWords = 1019;
constexpr int lineWords = 4096; // frames end inside blocks, so the channel splits some of them

/// The end of the chain: looks at every block so that nothing is optimised away.
class Sink : public GPlugin
{
public:
    Sink() : GPlugin(nullptr, QStringLiteral("sink"), nullptr) {}
    void setData(const int* data, int count, int index) override
    {
        if (count > 0)
            checksum += data[count - 1] + index;
    }
    qint64 checksum = 0;
};

std::vector<int> block()
{
    std::vector<int> words(blockWords);
    std::iota(words.begin(), words.end(), 1);
    return words;
}
} // namespace

static void BM_ChannelSendData(benchmark::State& state)
{
    const QMap<int, DataGroup> groups{{0, DataGroup()}};
    Channel channel(0, nullptr, groups);
    channel.setDataGroup(0);
    channel.sendMetadata(StreamFormat::metaCode(StreamFormat::Order), GPlugin::cyclic);
    channel.sendMetadata(StreamFormat::metaCode(StreamFormat::RangeX), lineWords);
    ViewPage page(nullptr, QStringLiteral("bench"), groups, false);
    auto* head = new GPlugin(nullptr, QStringLiteral("pass"), nullptr); // forwards everything unchanged
    auto* sink = new Sink;
    page.addReceiver(head);
    page.addReceiver(sink);
    channel.addPage(&page);
    const std::vector<int> words = block();
    int index = 0;
    for (auto _ : state) {
        channel.sendData(words.data(), blockWords, index);
        index = (index + blockWords) % (1 << 30);
    }
    benchmark::DoNotOptimize(sink->checksum);
    state.SetItemsProcessed(state.iterations() * blockWords);
    state.SetBytesProcessed(state.iterations() * blockWords * int64_t(sizeof(int)));
}
BENCHMARK(BM_ChannelSendData);

static void BM_MemcpyBlock(benchmark::State& state)
{
    const std::vector<int> words = block();
    std::vector<int> target(lineWords);
    int offset = 0;
    for (auto _ : state) {
        // The same bytes into a line-sized ring, as the frame buffer does.
        const int n = std::min(blockWords, lineWords - offset);
        std::memcpy(target.data() + offset, words.data(), size_t(n) * sizeof(int));
        std::memcpy(target.data(), words.data() + n, size_t(blockWords - n) * sizeof(int));
        offset = (offset + blockWords) % lineWords;
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * blockWords);
    state.SetBytesProcessed(state.iterations() * blockWords * int64_t(sizeof(int)));
}
BENCHMARK(BM_MemcpyBlock);
