#include "filters/generichistfilter.h"

#include "filters/histaxis.h"
#include "utilif/algo.h"
#include "utilif/qthelpers.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <limits>

const GPlugin::PluginDescriptor GenericHistFilter::_descriptor(QStringLiteral("Generic Histogram Filter"),
                                                               QStringLiteral("Histogramming of incoming 32 Bit data"),
                                                               0x1004, genHistFilterFactory);

GPlugin* genHistFilterFactory(QWidget* parent, QString name)
{
    return new GenericHistFilter(parent, name);
}

namespace {
constexpr int kTickMs = 250;
constexpr int kEncoding48 = 6; // two words of 24 bits, low word first

bool parseInt(const QString& text, int* v)
{
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok, 10);
    if (ok)
        *v = parsed;
    return ok;
}
} // namespace

GenericHistFilter::GenericHistFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    input.set(StreamFormat::Encoding, 0);
    input.set(StreamFormat::UnitVal, 128);
    input.set(StreamFormat::PhysVal, 1000);
    input.set(StreamFormat::OffsetVal, 0);

    panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    panel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed); // the display behind it takes the height
    auto* grid = new QGridLayout(panel);
    qth_setLayoutParams(grid, *prefs()->layoutMargin, *prefs()->layoutSpacing);
    auto makeField = [this](const QString& unit, char prefix, int min, int max, int value) {
        auto* e = new UnitEdit(panel);
        e->configure(unit, prefix, min, max);
        e->setValue(value);
        return e;
    };
    auto makeReadOnly = [this]() {
        auto* e = new QLineEdit(QStringLiteral("0"), panel);
        e->setReadOnly(true);
        return e;
    };
    binStartEdit =
        makeField(QString(), ' ', std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), binStartValue);
    binWidthEdit = makeField(QString(), ' ', 1, 1000000, binWidthValue);
    binCountEdit = makeField(QString(), ' ', 5, 10000, binCountValue);
    exposureEdit = makeField(QStringLiteral("s"), 'm', 10, 1000000, exposureValue);
    syncCb = new QCheckBox(tr("Sync"), panel);
    syncCb->setChecked(true);
    auto* refreshBtn = new QPushButton(tr("Refresh"), panel);
    hitsEdit = makeReadOnly();
    smallEdit = makeReadOnly();
    bigEdit = makeReadOnly();
    int row = 0;
    auto addRow = [&](const QString& label, QWidget* w, QWidget* w2 = nullptr) {
        grid->addWidget(new QLabel(label, panel), row, 0);
        grid->addWidget(w, row, 1, 1, w2 ? 1 : 2);
        if (w2)
            grid->addWidget(w2, row, 2);
        ++row;
    };
    addRow(tr("Bin Start:"), binStartEdit);
    addRow(tr("Bin Width:"), binWidthEdit);
    addRow(tr("Bin Count:"), binCountEdit);
    addRow(tr("Exp. Time:"), exposureEdit);
    addRow(tr("View:"), syncCb, refreshBtn);
    addRow(tr("Total Hits:"), hitsEdit);
    addRow(tr("Too Small:"), smallEdit);
    addRow(tr("Too Big:"), bigEdit);

    connect(binStartEdit, &UnitEdit::changed, this, [this](int v) {
        binStartValue = v;
        editsChanged();
    });
    connect(binWidthEdit, &UnitEdit::changed, this, [this](int v) {
        binWidthValue = v;
        editsChanged();
    });
    connect(binCountEdit, &UnitEdit::changed, this, [this](int v) {
        binCountValue = v;
        editsChanged();
    });
    connect(exposureEdit, &UnitEdit::changed, this, [this](int v) {
        exposureValue = v;
        refreshChanged();
    });
    connect(syncCb, &QCheckBox::toggled, this, [this](bool on) { syncValue = on; });
    connect(refreshBtn, &QPushButton::clicked, this, &GenericHistFilter::refreshHistogram);

    tickTmr = new QTimer(this);
    connect(tickTmr, &QTimer::timeout, this, &GenericHistFilter::updateTick);
    tickTmr->start(kTickMs);
    refreshTmr = new QTimer(this);
    connect(refreshTmr, &QTimer::timeout, this, &GenericHistFilter::refreshTimeout);
    refreshTmr->start(exposureValue);
    // The histogram follows the fields from the start (not a layout of its own that the fields do not show).
    resizeHistogram(hist, binWidthValue, binStartValue, binCountValue);
}

