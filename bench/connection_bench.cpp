// Throughput of the data path: ViewManager::receive on an in-memory buffer beside a memcpy of the same bytes, and
// end to end from the simulator through loopback TCP into a manager with one page whose chain passes the data on.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/telegram.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "framework/streamformat.h"
#include "simserver.h"
#include "utilif/iqtcp.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QElapsedTimer>
#include <QTemporaryDir>
#include <QThread>
#include <benchmark/benchmark.h>
#include <cstring>
#include <ctime>
#include <memory>

namespace {

constexpr int scanPixels = 512; // a forward/backward frame of 512 x 512 x 2 words

// The end of the chain: takes the words and does nothing with them (no display).
class PassThrough : public GPlugin
{
public:
    PassThrough() : GPlugin(nullptr, QStringLiteral("pass"), nullptr) {}
    void setData(const int* data, int count, int index) override
    {
        words += count;
        GPlugin::setData(data, count, index);
    }
    qint64 words = 0;
};

// A manager with one scan channel in a group that keeps raw frames, and one page on it.
struct Receiver
{
    Receiver()
    {
        DataGroup g;
        g.groupNumber = 0;
        g.name = QStringLiteral("Scan");
        groups.insert(0, g);
        manager = std::make_unique<ViewManager>(nullptr, true);
        manager->setChannelCount(1, 0, groups);
        manager->getChannels()[0]->setDataGroup(0);
        page = std::make_unique<ViewPage>(nullptr, QStringLiteral("BenchPage"), groups, false);
        page->setSelectMode(ViewPage::selectAll);
        sink = new PassThrough;
        page->addReceiver(sink);
        manager->addPage(page.get());
        page->setChannelNo(0);
    }
    QMap<int, DataGroup> groups;
    std::unique_ptr<ViewManager> manager;
    std::unique_ptr<ViewPage> page;
    PassThrough* sink = nullptr;
};

// Metadata of the scan and `telegrams` data telegrams of `block` words each.
QByteArray makeStream(int telegrams, int block)
{
    QByteArray out;
    for (auto [code, value] : {std::pair{StreamFormat::metaCode(StreamFormat::Order), 4},
                               {StreamFormat::metaCode(StreamFormat::RangeX), scanPixels},
                               {StreamFormat::metaCode(StreamFormat::RangeY), scanPixels}}) {
        const qint32 v = value;
        out += Telegram::make(Telegram::KindData, code, 0, &v);
    }
    QVector<qint32> words(block);
    for (int i = 0; i < block; ++i)
        words[i] = i * 7;
    qint64 position = 0;
    for (int t = 0; t < telegrams; ++t) {
        Telegram::appendData(out, 0, qint32(position % (2LL * scanPixels * scanPixels * 2)), words.constData(), block);
        position += block;
    }
    return out;
}

void BM_Receive(benchmark::State& state)
{
    Receiver r;
    const int block = int(state.range(0));
    const int telegrams = (4 << 20) / (4 * block);
    QByteArray stream = makeStream(telegrams, block);
    for (auto _ : state)
        r.manager->receive(stream.data(), stream.size());
    state.SetItemsProcessed(state.iterations() * qint64(telegrams) * block);
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_Receive)->Arg(1019)->Arg(16384)->UseRealTime();

void BM_MemcpySameBytes(benchmark::State& state)
{
    const int block = int(state.range(0));
    const int telegrams = (4 << 20) / (4 * block);
    const QByteArray stream = makeStream(telegrams, block);
    QByteArray target(stream.size(), '\0');
    for (auto _ : state) {
        std::memcpy(target.data(), stream.constData(), size_t(stream.size()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * qint64(telegrams) * block);
    state.SetBytesProcessed(state.iterations() * stream.size());
}
BENCHMARK(BM_MemcpySameBytes)->Arg(1019)->Arg(16384)->UseRealTime();

// The simulator on a thread of its own streams the scan as fast as the connection takes it.
void BM_LoopbackEndToEnd(benchmark::State& state)
{
    QThread serverThread;
    serverThread.start();
    auto* sim = new SimServer;
    sim->setChannels({SimServer::Scan});
    sim->setScanPixels(scanPixels);
    sim->setRate(0, 0);
    sim->setBlockWords(int(state.range(0)));
    sim->moveToThread(&serverThread);
    quint16 port = 0;
    QMetaObject::invokeMethod(sim, [sim, &port]() { sim->listen(0); port = sim->serverPort(); },
                              Qt::BlockingQueuedConnection);

    Receiver r;
    r.manager->connectToServer(QStringLiteral("127.0.0.1"), port);
    QElapsedTimer clock;
    clock.start();
    while (r.sink->words == 0 && clock.elapsed() < 10000)
        QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    r.manager->updateStatus();
    r.manager->connection()->getAndClearOverload();

    const qint64 perIteration = 64LL << 20; // words
    qint64 total = 0;
    // On a shared machine the wall clock mostly measures the neighbours; the CPU time of both ends (this process
    // runs the server thread too) tells what the path itself costs.
    const std::clock_t cpuStart = std::clock();
    for (auto _ : state) {
        const qint64 target = r.sink->words + perIteration;
        while (r.sink->words < target)
            QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
        total += perIteration;
    }
    state.SetItemsProcessed(total);
    state.SetBytesProcessed(total * 4);
    const double cpuSeconds = double(std::clock() - cpuStart) / CLOCKS_PER_SEC;
    state.counters["words_per_cpu_s"] = cpuSeconds > 0 ? double(total) / cpuSeconds : 0.0;
    state.counters["overload"] = r.manager->connection()->getAndClearOverload() ? 1 : 0;

    r.manager->stop();
    QMetaObject::invokeMethod(sim, [sim]() { delete sim; }, Qt::BlockingQueuedConnection);
    serverThread.quit();
    serverThread.wait();
}
BENCHMARK(BM_LoopbackEndToEnd)->Arg(1019)->Arg(16384)->UseRealTime()->Unit(benchmark::kMillisecond);

} // namespace
