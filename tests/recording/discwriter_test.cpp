// The disc writer as a chain element: recording formats, per-frame files, replay of binary recordings and what
// happens to damaged files and failed writes.
#include "recording/discwriterplugin.h"
#include "recording/filenumbering.h"
#include "recording/recordfile.h"
#include "support/recordingplugin.h"

#include <QAction>
#include <QBuffer>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFrame>
#include <QMenu>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QtEndian>
#include <gtest/gtest.h>

#include <csignal>
#include <memory>
#include <sys/resource.h>

namespace {

struct Chain
{
    Chain()
    {
        DiscWriterPlugin::setMessageBoxes(false);
        writer = std::make_unique<DiscWriterPlugin>(nullptr, QStringLiteral("rec writer"));
        sink = new RecordingPlugin;
        writer->setSuccessor(sink);
        QObject::connect(writer.get(), &GPlugin::statusChanged, [this](QString text, int, int severity) {
            messages << QStringLiteral("%1:%2").arg(severity).arg(text);
        });
    }
    /// Replays `file` to the end (or the first error).
    bool replay(const QString& file)
    {
        writer->openInFile(file);
        writer->startRead(true);
        return QTest::qWaitFor([this] { return !writer->isReplaying(); }, 10000);
    }
    bool record(const QString& file, DiscWriterPlugin::Format format)
    {
        writer->setFormat(format);
        writer->openOutFile(file);
        writer->startWrite(true);
        return writer->isWriting();
    }
    QString errors() const { return messages.filter(QRegularExpression(QStringLiteral("^2:"))).join(QLatin1Char('|')); }

    std::unique_ptr<DiscWriterPlugin> writer;
    RecordingPlugin* sink;
    QStringList messages;
};

// A stream with every recordable property, init and data blocks; no value repeats.
void feedStream(GPlugin* p)
{
    p->init();
    p->setDataOrder(GPlugin::forBack);
    p->setDataEncoding(GPlugin::Int32Enc);
    p->setDataBinning(3);
    p->setDataRangeX(4);
    p->setDataRangeY(2);
    p->setDataRangeZ(7);
    p->setDataOffsetX(-5);
    p->setDataOffsetY(6);
    p->setDataOffsetZ(8);
    p->setDataOffsetVal(9);
    p->setDataPhysX(1000);
    p->setDataPhysY(2000);
    p->setDataPhysZ(3000);
    p->setDataPhysVal(11);
    p->setDataTrigger(GPlugin::scanner);
    p->setDataRotation(12);
    p->setDataUnitX(0x17E);
    p->setDataUnitZ(0x180);
    p->setDataUnitVal(0x280);
    const int a[] = {1, -2, 3, 0x7fffffff, -0x7fffffff - 1};
    p->setData(a, 5, 0);
    p->setData(a + 1, 3, 5);
    p->init();
    p->setDataRangeX(8);
    const int b[] = {10, 20, 30, 40, 50, 60, 70, 80};
    p->setData(b, 8, 0);
    p->setData(b, 2, 8);
}

QByteArray readAll(const QString& path)
{
    QFile f(path);
    return f.open(QIODevice::ReadOnly) ? f.readAll() : QByteArray();
}

QByteArray le(std::initializer_list<qint32> words)
{
    QByteArray b;
    for (qint32 w : words) {
        char c[4];
        qToLittleEndian(w, c);
        b.append(c, 4);
    }
    return b;
}

void writeFile(const QString& path, const QByteArray& bytes)
{
    QFile f(path);
    ASSERT_TRUE(f.open(QIODevice::WriteOnly));
    f.write(bytes);
}

} // namespace

TEST(IncreaseFileNumber, FollowsTheNumberingRule)
{
    const struct
    {
        const char* in;
        const char* out;
    } cases[] = {
        {"/d/run.txt", "/d/run_0.txt"},
        {"/d/run_0.txt", "/d/run_1.txt"},
        {"/d/run_9.txt", "/d/run_10.txt"},
        {"/d/a_b.txt", "/d/a_b_0.txt"},
        {"/d/a.b.txt", "/d/a_0.txt"},
        {"/d/noext", "/d/noext_0"},
        {"/d/2024.log", "/d/2024_2025.log"}, // a base name that is a number counts as the number
        {"/d/x_.txt", "/d/x__0.txt"},
        {"/d/x_-3.txt", "/d/x_-3_0.txt"},
        {"/d/x_99999999999999999999.txt", "/d/x_99999999999999999999_0.txt"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.in);
        EXPECT_EQ(increaseFileNumber(QFileInfo(QLatin1String(c.in))), QLatin1String(c.out));
    }
}