GenericHistFilter::~GenericHistFilter()
{
    deleteHistogram(hist);
    delete panel.data();
}

QWidget* GenericHistFilter::getWidget()
{
    return panel;
}

void GenericHistFilter::initHistogram(Histogram& h)
{
    resizeHistogram(h, 1, 0, 1000);
}

void GenericHistFilter::resizeHistogram(Histogram& h, int width, int start, int count)
{
    h.binWidth = qMax(1, width);
    h.binStart = start;
    h.binCount = qMax(0, count);
    h.bins.assign(size_t(h.binCount), 0u);
    h.bins.shrink_to_fit();
    h.divider.setWidth(quint64(h.binWidth));
    clearHistogram(h);
}

void GenericHistFilter::clearHistogram(Histogram& h)
{
    h.tooSmall = h.tooBig = h.hits = 0;
    std::fill(h.bins.begin(), h.bins.end(), 0u);
}

void GenericHistFilter::deleteHistogram(Histogram& h)
{
    h.bins.clear();
    h.bins.shrink_to_fit();
    h.binWidth = h.binStart = h.binCount = 0;
}

void GenericHistFilter::setOption(QString key, QString value)
{
    key = key.toLower();
    int v = 0;
    auto bad = [&]() {
        emit statusChanged(tr("Generic Histogram Filter: invalid value \"%1\" for option \"%2\"").arg(value, key), -1,
                           2);
    };
    if (key == QLatin1String("decoding")) {
        if (value.trimmed().toLower() == QLatin1String("int32")) {
            input.set(StreamFormat::Encoding, 0);
            encodingLocked = true;
        }
    } else if (key == QLatin1String("binstart") || key == QLatin1String("binwidth") ||
               key == QLatin1String("bincount")) {
        if (!parseInt(value, &v))
            return bad();
        // The fields limit the value as an entry would; the histogram takes the new layout at once.
        if (key == QLatin1String("binstart")) {
            binStartValue = v;
        } else if (key == QLatin1String("binwidth")) {
            binWidthValue = qBound(1, v, 1000000);
        } else {
            binCountValue = qBound(5, v, 10000);
        }
        if (panel) {
            binStartEdit->setValue(binStartValue);
            binWidthEdit->setValue(binWidthValue);
            binCountEdit->setValue(binCountValue);
        }
        editsChanged();
    } else if (key == QLatin1String("exposure")) {
        if (!parseInt(value, &v))
            return bad();
        exposureValue = qBound(10, v, 1000000);
        if (panel)
            exposureEdit->setValue(exposureValue);
        refreshChanged();
    }
}

bool GenericHistFilter::bins() const
{
    const int e = input.value(StreamFormat::Encoding);
    return e == 0 || e == kEncoding48;
}

bool GenericHistFilter::sync() const
{
    return panel ? syncCb->isChecked() : syncValue;
}

void GenericHistFilter::setDataEncoding(GPlugin::DataEncoding encoding)
{
    if (!encodingLocked && input.set(StreamFormat::Encoding, int(encoding)))
        hasLow = false;
    // The successor gets counts while the stream is binned; the input's encoding (e.g. 6) would mislabel them.
    GPlugin::setDataEncoding(bins() ? GPlugin::Int32Enc : input.encoding());
}

void GenericHistFilter::setDataUnitVal(int unit)
{
    input.set(StreamFormat::UnitVal, unit);
    outputMeta();
}

void GenericHistFilter::setDataPhysVal(int value)
{
    input.set(StreamFormat::PhysVal, value);
    outputMeta();
}

void GenericHistFilter::setDataOffsetVal(int value)
{
    input.set(StreamFormat::OffsetVal, value); // kept, not used
    outputMeta();
}

