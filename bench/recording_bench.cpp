// Recording speed. The disc writer's binary recording in words per second through setData to a file on the local
// disk (the folder the program runs in), beside a plain write() of the same bytes in the same block size; the
// closing fsync is timed apart and reported as the counter "fsync_s". The sync writer's conversion of its temporary
// file in rows per second, to text and to binary time tags, beside the disc writer's decimal text of the same data.
#include "recording/discwriterplugin.h"
#include "recording/syncwriterplugin.h"

#include <QBuffer>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QTemporaryDir>
#include <benchmark/benchmark.h>

#include <fcntl.h>
#include <numeric>
#include <unistd.h>
#include <vector>

namespace {

constexpr int blockWords = 1019;      // the server's block size
constexpr int recordedBlocks = 32768; // about 133 MB per run
constexpr int convertedRows = 200000;

std::vector<int> block()
{
    std::vector<int> words(blockWords);
    std::iota(words.begin(), words.end(), 1);
    return words;
}

QString benchDir()
{
    // The local disk: tmpfs would measure memory.
    return QDir::currentPath();
}

} // namespace

static void BM_DiscWriterBinary(benchmark::State& state)
{
    QTemporaryDir dir(benchDir() + QStringLiteral("/recbench-XXXXXX"));
    const std::vector<int> words = block();
    double fsyncSeconds = 0;
    for (auto _ : state) {
        state.PauseTiming();
        DiscWriterPlugin::setMessageBoxes(false);
        DiscWriterPlugin writer(nullptr, QStringLiteral("bench"));
        writer.setFormat(DiscWriterPlugin::Binary);
        writer.openOutFile(dir.filePath(QStringLiteral("rec.dat")));
        writer.startWrite(true);
        state.ResumeTiming();
        for (int i = 0; i < recordedBlocks; ++i)
            writer.setData(words.data(), blockWords, (i * blockWords) & 0x3fffffff);
        state.PauseTiming();
        QElapsedTimer t;
        t.start();
        writer.startWrite(false); // flush and fsync
        fsyncSeconds += t.nsecsElapsed() / 1e9;
        state.ResumeTiming();
    }
    state.counters["fsync_s"] = fsyncSeconds / double(state.iterations());
    state.SetItemsProcessed(state.iterations() * int64_t(recordedBlocks) * blockWords);
    state.SetBytesProcessed(state.iterations() * int64_t(recordedBlocks) * blockWords * 4);
}
BENCHMARK(BM_DiscWriterBinary)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

static void BM_PlainWrite(benchmark::State& state)
{
    QTemporaryDir dir(benchDir() + QStringLiteral("/recbench-XXXXXX"));
    const std::vector<int> words = block();
    const QByteArray path = QFile::encodeName(dir.filePath(QStringLiteral("plain.dat")));
    double fsyncSeconds = 0;
    for (auto _ : state) {
        const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        for (int i = 0; i < recordedBlocks; ++i) {
            if (::write(fd, words.data(), blockWords * 4) != blockWords * 4)
                state.SkipWithError("write failed");
        }
        state.PauseTiming();
        QElapsedTimer t;
        t.start();
        ::fsync(fd);
        ::close(fd);
        fsyncSeconds += t.nsecsElapsed() / 1e9;
        state.ResumeTiming();
    }
    state.counters["fsync_s"] = fsyncSeconds / double(state.iterations());
    state.SetItemsProcessed(state.iterations() * int64_t(recordedBlocks) * blockWords);
    state.SetBytesProcessed(state.iterations() * int64_t(recordedBlocks) * blockWords * 4);
}
BENCHMARK(BM_PlainWrite)->Unit(benchmark::kMillisecond)->Iterations(3)->UseRealTime();

// The conversions, in rows per second: one row is x and one value.
static void BM_SyncWriterConvertText(benchmark::State& state)
{
    QTemporaryDir dir(benchDir() + QStringLiteral("/recbench-XXXXXX"));
    QByteArray temp(CopyThread::textMarker, 8);
    temp += "# t ; X[1]\n@";
    for (int i = 0; i < convertedRows; ++i) {
        const double row[2] = {i * 1e-6, (i % 1000) * 0.125};
        temp.append(reinterpret_cast<const char*>(row), sizeof row);
    }
    for (auto _ : state) {
        QByteArray in = temp;
        QBuffer src(&in);
        src.open(QIODevice::ReadOnly);
        QFile out(dir.filePath(QStringLiteral("rows.txt")));
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QString error;
        if (!CopyThread::convert(src, out, 2, 7, &error))
            state.SkipWithError("conversion failed");
    }
    state.SetItemsProcessed(state.iterations() * int64_t(convertedRows));
}
BENCHMARK(BM_SyncWriterConvertText)->Unit(benchmark::kMillisecond);

static void BM_SyncWriterConvertTimeTags(benchmark::State& state)
{
    QTemporaryDir dir(benchDir() + QStringLiteral("/recbench-XXXXXX"));
    QByteArray temp;
    for (int i = 0; i < convertedRows; ++i) {
        const qint64 event[2] = {qint64(i) * 1000, i % 8 + 2};
        temp.append(reinterpret_cast<const char*>(event), sizeof event);
    }
    for (auto _ : state) {
        QByteArray in = temp;
        QBuffer src(&in);
        src.open(QIODevice::ReadOnly);
        QFile out(dir.filePath(QStringLiteral("tags.bin")));
        out.open(QIODevice::WriteOnly | QIODevice::Truncate);
        QString error;
        if (!CopyThread::convert(src, out, 2, -2, &error))
            state.SkipWithError("conversion failed");
    }
    state.SetItemsProcessed(state.iterations() * int64_t(convertedRows));
}
BENCHMARK(BM_SyncWriterConvertTimeTags)->Unit(benchmark::kMillisecond);

static void BM_DiscWriterDecimalText(benchmark::State& state)
{
    QTemporaryDir dir(benchDir() + QStringLiteral("/recbench-XXXXXX"));
    std::vector<int> words(convertedRows);
    for (int i = 0; i < convertedRows; ++i)
        words[size_t(i)] = i % 1000;
    for (auto _ : state) {
        state.PauseTiming();
        DiscWriterPlugin::setMessageBoxes(false);
        DiscWriterPlugin writer(nullptr, QStringLiteral("bench"));
        writer.setOption(QStringLiteral("twocolumn"), QStringLiteral("1"));
        writer.setOption(QStringLiteral("floataccuracy"), QStringLiteral("7"));
        writer.setDataRangeX(convertedRows);
        writer.setDataPhysX(convertedRows);
        writer.setDataPhysVal(8);
        writer.setFormat(DiscWriterPlugin::Decimal);
        writer.openOutFile(dir.filePath(QStringLiteral("dec.txt")));
        writer.startWrite(true);
        state.ResumeTiming();
        for (int i = 0; i < convertedRows; i += blockWords)
            writer.setData(words.data() + i, qMin(blockWords, convertedRows - i), i);
        writer.startWrite(false);
    }
    state.SetItemsProcessed(state.iterations() * int64_t(convertedRows));
}
BENCHMARK(BM_DiscWriterDecimalText)->Unit(benchmark::kMillisecond);
