// Writes one file of every kind that the Python reader reads, from known data, into the folder given as the only
// argument, with manifest.json describing the data. The Python tests read both and compare the values exactly.

#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "recording/discwriterplugin.h"
#include "snapshot/snapshotmgr.h"
#include "snapshot/snapshotprovider.h"
#include "utilif/framebuffer.h"

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QMap>
#include <QWidget>

#include <cstdio>
#include <memory>

namespace {

GPlugin* create(const QString& type, const QString& name)
{
    for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList)
        if (d->name == type)
            if (GPlugin* p = d->factory(nullptr, name))
                return p;
    return nullptr;
}

QJsonObject describe(const StreamFormat& f, const QVector<int>& words)
{
    QJsonObject o;
    for (int i = 0; i < StreamFormat::PropertyCount; ++i) {
        const auto p = StreamFormat::Property(i);
        if (f.isSet(p))
            o.insert(QString::fromLatin1(StreamFormat::info(p).setter), f.value(p));
    }
    QJsonArray w;
    for (int v : words)
        w.append(v);
    o.insert(QStringLiteral("words"), w);
    return o;
}

void feed(FrameBuffer& b, const StreamFormat& f, const QVector<int>& words)
{
    for (int i = 0; i < StreamFormat::PropertyCount; ++i) {
        const auto p = StreamFormat::Property(i);
        if (f.isSet(p))
            b.setMetaData(StreamFormat::info(p).metaCode, f.value(p));
    }
    int done = 0;
    while (done < words.size()) {
        const int rest = b.addData(words.constData() + done, words.size() - done, done);
        done = words.size() - rest;
    }
}

bool fail(const char* what)
{
    std::fprintf(stderr, "make_pyfixtures: %s\n", what);
    return false;
}