inline void GenericHistFilter::binValue(qint64 v)
{
    // b = trunc(v / width) - start: the start is in bins, and the division truncates toward zero.
    const quint64 mag = v < 0 ? quint64(0) - quint64(v) : quint64(v);
    const qint64 q = qint64(hist.divider.div(mag));
    const qint64 b = (v < 0 ? -q : q) - hist.binStart;
    if (b < 0) {
        ++hist.tooSmall;
    } else if (b < hist.binCount) {
        quint32& c = hist.bins[size_t(b)];
        c += quint32(c != 0xFFFFFFFFu);
        ++hist.hits;
    } else {
        ++hist.tooBig;
    }
}

void GenericHistFilter::setData(const int* data, int count, int offset)
{
    const int e = input.value(StreamFormat::Encoding);
    if (e != 0 && e != kEncoding48) {
        GPlugin::setData(data, count, offset);
        return;
    }
    if (!data || count <= 0)
        return;
    if (e == 0) {
        for (int i = 0; i < count; ++i)
            binValue(data[i]);
        return;
    }
    // Encoding 6: pairs of words. The 48-bit value is binned whole: rounded to 32 bits it would saturate and land in
    // a wrong bin whenever the width brings values beyond 2^31 into range. A low word at the end of a block waits for
    // its high word at the next position.
    int i = 0;
    if (hasLow) {
        hasLow = false;
        if (offset == pendingIndex) {
            binValue(StreamFormat::decode48(pendingLow, quint32(data[0])));
            i = 1;
        }
    }
    for (; i + 1 < count; i += 2)
        binValue(StreamFormat::decode48(quint32(data[i]), quint32(data[i + 1])));
    if (i < count) {
        hasLow = true;
        pendingLow = quint32(data[i]);
        pendingIndex = int(quint32(offset) + quint32(count));
    }
}

void GenericHistFilter::outputMeta()
{
    metaPending = false;
    int physVal = input.value(StreamFormat::PhysVal, 1000);
    if (physVal == 0)
        physVal = 1; // no physical value: one input unit per value
    const double q = double(hist.binWidth) / physVal;
    const HistAxis axis =
        histogramAxis(double(hist.binCount) * q, double(hist.binStart) * q, input.value(StreamFormat::UnitVal, 128));
    if (!successor)
        return;
    const std::pair<StreamFormat::Property, int> props[] = {
        {StreamFormat::Order, int(GPlugin::cyclic)},
        {StreamFormat::RangeX, hist.binCount},
        {StreamFormat::OffsetX, axis.offsetX},
        {StreamFormat::PhysX, axis.physX},
        {StreamFormat::UnitX, axis.unit},
        {StreamFormat::OffsetVal, 0},
        {StreamFormat::PhysVal, 1},
        {StreamFormat::PhysValNumerator, 1},
        {StreamFormat::UnitVal, 128},
        {StreamFormat::Encoding, 0},
    };
    for (const auto& p : props)
        StreamFormat::deliver(successor, p.first, p.second);
}

void GenericHistFilter::outputHistogram()
{
    if (metaPending)
        outputMeta(); // a successor that has not had the properties yet could not place the bins
    if (successor) {
        int piece[_pieceSize];
        for (int k = 0; k < hist.binCount && successor; k += _pieceSize) {
            const int n = qMin(_pieceSize, hist.binCount - k);
            for (int i = 0; i < n; ++i)
                piece[i] = int(qMin<quint32>(hist.bins[size_t(k + i)], 0x7FFFFFFFu));
            successor->setData(piece, n, k);
        }
    }
    if (panel) {
        hitsEdit->setText(QString::number(hist.hits));
        smallEdit->setText(QString::number(hist.tooSmall));
        bigEdit->setText(QString::number(hist.tooBig));
    }
}

void GenericHistFilter::refreshTimeout()
{
    if (sync())
        outputHistogram();
    clearHistogram(hist);
}

void GenericHistFilter::refreshHistogram()
{
    refreshTimeout();
}

void GenericHistFilter::updateTick()
{
    if (!sync())
        outputHistogram();
}

void GenericHistFilter::refreshChanged()
{
    if (sync())
        outputHistogram();
    clearHistogram(hist);
    refreshTmr->start(exposureValue);
}

void GenericHistFilter::editsChanged()
{
    resizeHistogram(hist, binWidthValue, binStartValue, binCountValue);
    if (sync())
        outputHistogram();
    clearHistogram(hist);
    outputMeta();
}
