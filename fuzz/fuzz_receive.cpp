// Feeds arbitrary bytes through the client's telegram framing and ViewManager::receive, the way bytes from the
// network reach the channels and a page's chain. The input's first byte chooses how the stream is cut into reads
// and how large the receive buffer is, so that split telegrams and oversized ones are both reached. A length word
// that no telegram can have breaks the stream; the framing then starts afresh, as after the client's reconnection.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewmanager.h"
#include "connection/viewpage.h"
#include "framework/gplugin.h"
#include "utilif/framebuffer.h"
#include "utilif/iqtcp.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QDir>
#include <QLoggingCategory>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

namespace {

// The end of the chain: reads every word it gets, so that a block reaching past its telegram shows up under ASan.
class SinkPlugin : public GPlugin
{
public:
    SinkPlugin() : GPlugin(nullptr, QStringLiteral("sink"), nullptr) {}
    void setData(const int* data, int count, int index) override
    {
        for (int i = 0; i < count; ++i)
            sum += data[i] ^ index;
    }
    void setDataOdd(const int* data, int count, int index) override
    {
        const auto* bytes = reinterpret_cast<const unsigned char*>(data);
        for (int i = 0; i < count; ++i)
            sum += bytes[i] ^ index;
    }
    long long sum = 0;
};

struct World
{
    QMap<int, DataGroup> groups;
    ViewManager* manager = nullptr;
    QList<ViewPage*> pages;
};

World* world = nullptr;

} // namespace

extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    new QApplication(*argc, *argv);
    QLoggingCategory::setFilterRules(QStringLiteral("*=false")); // the dropped-telegram notes would flood the run
    Savable::setStorageFile(QDir::temp().filePath(QStringLiteral("orvik-fuzz-receive.ini")));
    // Frames as large as the fuzzer can announce would only measure the allocator; 16 MiB keeps runs fast.
    FrameBuffer::setSizeLimit(16 << 20);
    world = new World;
    for (int g = 0; g < 3; ++g) {
        DataGroup group;
        group.groupNumber = g;
        group.name = QStringLiteral("Group %1").arg(g);
        group.trigger = g;
        group.disabled = g == 2;
        world->groups.insert(g, group);
    }
    world->manager = new ViewManager(nullptr, false);
    world->manager->setChannelCount(4, 1, world->groups);
    for (int n = 0; n < 2; ++n) {
        auto* page = new ViewPage(nullptr, QStringLiteral("FuzzPage%1").arg(n), world->groups, false);
        page->addReceiver(new SinkPlugin);
        page->setSelectMode(ViewPage::selectAll);
        world->manager->addPage(page);
        page->setChannelNo(n);
        world->pages.append(page);
    }
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size < 1)
        return 0;
    const uint8_t mode = data[0];
    ++data;
    --size;
    // Small bounds reach the oversize path with short inputs; the large one is the manager's own.
    const int bounds[] = {64, 300, 4096, ViewManager::receiveBufferSize};
    TelegramAssembler assembler(bounds[mode & 3]);
    ViewManager* manager = world->manager;
    const TelegramAssembler::Deliver deliver = [manager](char* buf, int length) {
        manager->receive(buf, length);
        return true;
    };
    // Cut the stream into reads of pseudo-random sizes (1 to 64 bytes) or deliver it in one piece.
    uint32_t seed = mode;
    size_t pos = 0;
    while (pos < size) {
        size_t n = size - pos;
        if (mode & 4) {
            seed = seed * 1103515245u + 12345u;
            n = std::min<size_t>(n, 1 + (seed >> 16) % 64);
        }
        if (!assembler.feed(reinterpret_cast<const char*>(data + pos), int(n), deliver)) {
            if (!assembler.failed())
                std::abort(); // the receiver here never stops a commit
            assembler.reset();
        }
        pos += n;
    }
    // The raw buffer straight into receive as well: it must cope with framing it was never promised.
    QByteArray raw(reinterpret_cast<const char*>(data), int(size));
    manager->receive(raw.data(), raw.size());
    QCoreApplication::processEvents(); // run the channels' deferred replays
    return 0;
}
