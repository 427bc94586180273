#include "displays/histogramplugin.h"

#include "displays/histogram.h"
#include "utilif/qthelpers.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QPushButton>
#include <QScrollArea>
#include <QSpinBox>
#include <QVBoxLayout>

const GPlugin::PluginDescriptor HistogramPlugin::_descriptor(
    QStringLiteral("3D Histogram Display"),
    QStringLiteral("Displays 2D projections of 3D histograms h(x,y,z) with h color coded."), 0x1, histogramFactory);

GPlugin* histogramFactory(QWidget* parent, QString name)
{
    return new HistogramPlugin(parent, name);
}

namespace {
constexpr int kMaxBits = 27; // 2^27 cells: the largest cube
}

HistogramPlugin::HistogramPlugin(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    format.set(StreamFormat::Order, 0);
    format.set(StreamFormat::Encoding, 0);
    panel = new QWidget(parent);
    auto* outer = new QVBoxLayout(panel);
    qth_setLayoutParams(outer, *prefs()->layoutMargin, *prefs()->layoutSpacing);
    // Two short rows of controls, so that the page stays narrow.
    auto* row = new QHBoxLayout;
    qth_setLayoutParams(row, 0, *prefs()->layoutSpacing);
    outer->addLayout(row);
    auto* row2 = new QHBoxLayout;
    qth_setLayoutParams(row2, 0, *prefs()->layoutSpacing);
    outer->addLayout(row2);

    gradStartSb = new QSpinBox(panel);
    gradStartSb->setObjectName(QStringLiteral("GradStart"));
    gradStartSb->setRange(-1000000000, 1000000000);
    gradStartSb->setToolTip(tr("Gradation Minimum.\nAll smaller values are\nrepresented by black pixels."));
    gradEndSb = new QSpinBox(panel);
    gradEndSb->setObjectName(QStringLiteral("GradEnd"));
    gradEndSb->setRange(-1000000000, 1000000000);
    gradStartSb->setMaximumWidth(110);
    gradEndSb->setMaximumWidth(110);
    gradEndSb->setToolTip(tr("Gradation Maximum.\nAll bigger values are\nrepresented by white pixels."));
    auto* autoBtn = new QPushButton(tr("Auto"), panel);
    autoBtn->setToolTip(tr("Calculate gradation limits\nfrom currently displayed values."));
    sliceSb = new QSpinBox(panel);
    sliceSb->setRange(0, 511);
    sliceSb->setToolTip(tr("First visible time slice of data."));
    slcCntSb = new QSpinBox(panel);
    slcCntSb->setRange(1, 512);
    slcCntSb->setToolTip(tr("Number of visible time slices."));
    zoomInBtn = new QPushButton(tr("Zoom in"), panel);
    zoomOutBtn = new QPushButton(tr("Zoom out"), panel);
    row->addWidget(gradStartSb);
    row->addWidget(gradEndSb);
    row->addWidget(autoBtn);
    row->addStretch();
    row2->addWidget(new QLabel(tr("t"), panel));
    row2->addWidget(sliceSb);
    row2->addWidget(new QLabel(tr("Slices"), panel));
    row2->addWidget(slcCntSb);
    row2->addWidget(zoomInBtn);
    row2->addWidget(zoomOutBtn);
    row2->addStretch();

    auto* scroll = new QScrollArea(panel);
    hist = new Histogram;
    scroll->setWidget(hist);
    scroll->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    outer->addWidget(scroll, 1);

    connect(gradStartSb, QOverload<int>::of(&QSpinBox::valueChanged), hist, &Histogram::setGradationStart);
    connect(gradEndSb, QOverload<int>::of(&QSpinBox::valueChanged), hist, &Histogram::setGradationEnd);
    connect(autoBtn, &QPushButton::clicked, this, &HistogramPlugin::resetGradation);
    connect(sliceSb, QOverload<int>::of(&QSpinBox::valueChanged), this, &HistogramPlugin::setSlice);
    connect(slcCntSb, QOverload<int>::of(&QSpinBox::valueChanged), this, &HistogramPlugin::setSlcCnt);
    connect(zoomInBtn, &QPushButton::pressed, this, &HistogramPlugin::zoomIn);
    connect(zoomOutBtn, &QPushButton::pressed, this, &HistogramPlugin::zoomOut);

    binning = _defaultBinning;
    bx = by = bt = 9;
    mx = my = mt = 511;
    hist->setRange(512, 512, 512);
    slcCntSb->setValue(512); // all slices, from 0
    setSlice(0);
    gradEndSb->setValue(10);
    gradStartSb->setValue(0);
    hist->setGradationEnd(10);
    hist->setGradationStart(0);
    updateZoomButtons();
}

HistogramPlugin::~HistogramPlugin()
{
    delete panel.data();
}

QWidget* HistogramPlugin::getWidget()
{
    return panel;
}

void HistogramPlugin::init()
{
    if (panel)
        hist->reset();
    GPlugin::init();
}

