#pragma once
// DiscWriterPlugin ("Disc Writer"): records the stream that passes through it (data blocks and every data property)
// to a file in one of four formats, and replays a binary recording into the downstream chain in place of the live
// stream. It can split a recording into one file per frame.
//
// The stream passes on unchanged unless "block" is set while writing. While replaying, the live stream from upstream
// is held back (its properties are kept and sent again when the replay ends).
//
// A write that fails stops the recording with a message; the file keeps every whole record written before. A replay
// file that is cut off or corrupt stops the replay with a message; nothing is read beyond a buffer of 4096 words.

#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QDateTime>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QFrame>
#include <QPointer>
#include <QString>
#include <memory>

class QAction;
class QActionGroup;
class QComboBox;
class QFile;

class QMenu;
class QMessageBox;
class QPushButton;
class QTimer;
class RecordReader;
class RecordSink;
class TimeTagDecoder;

class DiscWriterPlugin : public GPlugin
{
    Q_OBJECT
public:
    /// The output formats, in the order of the format box.
    enum Format { Decimal = 0, Hex = 1, Binary = 2, Debug = 3 };

    DiscWriterPlugin(QWidget* parent, QString name);
    ~DiscWriterPlugin() override;

    QWidget* getWidget() override;
    int getStretch() override { return 0; }
    QString getToolTip(const QPoint& pos) const override;
    void setOption(QString key, QString value) override;

    void init() override;
    void setDataOrder(GPlugin::DataOrder v) override { fromUpstream(StreamFormat::Order, int(v)); }
    void setDataEncoding(GPlugin::DataEncoding v) override { fromUpstream(StreamFormat::Encoding, int(v)); }
    void setDataBinning(int v) override { fromUpstream(StreamFormat::Binning, v); }
    void setDataRangeX(int v) override { fromUpstream(StreamFormat::RangeX, v); }
    void setDataRangeY(int v) override { fromUpstream(StreamFormat::RangeY, v); }
    void setDataRangeZ(int v) override { fromUpstream(StreamFormat::RangeZ, v); }
    void setDataOffsetX(int v) override { fromUpstream(StreamFormat::OffsetX, v); }
    void setDataOffsetY(int v) override { fromUpstream(StreamFormat::OffsetY, v); }
    void setDataOffsetZ(int v) override { fromUpstream(StreamFormat::OffsetZ, v); }
    void setDataOffsetVal(int v) override { fromUpstream(StreamFormat::OffsetVal, v); }
    void setDataPhysX(int v) override { fromUpstream(StreamFormat::PhysX, v); }
    void setDataPhysY(int v) override { fromUpstream(StreamFormat::PhysY, v); }
    void setDataPhysZ(int v) override { fromUpstream(StreamFormat::PhysZ, v); }
    void setDataPhysVal(int v) override { fromUpstream(StreamFormat::PhysVal, v); }
    void setDataTrigger(GPlugin::DataTrigger v) override { fromUpstream(StreamFormat::Trigger, int(v)); }
    void setDataRotation(int v) override { fromUpstream(StreamFormat::Rotation, v); }
    void setDataUnitX(int v) override { fromUpstream(StreamFormat::UnitX, v); }
    void setDataUnitZ(int v) override { fromUpstream(StreamFormat::UnitZ, v); }
    void setDataUnitVal(int v) override { fromUpstream(StreamFormat::UnitVal, v); }
    void setData(const int* data, int count, int index) override;

    // State, for the host and the tests.
    bool isWriting() const { return writing; }
    bool isReplaying() const { return replaying; }
    bool isFragmenting() const { return fragmenting; }
    bool isBlocking() const { return blocked; }
    int frameSize() const { return frameSz; }
    QString outFileName() const { return outName; }
    QString inFileName() const { return inName; }
    qint64 wordsWritten() const { return written; }
    qint64 wordsRead() const { return readCount; }
    /// Date and time of the start of the recording being replayed (null when its file has no time stamp).
    QDateTime recordedDateTime() const { return recorded; }
    Format format() const;
    void setFormat(Format f);
    /// The upstream table (the last value of each property from the predecessor).
    const StreamFormat& upstreamTable() const { return upstream; }
    /// When false, errors are reported through statusChanged only (no message box); for scripted runs.
    static void setMessageBoxes(bool on);

