// Replays arbitrary bytes as a disc-writer recording: the reader, the dispatch of every record type into the chain,
// and the recording of the replayed stream again (the first byte picks the output format). Whatever the bytes, the
// replay must end with a message or at the end of the file, without reading past its buffer.
// The panel widgets make Qt load fontconfig, whose caches live until exit; run with
//   LSAN_OPTIONS=suppressions=cmake/lsan.supp build-fuzz/fuzz/fuzz_replay fuzz/corpus/replay
#include "framework/gplugin.h"
#include "recording/discwriterplugin.h"
#include "recording/recordfile.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QLoggingCategory>
#include <QTemporaryFile>
#include <cstddef>
#include <cstdint>

namespace {

// The end of the chain: reads every word it gets, so that a block reaching past its record shows up under ASan.
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

QTemporaryFile* input = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false"));
    Savable::setStorageFile(QDir::temp().filePath(QStringLiteral("orvik-fuzz-replay.ini")));
    DiscWriterPlugin::setMessageBoxes(false);
    input = new QTemporaryFile(QDir::temp().filePath(QStringLiteral("orvik-fuzz-replay-XXXXXX.dat")));
    input->open();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    const QByteArray bytes(reinterpret_cast<const char*>(data), int(size));

    // The reader alone, from memory.
    {
        QByteArray copy = bytes;
        QBuffer buffer(&copy);
        buffer.open(QIODevice::ReadOnly);
        RecordReader reader(&buffer);
        long long sum = 0;
        while (reader.next() == RecordReader::Ok) {
            for (int i = 0; i < reader.count(); ++i)
                sum += reader.words()[i];
        }
        (void)sum;
    }

    // The whole replay through a chain, recording what it replays.
    input->resize(0);
    input->seek(0);
    input->write(bytes);
    input->flush();
    DiscWriterPlugin writer(nullptr, QStringLiteral("fuzz"));
    writer.setSuccessor(new SinkPlugin);
    if (mode & 1)
        writer.setOption(QStringLiteral("twocolumn"), QStringLiteral("1"));
    if (mode & 2)
        writer.setOption(QStringLiteral("textheader"), QStringLiteral("1"));
    if (mode & 4) {
        writer.setFormat(DiscWriterPlugin::Format((mode >> 3) & 3));
        writer.openOutFile(QStringLiteral("/dev/null"));
        writer.startWrite(true);
    }
    if (mode & 0x20)
        writer.setOption(QStringLiteral("decoding"), QStringLiteral("int56tdc"));
    writer.openInFile(input->fileName());
    writer.startRead(true);
    for (int ticks = 0; writer.isReplaying() && ticks < 100000; ++ticks)
        writer.doRead();
    writer.startWrite(false);
    return 0;
}
