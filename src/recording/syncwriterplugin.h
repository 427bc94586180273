#pragma once
// SyncWriterPlugin ("Sync Writer"): records a stream that carries several synchronous columns per sample (one word
// per column, sample after sample) as rows of physical values. While logging it appends 64-bit floating-point rows
// to a temporary file; when logging stops, a CopyThread converts that file in the background into the output file
// (text with one line per row, or binary time tags), and the next output name follows the disc writer's numbering.
// The stream passes on unchanged.
//
// Counts and indices of setData are words, as everywhere in the chain; the writer turns them into samples once
// (columns words per sample, twice that for 48-bit samples). An output file appears under its final name only when
// its conversion is complete; a failed conversion leaves no output and removes its temporary file. Quitting waits
// for running conversions, so no recording is lost.

#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "utilif/ithread.h"

#include <QFrame>
#include <QList>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QVector>
#include <atomic>
#include <memory>

class QFile;
class QIODevice;

class QLabel;
class QMessageBox;
class QPushButton;
class QTimer;
class TimeTagDecoder;

/// Converts a sync writer's temporary file into its output file on a thread of its own. It owns the temporary file
/// from the start: on success and on failure alike the temporary file is removed at the end.
class CopyThread : public IThread
{
    Q_OBJECT
public:
    /// `precision`: digits of the text numbers; -1 prints each 64-bit word as an integer; below -1 copies time-tag
    /// events into 10-byte binary records.
    CopyThread(QString tempName, QString outputName, int columns, int precision);
    ~CopyThread() override;

    bool finishedFlag() const { return done.load(); }
    /// Empty on success; read it once finishedFlag() is true.
    QString message() const { return error; }
    QString outputName() const { return outName; }

    /// The conversion itself, from any device to any device (tests and benchmarks call it directly).
    static bool convert(QIODevice& in, QIODevice& out, int columns, int precision, QString* error);

    /// The 8-byte markers of the temporary file, in file order.
    static const char textMarker[8];
    static const char zeroMarker[8];
    static const char oneMarker[8];

protected:
    void run() override;

private:
    QString tempName;
    QString outName;
    int columns;
    int precision;
    QString error;
    std::atomic<bool> done{false};
};

class SyncWriterPlugin : public GPlugin
{
    Q_OBJECT
public:
    SyncWriterPlugin(QWidget* parent, QString name);
    ~SyncWriterPlugin() override;

    QWidget* getWidget() override;
    int getStretch() override { return 0; }
    void setOption(QString key, QString value) override;

    void setData(const int* data, int count, int index) override;
    void setDataOdd(const int* data, int count, int index) override;
    void setDataOrder(GPlugin::DataOrder order) override;
    void setDataEncoding(GPlugin::DataEncoding encoding) override;
    void setDataRangeX(int value) override;
    void setDataOffsetX(int value) override;
    void setDataOffsetVal(int value) override;
    void setDataPhysX(int value) override;
    void setDataPhysVal(int value) override;
    void setDataUnitX(int unit) override;
    void setDataUnitVal(int unit) override;

    // State, for the host and the tests.
    bool isLogging() const { return logging; }
    bool isCyclic() const { return cyclic; }
    int decoding() const { return decodingMode; }
    int columnCount() const { return columns; }
    int packetSize() const { return packetSz; }
    QString outputName() const { return outName; }
    /// Chooses the output file as the file dialog does: the next stop writes to exactly this name.
    void setOutputName(const QString& name);
    /// Conversions still running.
    int runningConversions() const { return copyThreads.size(); }
    /// Waits up to `ms` for the running conversions and collects them (their errors are reported).
    bool waitForConversions(int ms);
    QString stateText() const;
    /// When false, errors are reported through statusChanged only (no message box); for scripted runs.
    static void setMessageBoxes(bool on);

    QPushButton* singleButton() const { return singleBtn; }
    QPushButton* cyclicButton() const { return cyclicBtn; }
    QPushButton* outFileButton() const { return outFileBtn; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void selectOutFile();
    void onStartWrite(bool start);
    void onAutoWrite(bool start);
    void updateStateDisplay();
    void updateCondition(int value) override;

private:
    void startLog(bool on);
    void writeHeader();
    void writeBlock(const int* data, int samples, int sampleIndex);
    void writeRows(const int* data, int samples, int sampleIndex);
    void observe56Tdc(const int* data, int count);
    bool tempWrite(const char* bytes, qint64 length);
    void writePacketNow();
    int wordsPerSample() const;
    bool isTimeTags() const { return decodingMode >= 2 && decodingMode <= 5; }
    QString nextOutputName() const;
    void showError(const QString& text);

    StreamFormat props;
    QString description = QStringLiteral("Orvik data log");
    QStringList columnDescriptions;
    QStringList snapshotLines;
    int decodingMode = 0;
    bool cyclic = false;
    bool synthIndex = false;
    bool allowBinary = false;
    bool logging = false;
    bool headerWritten = false;
    double xBase = -1.0;
    qint64 lastIndex = 0;
    int columns = 1;
    int channelMask = 0xffff;
    int floatAccuracy = 7;
    int packetSz = -1;
    QVector<int> packet;
    int packetFill = 0;
    double firstColumnFactor = 1.0;
    bool markers = false;
    QString outName;
    bool nameChosen = false;
    QString tempName;
    std::unique_ptr<QFile> tempFile;
    std::unique_ptr<TimeTagDecoder> decoder;
    QList<CopyThread*> copyThreads;

    QPointer<QFrame> panelFrame;
    QLabel* captionLabel = nullptr;
    QLabel* stateLabel = nullptr;
    QPushButton* outFileBtn = nullptr;
    QPushButton* singleBtn = nullptr;
    QPushButton* cyclicBtn = nullptr;
    QTimer* stateTimer = nullptr;
    QPointer<QMessageBox> errorBox;
    static bool _messageBoxes;
};

GPlugin* syncWriterFactory(QWidget* parent, QString name);
