// The sync writer: rows of several columns through a temporary file into text, cyclic logs per packet, time tags,
// and conversions that fail.
#include "recording/discwriterplugin.h"
#include "recording/syncwriterplugin.h"
#include "support/recordingplugin.h"

#include <QBuffer>
#include <QDir>
#include <QFile>
#include <QPushButton>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <QtEndian>
#include <gtest/gtest.h>

#include <cstring>
#include <memory>

namespace {

struct SyncChain
{
    SyncChain()
    {
        SyncWriterPlugin::setMessageBoxes(false);
        writer = std::make_unique<SyncWriterPlugin>(nullptr, QStringLiteral("sync"));
        sink = new RecordingPlugin;
        writer->setSuccessor(sink);
        QObject::connect(writer.get(), &GPlugin::statusChanged, [this](QString text, int, int severity) {
            if (severity == 2)
                errors << text;
        });
        writer->setDataUnitX(128);
        writer->setDataUnitVal(128);
    }
    std::unique_ptr<SyncWriterPlugin> writer;
    RecordingPlugin* sink;
    QStringList errors;
};

QStringList dataLines(const QString& path)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text))
        return {QStringLiteral("<cannot open %1>").arg(path)};
    QStringList out;
    for (const QString& l : QString::fromUtf8(f.readAll()).split(QLatin1Char('\n')))
        if (!l.isEmpty() && !l.startsWith(QLatin1Char('#')))
            out << l;
    return out;
}

QStringList leftoverTemporaries()
{
    return QDir(QDir::tempPath()).entryList({QStringLiteral("orvik-syncwriter-*")}, QDir::Files);
}

} // namespace

TEST(SyncWriter_Text, RowsOfThreeColumnsWithHeader)
{
    QTemporaryDir dir;
    const QStringList before = leftoverTemporaries();
    SyncChain c;
    c.writer->setOption(QStringLiteral("columndescr"), QStringLiteral("Height:Current"));
    c.writer->setOption(QStringLiteral("description"), QStringLiteral("Bench @ lab 2"));
    c.writer->setDataEncoding(GPlugin::DataEncoding(0x0701)); // 16-bit stream with three channels
    EXPECT_EQ(c.writer->columnCount(), 3);
    c.writer->setDataOffsetVal(1);
    c.writer->setDataPhysVal(2);
    const QString out = dir.filePath(QStringLiteral("rows.txt"));
    c.writer->setOutputName(out);
    c.writer->onStartWrite(true);
    EXPECT_EQ(c.writer->stateText(), QStringLiteral("Recording"));
    const int w[] = {1, 3, 5, 7, 9, 11, 13}; // two samples; the seventh word is an incomplete sample
    c.writer->setData(w, 7, 0);
    c.writer->onStartWrite(false);
    c.writer->onStartWrite(false); // a second stop without new data converts nothing
    EXPECT_LE(c.writer->runningConversions(), 1);
    ASSERT_TRUE(c.writer->waitForConversions(10000));
    EXPECT_EQ(c.errors, QStringList());
    EXPECT_EQ(c.sink->words.size(), 7); // the stream passes on whole

    QFile f(out);
    ASSERT_TRUE(f.open(QIODevice::ReadOnly));
    const QStringList lines = QString::fromUtf8(f.readAll()).split(QLatin1Char('\n'));
    ASSERT_GE(lines.size(), 7);
    EXPECT_EQ(lines.at(0), QStringLiteral("# Bench (at) lab 2"));
    EXPECT_TRUE(QDateTime::fromString(lines.at(1).mid(2), QStringLiteral("yyyy-MM-dd hh:mm:ss")).isValid());
    EXPECT_EQ(lines.at(4), QStringLiteral("# t ; Height ; Current ; X[3]"));
    EXPECT_EQ(dataLines(out), (QStringList{"  0.0000000E+00 ;   0.0000000E+00 ;   1.0000000E+00 ;   2.0000000E+00",
                                           "  1.0000000E+00 ;   3.0000000E+00 ;   4.0000000E+00 ;   5.0000000E+00"}));
    EXPECT_EQ(leftoverTemporaries(), before);
    EXPECT_EQ(c.writer->stateText(), QStringLiteral("Idle"));
}