TEST(DiscWriter_Replay, BinaryRecordingReplaysTheSameCallsInOrder)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("stream.dat"));
    Chain live;
    ASSERT_TRUE(live.record(file, DiscWriterPlugin::Binary));
    feedStream(live.writer.get());
    live.writer->startWrite(false);
    ASSERT_TRUE(QFileInfo::exists(file));

    Chain replayed;
    ASSERT_TRUE(replayed.replay(file));
    EXPECT_EQ(replayed.errors(), QString());
    EXPECT_EQ(replayed.sink->calls, live.sink->calls);
    EXPECT_EQ(replayed.writer->wordsRead(), 18);
    EXPECT_TRUE(replayed.writer->recordedDateTime().isValid());
}

TEST(DiscWriter_Replay, UnchangedPropertiesAreNotRecordedAgain)
{
    QTemporaryDir dir;
    const QString once = dir.filePath(QStringLiteral("once.dat")), twice = dir.filePath(QStringLiteral("twice.dat"));
    for (const QString& file : {once, twice}) {
        Chain c;
        ASSERT_TRUE(c.record(file, DiscWriterPlugin::Binary));
        const int w[] = {1};
        for (int i = 0; i < (file == once ? 1 : 5); ++i) {
            c.writer->setDataRangeX(512);
            c.writer->setDataUnitVal(0x280);
            c.writer->setData(w, 1, i);
        }
        c.writer->startWrite(false);
    }
    // The second file holds four more index and data records (4 x 20 bytes) and no more property records.
    EXPECT_EQ(QFileInfo(twice).size() - QFileInfo(once).size(), 4 * 20);
}

TEST(DiscWriter_Replay, PassesOverTimeStampsAndForwardsZRecordsOnlyDuringReplay)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("z.dat"));
    // No leading time stamp (null recorded date), a time stamp in the middle (two recordings joined), z records.
    writeFile(file, le({22, 5, 19, 6, 1, 0, 0, 2, 7, 8}) + le({18, 6, 2024, 1, 2, 3, 4, 5}) +
                        le({20, 9, 21, 0x180, 1, 2, 0, 1, 42}));
    Chain c;
    c.writer->setDataRangeX(100); // live, before the replay
    c.sink->clear();
    ASSERT_TRUE(c.replay(file));
    EXPECT_EQ(c.errors(), QString());
    EXPECT_FALSE(c.writer->recordedDateTime().isValid());
    EXPECT_EQ(c.sink->calls, (QStringList{QStringLiteral("setDataRangeZ 5"), QStringLiteral("setDataPhysZ 6"),
                                          QStringLiteral("setData 2 @0: 7 8"), QStringLiteral("setDataOffsetZ 9"),
                                          QStringLiteral("setDataUnitZ 384"), QStringLiteral("setData 1 @2: 42")}));
    // The next live call brings back the live values, not the replayed z values.
    c.sink->clear();
    c.writer->setDataRangeY(3);
    EXPECT_EQ(c.sink->calls, (QStringList{QStringLiteral("setDataRangeX 100"), QStringLiteral("setDataRangeY 3")}));
}