    QPushButton* readButton() const { return readBtn; }
    QPushButton* writeButton() const { return writeBtn; }
    QPushButton* inFileButton() const { return inFileBtn; }
    QPushButton* outFileButton() const { return outFileBtn; }
    QPushButton* fragmentButton() const { return fragmentBtn; }
    QPushButton* blockButton() const { return blockBtn; }
    QComboBox* formatBox() const { return formatCombo; }
    QFrame* panel() const { return panelFrame; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void selectInFile();
    void selectOutFile();
    void openInFile(QString name);
    void openInFile() { openInFile(inName); }
    void openOutFile(QString name);
    void openOutFile() { openOutFile(outName); }
    void closeOutFile();
    void startRead(bool on);
    void startWrite(bool on);
    void doRead();
    void block(bool on);
    void fragment(bool on);
    void teleMenuAction();
    QMenu* getForeignMenu() const override { return menu; }
    void checkForPartner(QString name, GPlugin* ptr) override;

signals:
    /// The replay started (true) or stopped (false: end of file, an error or the user).
    void readingChanged(bool on);
    /// Writing started or stopped (a failed write stops it too).
    void writingChanged(bool on);

private:
    // The internal setters used by the replay and the refresh: output table, record, forwarding.
    void setDataOrderInt(int v) { propertyInt(StreamFormat::Order, v); }
    void setDataEncodingInt(int v) { propertyInt(StreamFormat::Encoding, v); }
    void setDataRangeXInt(int v) { propertyInt(StreamFormat::RangeX, v); }
    void setDataRangeYInt(int v) { propertyInt(StreamFormat::RangeY, v); }
    void initInt();
    void propertyInt(StreamFormat::Property p, int value);
    void fromUpstream(StreamFormat::Property p, int value);
    void refresh();
    /// Step 2 and 3 of a data block: record it (split per frame) and pass it on.
    void writeData(const int* data, int count, int index);
    void computeFrameSize();
    const StreamFormat& active() const { return replaying ? output : upstream; }
    bool timeTags() const;

    // Writing records to the output file; each returns false after a failure has stopped the recording.
    bool writeFileStart();
    bool writeProperty(int type, int value);
    bool writeDataRecord(const int* data, int count, int index);
    bool writeTextHeader();
    bool sinkWrite(const QByteArray& bytes);
    void writeFailed();
    QByteArray decodeTimeTags(const int* data, int count, bool binary);
    QString getNextFrameFilename() const;
    void closeOutput();
    void stopRead(const QString& error);
    void updateControls();
    void showError(const QString& text);
    /// The file conflict question; true when the caller may go on with `file`.
    bool resolveConflict(const QString& file, bool forWriting);

    // Tables of the properties, by StreamFormat property; Init is kept beside them.
    StreamFormat upstream;
    StreamFormat output;
    bool upstreamInit = false;

    // Output.
    std::unique_ptr<RecordSink> sink;
    QString outName;
    qint64 written = 0;
    int outFormat = Decimal;
    bool hexIntegers = false;
    bool writing = false;
    bool fragmenting = false;
    bool blocked = false;
    bool twoColumn = false;
    bool textHeader = false;
    bool headerWritten = false;
    bool refreshPending = false;
    int frameSz = -1;
    int floatAccuracy = 9;
    QString description;
    int forcedEncoding = -1; // -1: the stream's encoding; 0 or 5 forced by the option "decoding"
    std::unique_ptr<TimeTagDecoder> tdc;
    QElapsedTimer lastData;
    bool hasLastData = false;

    // Input.
    std::unique_ptr<QFile> inFile;
    std::unique_ptr<RecordReader> reader;
    QString inName;
    QString inFileNamePart;
    qint64 readCount = 0;
    QDateTime recorded;
    qint64 replayIndex = 0;
    bool replaying = false;
    QTimer* replayTimer = nullptr;

    // Controls.
    QPointer<QFrame> panelFrame;
    QPushButton* readBtn = nullptr;
    QPushButton* inFileBtn = nullptr;
    QPushButton* writeBtn = nullptr;
    QPushButton* outFileBtn = nullptr;
    QPushButton* fragmentBtn = nullptr;
    QPushButton* blockBtn = nullptr;
    QComboBox* formatCombo = nullptr;
    QMenu* menu = nullptr;
    QAction* offAction = nullptr;
    QAction* permanentAction = nullptr;
    QAction* perFrameAction = nullptr;
    QPointer<QMessageBox> errorBox;
    static bool _messageBoxes;
};

GPlugin* discWriterFactory(QWidget* parent, QString name);