TEST(SyncWriter_Text, CountsAreWordsAlsoForFortyEightBitSamples)
{
    QTemporaryDir dir;
    SyncChain c;
    c.writer->setOption(QStringLiteral("decoding"), QStringLiteral("int48fps"));
    c.writer->setOption(QStringLiteral("markers"), QStringLiteral("1"));
    c.writer->setOption(QStringLiteral("floataccuracy"), QStringLiteral("2"));
    c.writer->setOutputName(dir.filePath(QStringLiteral("fps.txt")));
    c.writer->onStartWrite(true);
    quint32 lo, hi;
    StreamFormat::encode48(-5, &lo, &hi);
    // Two samples of one column: four words. The first carries marker bits 24...30 in both words.
    const int w[] = {int(0x03000007), int(0x01000000), int(lo), int(hi)};
    c.writer->setData(w, 4, 0);
    c.writer->setData(w, 4, 4); // the next two samples: x runs on by two steps
    c.writer->onStartWrite(false);
    ASSERT_TRUE(c.writer->waitForConversions(10000));
    EXPECT_EQ(dataLines(dir.filePath(QStringLiteral("fps.txt"))),
              (QStringList{"  0.00E+00 ;   7.00E+00 ;   1.31E+02", "  1.00E+00 ;  -5.00E+00 ;   1.63E+04",
                           "  2.00E+00 ;   7.00E+00 ;   1.31E+02", "  3.00E+00 ;  -5.00E+00 ;   1.63E+04"}));
}

TEST(SyncWriter_Files, CyclicLogWritesOneNumberedFilePerPacket)
{
    QTemporaryDir dir;
    SyncChain c;
    c.writer->setDataOrder(GPlugin::cyclic);
    c.writer->setDataRangeX(100);
    EXPECT_EQ(c.writer->packetSize(), 100);
    c.writer->setOutputName(dir.filePath(QStringLiteral("cyc.txt")));
    c.writer->onAutoWrite(true);
    EXPECT_FALSE(c.writer->singleButton()->isEnabled());
    QVector<int> half(50);
    for (int packet = 0; packet < 4; ++packet) {
        for (int i = 0; i < 50; ++i)
            half[i] = packet * 1000 + i;
        c.writer->setData(half.constData(), 50, 0);
        for (int i = 0; i < 50; ++i)
            half[i] = packet * 1000 + 50 + i;
        c.writer->setData(half.constData(), 50, 50);
    }
    c.writer->onAutoWrite(false);
    ASSERT_TRUE(c.writer->waitForConversions(20000));
    EXPECT_EQ(c.errors, QStringList());
    const QStringList files = QDir(dir.path()).entryList(QDir::Files, QDir::Name);
    EXPECT_EQ(files, (QStringList{"cyc.txt", "cyc_0.txt", "cyc_1.txt", "cyc_2.txt"}));
    for (int k = 0; k < files.size(); ++k) {
        SCOPED_TRACE(qPrintable(files.at(k)));
        const QStringList rows = dataLines(dir.filePath(files.at(k)));
        ASSERT_EQ(rows.size(), 100);
        EXPECT_DOUBLE_EQ(rows.first().section(QLatin1Char(';'), 1).trimmed().toDouble(), k * 1000);
    }
}

TEST(SyncWriter_Files, FailedConversionLeavesNoOutputAndNoTemporaryFile)
{
    QTemporaryDir dir;
    const QStringList before = leftoverTemporaries();
    SyncChain c;
    const QString out = dir.filePath(QStringLiteral("missing/dir/out.txt"));
    c.writer->setOutputName(out);
    c.writer->onStartWrite(true);
    const int w[] = {1, 2, 3};
    c.writer->setData(w, 3, 0);
    c.writer->onStartWrite(false);
    ASSERT_TRUE(c.writer->waitForConversions(10000));
    ASSERT_EQ(c.errors.size(), 1);
    EXPECT_TRUE(c.errors.first().contains(QStringLiteral("Error opening output file"))) << qPrintable(c.errors.first());
    EXPECT_TRUE(c.errors.first().contains(QDir::toNativeSeparators(out)));
    EXPECT_FALSE(QFileInfo::exists(out));
    EXPECT_EQ(leftoverTemporaries(), before);
}

TEST(SyncWriter_Files, QuittingDuringALogConvertsItCompletely)
{
    QTemporaryDir dir;
    const QString out = dir.filePath(QStringLiteral("quit.txt"));
    {
        SyncChain c;
        c.writer->setOutputName(out);
        c.writer->onStartWrite(true);
        QVector<int> block(4096, 3);
        for (int i = 0; i < 50; ++i)
            c.writer->setData(block.constData(), block.size(), i * block.size());
    } // the writer goes while logging
    EXPECT_EQ(dataLines(out).size(), 50 * 4096);
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden).size() == 1); // no stray partial output
}