TEST(DiscWriter_Replay, DamagedFilesStopWithTheirMessage)
{
    QTemporaryDir dir;
    const struct
    {
        const char* name;
        QByteArray bytes;
        const char* message; // empty: a clean end
        int wordsBefore;
    } cases[] = {
        {"unknown type", le({0, 1, 5, 23, 1, 0, 1, 6}), "(Unknown record type)", 1},
        {"negative type", le({0, 1, 5, -1, 1}), "(Negative record type)", 1},
        {"count above the buffer", le({0, 1, 5, 0, 4097}), "Read buffer too small", 1},
        {"negative count", le({0, 1, 5, 0, -4}), "(Negative record length)", 1},
        {"huge count", le({0, 0x7fffffff}), "Read buffer too small", 0},
        {"buffer-sized record", le({0, 4096}) + QByteArray(4096 * 4, '\0'), "", 4096},
        {"empty file", QByteArray(), "", 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const QString file = dir.filePath(QStringLiteral("damaged.dat"));
        writeFile(file, c.bytes);
        Chain chain;
        ASSERT_TRUE(chain.replay(file));
        EXPECT_EQ(chain.sink->words.size(), c.wordsBefore);
        if (*c.message)
            EXPECT_TRUE(chain.errors().contains(QLatin1String(c.message))) << qPrintable(chain.errors());
        else
            EXPECT_EQ(chain.errors(), QString());
        EXPECT_FALSE(chain.writer->isReplaying());
    }
}

TEST(DiscWriter_Replay, CutAtEveryByteOfTheLastRecordReplaysWhatComesBefore)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("whole.dat"));
    Chain live;
    ASSERT_TRUE(live.record(file, DiscWriterPlugin::Binary));
    live.writer->setDataRangeX(16);
    const int a[] = {1, 2, 3}, b[] = {4, 5, 6, 7, 8};
    live.writer->setData(a, 3, 0);
    live.writer->setData(b, 5, 3);
    live.writer->startWrite(false);
    const QByteArray whole = readAll(file);
    const int lastStart = whole.size() - (8 + 5 * 4); // the last data record; its index record comes before it
    for (int cut = lastStart; cut < whole.size(); ++cut) {
        SCOPED_TRACE(cut);
        const QString part = dir.filePath(QStringLiteral("cut.dat"));
        writeFile(part, whole.left(cut));
        Chain c;
        ASSERT_TRUE(c.replay(part));
        EXPECT_EQ(c.sink->words, QVector<int>({1, 2, 3}));
        EXPECT_EQ(c.sink->lastValue(QStringLiteral("setDataRangeX")), 16);
        if (cut == lastStart)
            EXPECT_EQ(c.errors(), QString()); // ends between two records
        else
            EXPECT_TRUE(c.errors().contains(QStringLiteral("Unexpected end of input file"))) << qPrintable(c.errors());
    }
}

TEST(DiscWriter_Formats, TextFormatsOfASmallStream)
{
    QTemporaryDir dir;
    auto run = [&dir](DiscWriterPlugin::Format format, const QStringList& options) {
        const QString file = dir.filePath(QStringLiteral("out.txt"));
        Chain c;
        for (const QString& o : options)
            c.writer->setOption(o.section(QLatin1Char('='), 0, 0), o.section(QLatin1Char('='), 1));
        EXPECT_TRUE(c.record(file, format));
        c.writer->setDataOrder(GPlugin::cyclic);
        c.writer->setDataRangeX(4);
        c.writer->setDataPhysX(3);
        c.writer->setDataUnitX(0x180);   // m
        c.writer->setDataUnitVal(0x280); // V
        c.writer->setDataPhysVal(2);
        c.writer->setDataOffsetVal(1);
        const int w[] = {1, 3, 5, -1};
        c.writer->setData(w, 3, 0);
        c.writer->startWrite(false);
        return QString::fromLatin1(readAll(file));
    };
    EXPECT_EQ(run(DiscWriterPlugin::Hex, {}), QStringLiteral("1\n3\n5\n"));
    EXPECT_EQ(run(DiscWriterPlugin::Decimal, {}),
              QStringLiteral("0.000000000e+00 V\n1.000000000e+00 V\n2.000000000e+00 V\n"));

    QStringList debug = run(DiscWriterPlugin::Debug, {}).split(QLatin1Char('\n'));
    ASSERT_GT(debug.size(), 7);
    EXPECT_EQ(debug.takeFirst(), QStringLiteral("Timestamp Count=6"));
    debug = debug.mid(6);
    EXPECT_EQ(debug, (QStringList{"Order=2", "RangeX=4", "PhysX=3", "UnitX=180", "UnitVal=280", "Physval=2",
                                  "OffsetV=1", "Index=0", "TimeDiff=0", "Data Count=3", "1", "3", "5", ""}));

    // Two columns with the header: x centred on the offset (odd PhysX 3: x0 = 0 - 3/2 = -1), unit names in the header.
    const QStringList lines =
        run(DiscWriterPlugin::Decimal, {"textheader=1", "twocolumn=1", "floataccuracy=3", "description=Cell 4"})
            .split(QLatin1Char('\n'));
    ASSERT_EQ(lines.size(), 9);
    EXPECT_EQ(lines.at(0), QStringLiteral("# Cell 4"));
    EXPECT_TRUE(QDateTime::fromString(lines.at(1).mid(2), QStringLiteral("yyyy-MM-dd hh:mm:ss.zzz")).isValid());
    EXPECT_EQ(lines.mid(2), (QStringList{"# Unit X: m", "# Unit Y: V", "# X ; Y", "-1.000e+00  ; 0.000e+00 ",
                                         "0.000e+00  ; 1.000e+00 ", "1.000e+00  ; 2.000e+00 ", ""}));

    const QStringList oneColumn = run(DiscWriterPlugin::Decimal, {"textheader=1"}).split(QLatin1Char('\n'));
    ASSERT_GE(oneColumn.size(), 4);
    EXPECT_EQ(oneColumn.at(0), QStringLiteral("# Orvik data log"));
    EXPECT_EQ(oneColumn.at(2), QStringLiteral("# Step X: 1.000000000e+00 m"));
    EXPECT_EQ(oneColumn.at(3), QStringLiteral("# Unit Y: V"));
}