void HistogramPlugin::setDataOrder(GPlugin::DataOrder order)
{
    format.set(StreamFormat::Order, int(order));
    GPlugin::setDataOrder(order);
}

void HistogramPlugin::setDataEncoding(GPlugin::DataEncoding encoding)
{
    format.set(StreamFormat::Encoding, int(encoding));
    GPlugin::setDataEncoding(encoding);
}

void HistogramPlugin::setDataBinning(int b)
{
    if (b != binning && panel) {
        const int fx = qint8(b & 0xFF), fy = qint8((b >> 8) & 0xFF), ft = qint8((b >> 16) & 0xFF);
        // Each field is a bit count: a negative one, or one that makes the cube larger than 2^27 cells, has no
        // histogram (2^-3 or 2^40 cells), however the fields sum.
        const bool fits =
            fx >= 0 && fy >= 0 && ft >= 0 && fx <= kMaxBits && fy <= kMaxBits && ft <= kMaxBits && fx + fy + ft < 28;
        if (fits && hist->setRange(1 << fx, 1 << fy, 1 << ft)) {
            binning = b;
            bx = fx;
            by = fy;
            bt = ft;
            mx = (1u << fx) - 1;
            my = (1u << fy) - 1;
            mt = (1u << ft) - 1;
            // The slice boxes follow the new T; the widget has cut its visible slices to it.
            const QSignalBlocker b1(sliceSb), b2(slcCntSb);
            const int T = hist->sizeT();
            sliceSb->setRange(0, T - 1);
            slcCntSb->setRange(1, T);
            slcCntSb->setValue(qMax(1, hist->visibleSliceCount()));
            sliceSb->setValue(hist->visibleSliceFirst());
            sliceSb->setMaximum(T - slcCntSb->value());
            slcCntSb->setMaximum(T - sliceSb->value());
            if (hist->visibleSliceCount() != slcCntSb->value())
                hist->setVisibleSliceCount(slcCntSb->value());
        } else {
            emit statusChanged(tr("3D Histogram Display: binning code 0x%1 is not usable").arg(b, 0, 16), -1, 2);
        }
    }
    GPlugin::setDataBinning(b);
}

void HistogramPlugin::setData(const int* data, int count, int offset)
{
    if (panel && data && count > 0) {
        const int enc = format.value(StreamFormat::Encoding);
        if (enc == GPlugin::coord3d) {
            // Signed fields: shift down arithmetically, add half the range, mask. Unsigned additions keep the
            // largest words well defined.
            const quint32 hx = (mx + 1) / 2, hy = (my + 1) / 2, ht = (mt + 1) / 2;
            const int sy = bx, st = bx + by;
            for (int i = 0; i < count; ++i) {
                const int w = data[i];
                const quint32 x = (quint32(w) + hx) & mx;
                const quint32 y = (quint32(w >> sy) + hy) & my;
                const quint32 t = (quint32(w >> st) + ht) & mt;
                hist->setHit(int(x), int(y), int(t));
            }
        } else if (enc == GPlugin::Int32Enc) {
            // Counts in storage order: position p is x fastest, then y, then t.
            for (int i = 0; i < count; ++i) {
                const quint32 p = quint32(offset) + quint32(i);
                const qint64 v = qAbs(qint64(data[i]));
                if (v > 254)
                    continue;
                hist->setValue(int(p & mx), int((p >> bx) & my), int((p >> (bx + by)) & mt), int(v));
            }
        }
    }
    GPlugin::setData(data, count, offset);
}

void HistogramPlugin::updateZoomButtons()
{
    zoomInBtn->setEnabled(hist->scale() <= 99);
    zoomOutBtn->setEnabled(hist->scale() >= 2);
}

void HistogramPlugin::zoomIn()
{
    if (!panel)
        return;
    hist->setScale(hist->scale() + 1);
    updateZoomButtons();
}

void HistogramPlugin::zoomOut()
{
    if (!panel)
        return;
    hist->setScale(hist->scale() - 1);
    updateZoomButtons();
}

void HistogramPlugin::resetGradation()
{
    if (!panel)
        return;
    int min = 0, max = 0;
    hist->getDataRange(min, max);
    // The widget ignores a start above its end, so the limits move in the order that keeps them valid.
    if (min > hist->gradationEnd()) {
        gradEndSb->setValue(max);
        gradStartSb->setValue(min);
    } else {
        gradStartSb->setValue(min);
        gradEndSb->setValue(max);
    }
}

void HistogramPlugin::setSlice(int f)
{
    if (!panel)
        return;
    slcCntSb->setMaximum(hist->sizeT() - f);
    hist->setVisibleSliceFirst(f);
}

void HistogramPlugin::setSlcCnt(int c)
{
    if (!panel)
        return;
    sliceSb->setMaximum(hist->sizeT() - c);
    hist->setVisibleSliceCount(c);
}