bool run(const QDir& dir)
{
    QJsonObject manifest;

    // A forward/backward scan of 4 x 3 pixels: 24 words. Values in V with 0.25 V per raw unit, offset 2.
    StreamFormat scan;
    scan.set(StreamFormat::Order, GPlugin::forBack);
    scan.set(StreamFormat::RangeX, 4);
    scan.set(StreamFormat::RangeY, 3);
    scan.set(StreamFormat::PhysX, 400);
    scan.set(StreamFormat::PhysY, 300);
    scan.set(StreamFormat::OffsetX, -50);
    scan.set(StreamFormat::OffsetY, 25);
    scan.set(StreamFormat::UnitX, 0x17D);   // nm
    scan.set(StreamFormat::UnitVal, 0x280); // V
    scan.set(StreamFormat::PhysVal, 4);
    scan.set(StreamFormat::OffsetVal, 2);
    QVector<int> scanWords;
    for (int i = 0; i < 24; ++i)
        scanWords << (i % 2 ? -1 : 1) * (100 + 7 * i);
    {
        FrameBuffer b;
        feed(b, scan, scanWords);
        if (b.saveFrameBcr(dir.filePath("scan-fwd.bcrf"), "fixture scan", true) >= FrameBuffer::saveFailed ||
            b.saveFrameBcr(dir.filePath("scan-bwd.bcrf"), "fixture scan", false) >= FrameBuffer::saveFailed ||
            b.saveFrameAsc(dir.filePath("scan-fwd-matrix.asc"), "fixture scan", true, true) >=
                FrameBuffer::saveFailed ||
            b.saveFrameAsc(dir.filePath("scan-bwd-column.asc"), "fixture scan", false, false) >=
                FrameBuffer::saveFailed)
            return fail("the scan files were not written");
    }
    manifest.insert(QStringLiteral("scan"), describe(scan, scanWords));

    // The same scan cut after 10 words: pixels without a value.
    {
        FrameBuffer b;
        feed(b, scan, scanWords.mid(0, 10));
        if (b.saveFrameBcr(dir.filePath("partial-fwd.bcrf"), "fixture partial", true) >= FrameBuffer::saveFailed)
            return fail("the partial scan was not written");
    }
    manifest.insert(QStringLiteral("partial"), describe(scan, scanWords.mid(0, 10)));

    // A line of 5 samples in µm (x) and mV (values).
    StreamFormat line;
    line.set(StreamFormat::Order, GPlugin::linear);
    line.set(StreamFormat::RangeX, 5);
    line.set(StreamFormat::PhysX, 8);
    line.set(StreamFormat::OffsetX, 1);
    line.set(StreamFormat::UnitX, 0x17E);   // µm
    line.set(StreamFormat::UnitVal, 0x27F); // mV
    line.set(StreamFormat::PhysVal, 2);
    const QVector<int> lineWords{3, -5, 8, 13, -21};
    {
        FrameBuffer b;
        feed(b, line, lineWords);
        if (b.saveLineCsv(dir.filePath("line.csv"), "fixture line") >= FrameBuffer::saveFailed)
            return fail("the line CSV was not written");
        // The permanent log: two blocks, the second at a given position.
        if (b.startPermCsv(dir.filePath("perm.csv"), "fixture log") >= FrameBuffer::saveFailed ||
            b.savePermCsv(lineWords.constData(), 3) >= FrameBuffer::saveFailed ||
            b.savePermCsv(lineWords.constData() + 3, 2, 100) >= FrameBuffer::saveFailed)
            return fail("the permanent log was not written");
        b.startPermCsv(QString(), QByteArray());
    }
    manifest.insert(QStringLiteral("line"), describe(line, lineWords));

    // Displays: a line display and a frame display store their snapshots from the same data.
    std::unique_ptr<GPlugin> lv(create(QStringLiteral("Line Display 2"), QStringLiteral("fxline")));
    std::unique_ptr<GPlugin> fd(create(QStringLiteral("Frame Display"), QStringLiteral("fxframe")));
    if (!lv || !fd)
        return fail("a display type is missing from the catalogue");
    line.deliverTo(lv.get());
    lv->setData(lineWords.constData(), lineWords.size(), 0);
    scan.deliverTo(fd.get());
    fd->setData(scanWords.constData(), scanWords.size(), 0);
    for (auto [plugin, base] : {std::pair{lv.get(), "display-line"}, std::pair{fd.get(), "display-frame"}}) {
        auto* provider = dynamic_cast<SnapshotProvider*>(plugin);
        QString message;
        if (!provider || !provider->saveSnapshot(dir.filePath(QString::fromLatin1(base)), SnapshotMgr::typeCsvDisplayed,
                                                 nullptr, &message)) {
            std::fprintf(stderr, "make_pyfixtures: %s\n", qPrintable(message));
            return false;
        }
    }

    // Recordings of the disc writer in its binary format: the scan as records, and time tags (encoding 5) as raw
    // 10-byte tags.
    DiscWriterPlugin::setMessageBoxes(false);
    auto record = [&](const QString& file, const StreamFormat& f, const QVector<int>& words, int blockSize) {
        // As in a page: the stream's description is known before the user starts recording.
        DiscWriterPlugin writer(nullptr, QStringLiteral("fxrec"));
        writer.init();
        f.deliverTo(&writer);
        writer.setFormat(DiscWriterPlugin::Binary);
        writer.openOutFile(dir.filePath(file));
        writer.startWrite(true);
        if (!writer.isWriting())
            return false;
        for (int at = 0; at < words.size(); at += blockSize)
            writer.setData(words.constData() + at, qMin(blockSize, int(words.size()) - at), at);
        writer.startWrite(false);
        return QFileInfo(dir.filePath(file)).size() > 0;
    };
    if (!record(QStringLiteral("scan.rec"), scan, scanWords, 5))
        return fail("the scan recording was not written");
    StreamFormat tags;
    tags.set(StreamFormat::Order, GPlugin::linear);
    tags.set(StreamFormat::Encoding, 5);
    // Events before the first high word, a high word, events of channels 1 and 8, and a roll-over.
    const QVector<int> tagWords{0x00000010, 0x10000003, 0x00000100, int(0xE0000200u), 0x0FFFFFF0,
                                0x00000005, 0x20000007, 0x10000009, 0x00000001};
    if (!record(QStringLiteral("tags.bin"), tags, tagWords, 4))
        return fail("the time-tag recording was not written");
    manifest.insert(QStringLiteral("tags"), describe(tags, tagWords));

    // A snapshot set with its recipe, stored the way the viewer stores it: a page's frame display through its
    // snapshot manager.
    {
        const bool background = false;
        SnapshotMgr::setBackgroundSwitch(&background);
        const QMap<int, DataGroup> groups;
        ViewPage page(nullptr, QStringLiteral("FixturePage"), groups, false);
        GPlugin* frame = page.addPlugin(QStringLiteral("Frame Display"), QStringLiteral("fxrecipe"),
                                        {QStringLiteral("displaytoolbar")}, {QStringLiteral("0")});
        SnapshotMgr* mgr = frame ? frame->getSnapshotManager() : nullptr;
        if (!mgr)
            return fail("the frame display of the recipe set was not made");
        scan.deliverTo(frame);
        frame->setData(scanWords.constData(), scanWords.size(), 0);
        SnapshotMgr::ActionDescriptor d;
        d.trigger = SnapshotMgr::trgImmediate;
        d.directory = dir.path();
        d.fullName = QStringLiteral("fxrecipe");
        d.tag = QStringLiteral("fx");
        d.sequence = 1;
        d.types = SnapshotMgr::typeCsvDisplayed;
        d.requester = page.getRequester();
        const bool stored = mgr->makeSnapshot(d);
        SnapshotMgr::setBackgroundSwitch(nullptr);
        if (!stored)
            return fail("the recipe set was not stored");
        QJsonArray files;
        for (const QString& f : dir.entryList({QStringLiteral("fx_001-fxrecipe*")}, QDir::Files, QDir::Name))
            files.append(f);
        manifest.insert(QStringLiteral("recipe"),
                        QJsonObject{{QStringLiteral("file"), QStringLiteral("fx_001-fxrecipe.json")},
                                    {QStringLiteral("set"), files}});
    }

    QFile out(dir.filePath("manifest.json"));
    if (!out.open(QIODevice::WriteOnly) || out.write(QJsonDocument(manifest).toJson()) < 0 || !out.flush())
        return fail("manifest.json was not written");
    return true;
}

} // namespace

int main(int argc, char** argv)
{
    qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_pyfixtures FOLDER\n");
        return 2;
    }
    QDir dir(QString::fromLocal8Bit(argv[1]));
    if (!dir.mkpath(QStringLiteral(".")))
        return 1;
    for (const QString& f : dir.entryList(QDir::Files))
        dir.remove(f);
    return run(dir) ? 0 : 1;
}