TEST(DiscWriter_Files, PerFrameFilesAreNumbered)
{
    QTemporaryDir dir;
    const QString base = dir.filePath(QStringLiteral("run.txt"));
    Chain c;
    c.writer->setOption(QStringLiteral("fragment"), QStringLiteral("1"));
    c.writer->setDataOrder(GPlugin::cyclic);
    c.writer->setDataRangeX(512);
    EXPECT_EQ(c.writer->frameSize(), 512);
    ASSERT_TRUE(c.record(base, DiscWriterPlugin::Binary));
    QVector<int> block(1024);
    for (int i = 0; i < block.size(); ++i)
        block[i] = i;
    c.writer->setData(block.constData(), 1024, 0);
    c.writer->setData(block.constData(), 100, 0);
    c.writer->startWrite(false);
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files, QDir::Name), (QStringList{"run.txt", "run_0.txt", "run_1.txt"}));
    const struct
    {
        const char* file;
        int first, count;
    } expected[] = {{"run.txt", 0, 512}, {"run_0.txt", 512, 512}, {"run_1.txt", 0, 100}};
    for (const auto& e : expected) {
        SCOPED_TRACE(e.file);
        Chain r;
        ASSERT_TRUE(r.replay(dir.filePath(QLatin1String(e.file))));
        ASSERT_EQ(r.sink->words.size(), e.count);
        EXPECT_EQ(r.sink->words.first(), e.first);
        EXPECT_EQ(r.sink->lastValue(QStringLiteral("setDataRangeX")), 512); // every file starts with the properties
    }
}

TEST(DiscWriter_Files, OutputWithoutDataIsRemovedAndBlockStopsTheStream)
{
    QTemporaryDir dir;
    const QString file = dir.filePath(QStringLiteral("empty.txt"));
    Chain c;
    ASSERT_TRUE(c.record(file, DiscWriterPlugin::Binary));
    c.writer->setDataRangeX(3);
    c.writer->startWrite(false);
    EXPECT_FALSE(QFileInfo::exists(file));

    ASSERT_TRUE(c.record(file, DiscWriterPlugin::Hex));
    c.writer->block(true);
    const int w[] = {7};
    c.writer->setData(w, 1, 0);
    EXPECT_TRUE(c.sink->words.isEmpty());
    c.writer->startWrite(false);
    c.writer->setData(w, 1, 0); // not writing: block no longer applies
    EXPECT_EQ(c.sink->words, QVector<int>({7}));
    EXPECT_EQ(readAll(file), QByteArray("7\n"));
}

TEST(DiscWriter_Files, FailedWritesStopTheRecordingAndKeepWholeRecords)
{
    QTemporaryDir dir;
    {
        Chain c;
        QSignalSpy stopped(c.writer.get(), &DiscWriterPlugin::writingChanged);
        c.record(QStringLiteral("/dev/full"), DiscWriterPlugin::Binary);
        EXPECT_FALSE(c.writer->isWriting());
        EXPECT_TRUE(c.errors().contains(QStringLiteral("Error writing output file /dev/full")))
            << qPrintable(c.errors());
        EXPECT_FALSE(c.writer->outFileButton()->isEnabled() == false && c.writer->isWriting());
    }
    {
        Chain c;
        c.record(dir.filePath(QStringLiteral("no/such/dir/x.txt")), DiscWriterPlugin::Binary);
        EXPECT_FALSE(c.writer->isWriting());
        EXPECT_TRUE(c.errors().contains(QStringLiteral("Error opening output file")));
        EXPECT_FALSE(c.writer->writeButton()->isEnabled());
    }

    // The disk fills in the middle of a recording: a file size limit makes the writes fail.
    const QString file = dir.filePath(QStringLiteral("full.dat"));
    std::signal(SIGXFSZ, SIG_IGN);
    rlimit old{};
    getrlimit(RLIMIT_FSIZE, &old);
    Chain c;
    QSignalSpy stopped(c.writer.get(), &DiscWriterPlugin::writingChanged);
    ASSERT_TRUE(c.record(file, DiscWriterPlugin::Binary));
    rlimit limit = old;
    limit.rlim_cur = 700001; // not on a record boundary
    ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &limit), 0);
    QVector<int> block(1019, 5);
    int blocks = 0;
    while (c.writer->isWriting() && blocks < 1000) {
        c.writer->setData(block.constData(), block.size(), 0);
        ++blocks;
    }
    setrlimit(RLIMIT_FSIZE, &old);
    ASSERT_FALSE(c.writer->isWriting());
    EXPECT_EQ(stopped.count(), 2); // on, then off by the failure
    EXPECT_TRUE(c.errors().contains(QStringLiteral("Error writing output file"))) << qPrintable(c.errors());
    EXPECT_TRUE(c.errors().contains(QDir::toNativeSeparators(file)));
    EXPECT_EQ(c.sink->words.size(), blocks * 1019); // the stream went on downstream

    Chain r;
    ASSERT_TRUE(r.replay(file));
    EXPECT_EQ(r.errors(), QString()); // whole records only
    EXPECT_GT(r.sink->words.size(), 0);
    EXPECT_EQ(r.sink->words.size() % 1019, 0);
    EXPECT_LE(QFileInfo(file).size(), 700001);
}

