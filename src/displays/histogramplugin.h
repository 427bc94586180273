#pragma once
// HistogramPlugin ("3D Histogram Display"): shows 2D projections of 3D histograms h(x, y, t), h as grey levels. It
// takes either hits (encoding coord3d: each word packs the signed coordinates x, y and t, with field widths from
// the binning code) or counts in storage order (encoding Int32). It ends a chain but forwards every block
// unchanged to a successor.
// Properties: every property is forwarded unchanged (the order, the encoding and the binning code are also read).

#include "framework/gplugin.h"
#include "framework/streamformat.h"

#include <QPointer>

class Histogram;
class QPushButton;
class QSpinBox;
class QWidget;

class HistogramPlugin : public GPlugin
{
    Q_OBJECT
public:
    HistogramPlugin(QWidget* parent, QString name);
    ~HistogramPlugin() override;

    QWidget* getWidget() override;
    int getStretch() override { return 10; }
    /// Clears the histogram, then goes on like the base.
    void init() override;
    void setDataOrder(GPlugin::DataOrder order) override;
    void setDataEncoding(GPlugin::DataEncoding encoding) override;
    /// Bits 0-7, 8-15 and 16-23 are the bit counts of x, y and t. A code is taken when each count is 0 ... 27
    /// and they sum to less than 28; otherwise it is reported and the histogram stays. Always forwarded.
    void setDataBinning(int binning) override;
    void setData(const int* data, int count, int offset) override;

    Histogram* histogram() const { return hist; }
    int getBinning() const { return binning; }
    QSpinBox* gradStartBox() const { return gradStartSb; }
    QSpinBox* gradEndBox() const { return gradEndSb; }
    QSpinBox* sliceBox() const { return sliceSb; }
    QSpinBox* sliceCountBox() const { return slcCntSb; }
    QPushButton* zoomInButton() const { return zoomInBtn; }
    QPushButton* zoomOutButton() const { return zoomOutBtn; }

    static const GPlugin::PluginDescriptor _descriptor;
    static constexpr int _defaultBinning = 592137; // 9, 9, 9: 512 x 512 x 512

public slots:
    void zoomIn();
    void zoomOut();
    void resetGradation();
    void setSlice(int f);
    void setSlcCnt(int c);

private:
    void updateZoomButtons();

    StreamFormat format; // Order and Encoding as received
    int binning = 0;
    int bx = 0, by = 0, bt = 0;
    quint32 mx = 0, my = 0, mt = 0;

    QPointer<QWidget> panel; // the page may delete it before the plug-in
    Histogram* hist = nullptr;
    QSpinBox* gradStartSb = nullptr;
    QSpinBox* gradEndSb = nullptr;
    QSpinBox* sliceSb = nullptr;
    QSpinBox* slcCntSb = nullptr;
    QPushButton* zoomInBtn = nullptr;
    QPushButton* zoomOutBtn = nullptr;
};

GPlugin* histogramFactory(QWidget* parent, QString name);
