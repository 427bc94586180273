#pragma once
// HistogramFilter ("Histogram Filter"): histograms time-tagged events of a time-to-digital converter. The stream's
// words (encodings 5, 7, 9 and 10, see utilif/tdc56.h) are decoded into events of a time and a channel; the filter
// bins either the time from a start-channel event to the next stop-channel event (start-stop histogram) or, with
// the start channel "Global", the time between successive events of all channels (channel histogram). In
// "start-stop" mode the time stamps are already relative to a start and are binned as they stand. At every
// integration period (or, with "Live", every 250 ms) the histogram goes to the successor as one cyclic line.
//
// Properties: the encoding, UnitVal and PhysVal (the time unit of the tags) are consumed; every other property
// is forwarded unchanged. At each output the filter sends its own Encoding, UnitX, Order, RangeX, OffsetX, PhysX,
// OffsetVal, PhysVal, PhysValNumerator and UnitVal before the bins. The event words are consumed (the successor
// gets the histogram instead); the data of every other encoding pass through unchanged.

#include "filters/bindivider.h"
#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QFrame>
#include <QMap>
#include <QPointer>
#include <vector>

class QCheckBox;
class QComboBox;
class QGroupBox;
class QLineEdit;
class QTimer;
class UnitEdit;
struct Tdc56State;

class HistogramFilter : public GPlugin
{
    Q_OBJECT
public:
    /// One histogram with its counters. The counters are 64-bit so that long integrations do not wrap; a bin
    /// saturates at 2^32 - 1 and is sent as at most 2^31 - 1.
    struct Histogram
    {
        int binWidth = 1;
        int binStart = 0;
        int binCount = 0;
        qint64 countsBefore = 0;
        qint64 countsAfter = 0;
        qint64 countsInside = 0;
        qint64 startEvents = 0;
        qint64 stopEvents = 0;
        qint64 lastStartTime = 0; // valid when hasStart
        qint64 lastEventTime = 0; // valid when hasEvent
        qint64 firstTime = 0;     // valid when hasFirst
        bool hasStart = false;    // a start not yet used by a stop
        bool hasEvent = false;
        bool hasFirst = false;
        std::vector<quint32> bins;
        // Binning helpers derived from width, start and count.
        BinDivider divider;
        quint64 span = 0; // bin count * width
    };

    HistogramFilter(QWidget* parent, QString name);
    ~HistogramFilter() override;

    QWidget* getWidget() override;
    /// Stores the option (replacing an earlier value under the lower-case key) and, once the panel exists, applies
    /// it. A value the filter cannot take is reported through statusChanged and ignored.
    void setOption(QString key, QString value) override;
    /// Ends the decoder's stream (a new one starts), then goes on like the base.
    void init() override;
    void setDataEncoding(GPlugin::DataEncoding encoding) override;
    void setDataUnitVal(int unit) override;
    void setDataPhysVal(int value) override;
    void setData(const int* data, int count, int offset) override;
    void setDataOdd(const int* data, int count, int offset) override;

    static void initHistogram(Histogram& h);
    static void resizeHistogram(Histogram& h, int width, int start, int count);
    static void clearHistogram(Histogram& h);
    static void deleteHistogram(Histogram& h);

    // State for the host and tests.
    bool isCreated() const { return ready(); }
    const Histogram& startStopHistogram() const { return ssHist; }
    const Histogram& channelHistogram() const { return chHist; }
    int getStartChannel() const { return startChannel; }
    int getStopChannel() const { return stopChannel; }
    bool isStartStop() const { return startStop; }
    int getChannelCount() const { return channelCount; }
    int getEncoding() const { return int(input.encoding()); }
    qint64 statisticsCount() const { return statCount; }
    QComboBox* startList() const { return startCb; }
    QComboBox* stopList() const { return stopCb; }
    QCheckBox* liveButton() const { return liveCb; }
    QCheckBox* diffsButton() const { return diffsCb; }
    UnitEdit* integrationField() const { return integrationEdit; }
    UnitEdit* binStartField() const { return binStartEdit; }
    UnitEdit* binWidthField() const { return binWidthEdit; }
    UnitEdit* binCountField() const { return binCountEdit; }
    QLineEdit* insideField() const { return insideEdit; }
    QLineEdit* beforeField() const { return beforeEdit; }
    QLineEdit* afterField() const { return afterEdit; }
    QGroupBox* statisticsGroup() const { return statGroup; }
    QLineEdit* statisticsField(int i) const { return statEdits[i]; }
    QTimer* integrationTimer() const { return integrationTmr; }

    static const GPlugin::PluginDescriptor _descriptor;
    /// Largest piece of the histogram sent in one setData call.
    static constexpr int _pieceSize = 1019;

public slots:
    void create();
    void refreshTimeout();
    void refreshHistogram();
    void outputHistogram();
    void editsChanged();
    void channelChanged();
    void refreshChanged();
    void updateTick();
    void setTDiff();
    void resetStatistics();
    void updateChCount();

private:
    void processOption(const QString& key, const QString& value);
    void fillChCb(int first, const QMap<int, QString>& names);
    void clearBoth();
    void setUpHistograms();
    bool decodes() const;
    /// The panel exists and still lives: every slot works on its controls.
    bool ready() const { return created && panel; }
    template <class Decode> void histogramEvents(Decode decode);

    StreamFormat input; // Encoding, UnitVal and PhysVal as received
    bool encodingLocked = false;
    int startChannel = 0;
    int stopChannel = 1;
    bool startStop = false;
    int channelCount = 8;
    int channelsAddr = 0;
    // Statistics of the binned values of the histogram that is sent, relative to the window start (the spread
    // does not depend on the shift, and small numbers keep the sum of squares exact longer).
    qint64 statCount = 0;
    double statSum = 0.0;
    double statSumSq = 0.0;
    qint64 statLow = 0; // window start

    Histogram ssHist;
    Histogram chHist;
    Tdc56State* decoder = nullptr;
    QMap<QString, QString> pendingOptions;
    bool created = false;

    QPointer<QFrame> panel; // the page may delete it before the filter
    UnitEdit* integrationEdit = nullptr;
    QComboBox* startCb = nullptr;
    QComboBox* stopCb = nullptr;
    QCheckBox* liveCb = nullptr;
    QCheckBox* diffsCb = nullptr;
    UnitEdit* binStartEdit = nullptr;
    UnitEdit* binWidthEdit = nullptr;
    UnitEdit* binCountEdit = nullptr;
    QLineEdit* insideEdit = nullptr;
    QLineEdit* beforeEdit = nullptr;
    QLineEdit* afterEdit = nullptr;
    QGroupBox* statGroup = nullptr;
    QLineEdit* statEdits[4] = {};
    QTimer* tickTmr = nullptr;
    QTimer* integrationTmr = nullptr;
    QTimer* chCountTmr = nullptr;
};

GPlugin* histoFilterFactory(QWidget* parent, QString name);