TEST(DiscWriter_Controls, MenuAndButtonsFollowTheState)
{
    QTemporaryDir dir;
    Chain c;
    QMenu* menu = c.writer->getForeignMenu();
    ASSERT_NE(menu, nullptr);
    const QList<QAction*> actions = menu->actions();
    ASSERT_EQ(actions.size(), 3);
    EXPECT_TRUE(actions.at(0)->isChecked());
    c.writer->openOutFile(dir.filePath(QStringLiteral("m.txt")));
    actions.at(2)->trigger(); // "Per Frame"
    EXPECT_TRUE(c.writer->isWriting());
    EXPECT_TRUE(c.writer->isFragmenting());
    EXPECT_TRUE(actions.at(2)->isChecked());
    EXPECT_FALSE(c.writer->formatBox()->isEnabled());
    EXPECT_FALSE(c.writer->outFileButton()->isEnabled());
    actions.at(1)->trigger(); // "Permanent"
    EXPECT_TRUE(c.writer->isWriting());
    EXPECT_FALSE(c.writer->isFragmenting());
    actions.at(0)->trigger(); // "Off"
    EXPECT_FALSE(c.writer->isWriting());
    EXPECT_TRUE(c.writer->formatBox()->isEnabled());
    EXPECT_TRUE(c.writer->getToolTip(QPoint()).startsWith(QStringLiteral("Writer: -\nReader: -")));

    // A file that is being written cannot be opened for reading.
    const QString file = dir.filePath(QStringLiteral("busy.dat"));
    ASSERT_TRUE(c.record(file, DiscWriterPlugin::Binary));
    c.writer->openInFile(file);
    EXPECT_TRUE(c.errors().contains(QStringLiteral("for reading and writing at the same time")));
    EXPECT_FALSE(c.writer->readButton()->isEnabled());
    c.writer->setOption(QStringLiteral("floataccuracy"), QStringLiteral("x")); // ignored, no throw
}

TEST(RecordReader, NeverReadsPastItsBuffer)
{
    // A record of exactly the buffer size is read; one word more is refused before anything is read into it.
    QByteArray bytes = le({0, RecordReader::bufferWords}) + QByteArray(RecordReader::bufferWords * 4, '\x01') +
                       le({0, RecordReader::bufferWords + 1});
    QBuffer in(&bytes);
    in.open(QIODevice::ReadOnly);
    RecordReader r(&in);
    ASSERT_EQ(r.next(), RecordReader::Ok);
    EXPECT_EQ(r.count(), RecordReader::bufferWords);
    EXPECT_EQ(r.next(), RecordReader::TooLarge);
    EXPECT_EQ(r.recordStart(), 8 + RecordReader::bufferWords * 4);
}

TEST(DiscWriter_Replay, FuzzCorpusReplaysEndCleanly)
{
    // The replay fuzzer's inputs (first byte: its mode) as regression inputs: each ends, with or without a message.
    QTemporaryDir dir;
    const QDir corpus(QStringLiteral(ORVIK_SOURCE_DIR "/fuzz/corpus/replay"));
    const QFileInfoList inputs = corpus.entryInfoList(QDir::Files, QDir::Name);
    EXPECT_FALSE(inputs.isEmpty());
    for (const QFileInfo& input : inputs) {
        SCOPED_TRACE(qPrintable(input.fileName()));
        const QString file = dir.filePath(QStringLiteral("input.dat"));
        writeFile(file, readAll(input.filePath()).mid(1));
        Chain c;
        EXPECT_TRUE(c.replay(file));
    }
}
