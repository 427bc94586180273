#pragma once
// GenericHistFilter ("Generic Histogram Filter"): counts how often the incoming values fall into each of a row of
// equal bins and sends the histogram to its successor as one cyclic line: at the end of every exposure period
// ("Sync") or every 250 ms. Values are 32-bit words (encoding 0) or signed 48-bit values in two words (encoding 6).
//
// Properties: Order, RangeX, OffsetX, PhysX and UnitX are consumed (the filter sets them for its successor
// itself). UnitVal, PhysVal and OffsetVal (the physical value of the input, which becomes the histogram's x axis)
// are rewritten: each sends the filter's own output properties (value unit 128, PhysVal 1, OffsetVal 0). The
// encoding goes on as 0 while the filter bins the stream (0 and 6: the successor gets counts), and as received
// otherwise, with the data passing through unchanged. Every other property is forwarded unchanged.

#include "filters/bindivider.h"
#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QFrame>
#include <QPointer>
#include <vector>

class QCheckBox;
class QLineEdit;
class QTimer;
class UnitEdit;

class GenericHistFilter : public GPlugin
{
    Q_OBJECT
public:
    /// Counters are 64-bit so that long exposures do not wrap; a bin saturates at 2^32 - 1 and is sent as at most
    /// 2^31 - 1.
    struct Histogram
    {
        int binWidth = 1;
        int binStart = 0; // in bins
        int binCount = 0;
        qint64 tooSmall = 0;
        qint64 tooBig = 0;
        qint64 hits = 0;
        std::vector<quint32> bins;
        BinDivider divider;
    };

    GenericHistFilter(QWidget* parent, QString name);
    ~GenericHistFilter() override;

    QWidget* getWidget() override;
    /// "decoding", "binstart", "binwidth", "bincount", "exposure". Values that do not parse are reported and ignored.
    void setOption(QString key, QString value) override;
    void setDataEncoding(GPlugin::DataEncoding encoding) override;
    void setDataUnitVal(int unit) override;
    void setDataPhysVal(int value) override;
    void setDataOffsetVal(int value) override;
    void setDataOrder(GPlugin::DataOrder) override {}
    void setDataRangeX(int) override {}
    void setDataOffsetX(int) override {}
    void setDataPhysX(int) override {}
    void setDataUnitX(int) override {}
    void setData(const int* data, int count, int offset) override;

    static void initHistogram(Histogram& h);
    static void resizeHistogram(Histogram& h, int width, int start, int count);
    static void clearHistogram(Histogram& h);
    static void deleteHistogram(Histogram& h);

    const Histogram& histogram() const { return hist; }
    int getEncoding() const { return int(input.encoding()); }
    UnitEdit* binStartField() const { return binStartEdit; }
    UnitEdit* binWidthField() const { return binWidthEdit; }
    UnitEdit* binCountField() const { return binCountEdit; }
    UnitEdit* exposureField() const { return exposureEdit; }
    QCheckBox* syncBox() const { return syncCb; }
    QLineEdit* hitsField() const { return hitsEdit; }
    QLineEdit* tooSmallField() const { return smallEdit; }
    QLineEdit* tooBigField() const { return bigEdit; }
    QTimer* refreshTimer() const { return refreshTmr; }

    static const GPlugin::PluginDescriptor _descriptor;
    static constexpr int _pieceSize = 1019;

public slots:
    void refreshTimeout();
    void refreshHistogram();
    void outputHistogram();
    void editsChanged();
    void refreshChanged();
    void updateTick();
    void outputMeta();

private:
    bool bins() const; // the current encoding is binned
    bool sync() const;
    void binValue(qint64 v);

    StreamFormat input; // Encoding, UnitVal, PhysVal, OffsetVal as received
    bool encodingLocked = false;
    bool metaPending = true; // the successor has not had the output properties yet
    Histogram hist;
    // Encoding 6: the low word of a value whose high word is in the next block, and the position it expects.
    bool hasLow = false;
    quint32 pendingLow = 0;
    int pendingIndex = 0;

    QPointer<QFrame> panel;
    UnitEdit* binStartEdit = nullptr;
    UnitEdit* binWidthEdit = nullptr;
    UnitEdit* binCountEdit = nullptr;
    UnitEdit* exposureEdit = nullptr;
    QCheckBox* syncCb = nullptr;
    QLineEdit* hitsEdit = nullptr;
    QLineEdit* smallEdit = nullptr;
    QLineEdit* bigEdit = nullptr;
    QTimer* tickTmr = nullptr;
    QTimer* refreshTmr = nullptr;
    // Field values, kept so that the filter goes on when the page has deleted the panel.
    int binStartValue = 0;
    int binWidthValue = 125;
    int binCountValue = 1000;
    int exposureValue = 1000;
    bool syncValue = true;
};

GPlugin* genHistFilterFactory(QWidget* parent, QString name);