TEST(SyncWriter_TimeTags, EventsAsTextAndAsBinaryRecords)
{
    QTemporaryDir dir;
    // Encoding 5: a high word sets the base, then two events on channels 1 and 3.
    const int w[] = {int(0x10000001), 0x00000010, int(0x40000020)};
    for (const bool binary : {false, true}) {
        SCOPED_TRACE(binary ? "binary" : "text");
        SyncChain c;
        c.writer->setDataEncoding(GPlugin::DataEncoding(5));
        EXPECT_EQ(c.writer->decoding(), 2);
        const QString out = dir.filePath(binary ? QStringLiteral("tags.bin") : QStringLiteral("tags.txt"));
        c.writer->setOutputName(out);
        c.writer->onStartWrite(true);
        c.writer->setData(w, 3, 0);
        c.writer->onStartWrite(false);
        ASSERT_TRUE(c.writer->waitForConversions(10000));
        EXPECT_EQ(c.errors, QStringList());
        if (!binary) {
            // The channel code is the decoder's channel plus one.
            EXPECT_EQ(dataLines(out), (QStringList{"           268435472 ;                    2",
                                                   "           268435488 ;                    4"}));
            continue;
        }
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
        ASSERT_EQ(b.size(), 20);
        EXPECT_EQ(qFromLittleEndian<qint64>(b.constData()), 0x10000010);
        EXPECT_EQ(qFromLittleEndian<quint16>(b.constData() + 8), 2);
        EXPECT_EQ(qFromLittleEndian<qint64>(b.constData() + 10), 0x10000020);
        EXPECT_EQ(qFromLittleEndian<quint16>(b.constData() + 18), 4);
    }
}

TEST(CopyThread_Convert, MarkersTextAndTailOfTheTemporaryFile)
{
    QByteArray in;
    auto number = [&in](double d) { in.append(reinterpret_cast<const char*>(&d), 8); };
    in.append(CopyThread::textMarker, 8);
    in.append("# head\n@");
    number(1.5);
    in.append(CopyThread::zeroMarker, 8);
    in.append(CopyThread::oneMarker, 8);
    number(-2);
    in.append(CopyThread::textMarker, 8); // ends the begun row
    in.append("# more\n@");
    in.append("\x01\x02\x03", 3); // a cut value at the end is dropped
    QBuffer src(&in);
    src.open(QIODevice::ReadOnly);
    QByteArray out;
    QBuffer dst(&out);
    dst.open(QIODevice::WriteOnly);
    QString error;
    ASSERT_TRUE(CopyThread::convert(src, dst, 3, 1, &error));
    EXPECT_EQ(out.toStdString(), "# head\n  1.5E+00 ; 0 ; 1\n -2.0E+00 ; \n# more\n");
}

TEST(DiscWriter_TimeTags, TimeTagsAsTextAndAsRawRecords)
{
    QTemporaryDir dir;
    const int w[] = {0x00000005, int(0x10000001), 0x00000010, int(0x40000020)}; // the first event has no base yet
    for (const auto format : {DiscWriterPlugin::Hex, DiscWriterPlugin::Binary}) {
        DiscWriterPlugin::setMessageBoxes(false);
        DiscWriterPlugin writer(nullptr, QStringLiteral("tags"));
        const QString out = dir.filePath(QStringLiteral("tags%1").arg(int(format)));
        writer.setDataEncoding(GPlugin::DataEncoding(5));
        writer.setFormat(format);
        writer.openOutFile(out);
        writer.startWrite(true);
        writer.setData(w, 4, 0);
        writer.startWrite(false);
        QFile f(out);
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        const QByteArray b = f.readAll();
        if (format == DiscWriterPlugin::Hex) {
            EXPECT_EQ(b, QByteArray("268435472 , 1\n268435488 , 3\n"));
        } else {
            ASSERT_EQ(b.size(), 20); // no records: just the events
            EXPECT_EQ(qFromLittleEndian<qint64>(b.constData() + 10), 0x10000020);
            EXPECT_EQ(qFromLittleEndian<quint16>(b.constData() + 18), 3);
        }
    }
}
