#include "filters/histogramfilter.h"

#include "filters/histaxis.h"

#include "utilif/algo.h"
#include "utilif/qthelpers.h"
#include "utilif/tdc56state.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFrame>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTimer>
#include <QVBoxLayout>
#include <cmath>
#include <limits>

const GPlugin::PluginDescriptor HistogramFilter::_descriptor(QStringLiteral("Histogram Filter"),
                                                             QStringLiteral("Histogramming of incoming 64-Bit data"),
                                                             0x800004, histoFilterFactory);

GPlugin* histoFilterFactory(QWidget* parent, QString name)
{
    return new HistogramFilter(parent, name);
}

namespace {

constexpr int kTickMs = 250;
constexpr int kChCountMs = 2500;
constexpr int kTimeUnit = 1152; // s, no prefix
// Channel numbers are one byte in a decoded event, so more entries could never match.
constexpr int kMaxChannels = 256;

bool parseInt(const QString& text, int* v, int base = 10)
{
    bool ok = false;
    const int parsed = text.trimmed().toInt(&ok, base);
    if (ok)
        *v = parsed;
    return ok;
}

/// Counts one value into a histogram; shared by both histograms' loops. Works on copies of the counters held in
/// locals by the caller's loop (so the compiler keeps them in registers: the bins are 32-bit and could alias int
/// members of the filter).
struct Binner
{
    explicit Binner(HistogramFilter::Histogram& h)
        : bins(h.bins.data()), start(quint64(qint64(h.binStart))), span(h.span), width(quint64(h.binWidth)),
          divider(h.divider)
    {
    }
    quint32* bins;
    quint64 start;
    quint64 span;
    quint64 width;
    BinDivider divider;
    qint64 inside = 0, before = 0, after = 0;
    qint64 statCount = 0;
    double statSum = 0.0, statSumSq = 0.0;

    inline void count(qint64 value)
    {
        // Offset from the lower edge; unsigned arithmetic keeps extreme times (encoding 10 takes any 64-bit time)
        // well defined: differences beyond the 64-bit range wrap.
        const quint64 x = quint64(value) - start;
        if (x < span) {
            quint32& b = bins[divider.div(x)];
            b += quint32(b != 0xFFFFFFFFu);
            ++inside;
        } else if (qint64(x) >= 0) {
            ++after;
        } else if (quint64(0) - x < width) {
            // The division truncates toward zero, so less than one width below the start still lands in bin 0.
            quint32& b = bins[0];
            b += quint32(b != 0xFFFFFFFFu);
            ++inside;
        } else {
            ++before;
        }
        // The statistics window is [start, start + count * width], bounds included.
        if (x <= span) {
            ++statCount;
            const double v = double(x);
            statSum += v;
            statSumSq += v * v;
        }
    }
    void storeInto(HistogramFilter::Histogram& h) const
    {
        h.countsInside += inside;
        h.countsBefore += before;
        h.countsAfter += after;
    }
};

} // namespace

HistogramFilter::HistogramFilter(QWidget* parent, QString name) : GPlugin(parent, std::move(name), &_descriptor)
{
    input.set(StreamFormat::Encoding, 0);
    input.set(StreamFormat::UnitVal, 128);
    input.set(StreamFormat::PhysVal, 1);
    panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    panel->setSizePolicy(QSizePolicy::Preferred, QSizePolicy::Fixed); // the display behind it takes the height
    decoder = tdc56Init();
    initHistogram(ssHist);
    initHistogram(chHist);
    QTimer::singleShot(0, this, &HistogramFilter::create);
}

HistogramFilter::~HistogramFilter()
{
    tdc56DeInit(decoder);
    deleteHistogram(ssHist);
    deleteHistogram(chHist);
    delete panel.data();
}

QWidget* HistogramFilter::getWidget()
{
    return panel;
}

// --- Histogram records ---------------------------------------------------------------------------------------

void HistogramFilter::initHistogram(Histogram& h)
{
    resizeHistogram(h, 1, 0, 1000);
}

void HistogramFilter::resizeHistogram(Histogram& h, int width, int start, int count)
{
    h.binWidth = qMax(1, width);
    h.binStart = start;
    h.binCount = qMax(0, count);
    h.bins.assign(size_t(h.binCount), 0u);
    h.bins.shrink_to_fit();
    h.divider.setWidth(quint64(h.binWidth));
    h.span = quint64(h.binCount) * quint64(h.binWidth);
    clearHistogram(h);
}

void HistogramFilter::clearHistogram(Histogram& h)
{
    h.countsBefore = h.countsAfter = h.countsInside = 0;
    h.startEvents = h.stopEvents = 0;
    h.lastStartTime = h.lastEventTime = h.firstTime = 0;
    h.hasStart = h.hasEvent = h.hasFirst = false;
    std::fill(h.bins.begin(), h.bins.end(), 0u);
}

void HistogramFilter::deleteHistogram(Histogram& h)
{
    h.bins.clear();
    h.bins.shrink_to_fit();
    h.binWidth = h.binStart = h.binCount = 0;
    h.span = 0;
}

// --- Panel ------------------------------------------------------------------------------------------------------

void HistogramFilter::create()
{
    if (created || !panel)
        return;
    const int margin = *prefs()->layoutMargin, spacing = *prefs()->layoutSpacing;
    auto* outer = new QVBoxLayout(panel);
    qth_setLayoutParams(outer, margin, spacing);
    auto* grid = new QGridLayout;
    qth_setLayoutParams(grid, 0, spacing);
    outer->addLayout(grid);

    auto makeField = [this](int min, int max, int value) {
        auto* e = new UnitEdit(panel);
        e->configure(QString(), ' ', min, max);
        e->setValue(value);
        return e;
    };
    auto makeReadOnly = [this]() {
        auto* e = new QLineEdit(QStringLiteral("0"), panel);
        e->setReadOnly(true);
        return e;
    };

    // Two label-field pairs per row, so that the panel stays short and leaves the page to the display behind it.
    integrationEdit = new UnitEdit(panel);
    integrationEdit->configure(QStringLiteral("s"), 'm', 10, 1000000000);
    integrationEdit->setValue(1000);
    startCb = new QComboBox(panel);
    stopCb = new QComboBox(panel);
    liveCb = new QCheckBox(tr("Live"), panel);
    diffsCb = new QCheckBox(tr("Diffs"), panel);
    binStartEdit = makeField(std::numeric_limits<int>::min(), std::numeric_limits<int>::max(), 0);
    binWidthEdit = makeField(1, 1000000, 125);
    binCountEdit = makeField(5, 10000, 1000);
    insideEdit = makeReadOnly();
    beforeEdit = makeReadOnly();
    afterEdit = makeReadOnly();
    // Narrow fields: the panel shares the page's column with the display behind it.
    for (QWidget* w :
         {static_cast<QWidget*>(integrationEdit), static_cast<QWidget*>(binStartEdit),
          static_cast<QWidget*>(binWidthEdit), static_cast<QWidget*>(binCountEdit), static_cast<QWidget*>(insideEdit),
          static_cast<QWidget*>(beforeEdit), static_cast<QWidget*>(afterEdit)})
        w->setMaximumWidth(100);
    startCb->setMaximumWidth(70);
    stopCb->setMaximumWidth(70);
    auto pair = [&](QWidget* a, QWidget* b) {
        auto* box = new QHBoxLayout;
        qth_setLayoutParams(box, 0, spacing);
        box->addWidget(a);
        box->addWidget(b);
        return box;
    };
    const struct
    {
        QString label;
        QWidget* field;
        QLayout* fields;
    } cells[] = {
        {tr("Integration Time:"), integrationEdit, nullptr},
        {tr("Bin Start:"), binStartEdit, nullptr},
        {tr("Input Channels:"), nullptr, pair(startCb, stopCb)},
        {tr("Bin Width:"), binWidthEdit, nullptr},
        {tr("Timetag Processing:"), nullptr, pair(liveCb, diffsCb)},
        {tr("Bin Count:"), binCountEdit, nullptr},
        {tr("Counts Inside:"), insideEdit, nullptr},
        {tr("Counts Before:"), beforeEdit, nullptr},
        {tr("Counts After:"), afterEdit, nullptr},
    };
    for (int i = 0; i < int(sizeof(cells) / sizeof(cells[0])); ++i) {
        const int row = i / 2, col = (i % 2) * 2;
        grid->addWidget(new QLabel(cells[i].label, panel), row, col);
        if (cells[i].field)
            grid->addWidget(cells[i].field, row, col + 1);
        else
            grid->addLayout(cells[i].fields, row, col + 1);
    }

    statGroup = new QGroupBox(tr("Statistics of Counts Inside: "), panel);
    auto* sg = new QGridLayout(statGroup);
    qth_setLayoutParams(sg, margin, spacing);
    const QString statLabels[4] = {tr("Total Count: "), tr("Average: "), tr("RMS Jitter: "),
                                   QStringLiteral("../\u221A2: ")};
    for (int i = 0; i < 4; ++i) {
        sg->addWidget(new QLabel(statLabels[i], statGroup), i, 0);
        statEdits[i] = new QLineEdit(statGroup);
        statEdits[i]->setReadOnly(true);
        sg->addWidget(statEdits[i], i, 1);
    }
    auto* resetBtn = new QPushButton(tr("Reset"), statGroup);
    sg->addWidget(resetBtn, 4, 1);
    outer->addWidget(statGroup);
    statGroup->hide();
    liveCb->setChecked(false);
    diffsCb->setChecked(true);

    connect(integrationEdit, &UnitEdit::changed, this, &HistogramFilter::refreshChanged);
    connect(binStartEdit, &UnitEdit::changed, this, &HistogramFilter::editsChanged);
    connect(binWidthEdit, &UnitEdit::changed, this, &HistogramFilter::editsChanged);
    connect(binCountEdit, &UnitEdit::changed, this, &HistogramFilter::editsChanged);
    connect(diffsCb, &QCheckBox::clicked, this, &HistogramFilter::setTDiff);
    connect(resetBtn, &QPushButton::clicked, this, &HistogramFilter::resetStatistics);

    tickTmr = new QTimer(this);
    connect(tickTmr, &QTimer::timeout, this, &HistogramFilter::updateTick);
    tickTmr->start(kTickMs);
    chCountTmr = new QTimer(this);
    connect(chCountTmr, &QTimer::timeout, this, &HistogramFilter::updateChCount);
    chCountTmr->start(kChCountMs);
    integrationTmr = new QTimer(this);
    connect(integrationTmr, &QTimer::timeout, this, &HistogramFilter::refreshTimeout);

    created = true;
    fillChCb(0, {});
    connect(startCb, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &HistogramFilter::channelChanged);
    connect(stopCb, QOverload<int>::of(&QComboBox::currentIndexChanged), this, &HistogramFilter::channelChanged);

    for (auto it = pendingOptions.constBegin(); it != pendingOptions.constEnd(); ++it)
        processOption(it.key(), it.value());
    // The histograms follow the fields, so that bin options of a layout are in force from the first event on.
    setUpHistograms();
    clearBoth();
    integrationTmr->start(integrationEdit->getValue());
}

void HistogramFilter::setUpHistograms()
{
    const int width = binWidthEdit->getValue(), start = binStartEdit->getValue(), count = binCountEdit->getValue();
    resizeHistogram(ssHist, width, start, count);
    resizeHistogram(chHist, width, start, count);
    statLow = start;
}

void HistogramFilter::fillChCb(int first, const QMap<int, QString>& names)
{
    const int oldStart = startChannel, oldStop = stopChannel;
    {
        const QSignalBlocker b1(startCb), b2(stopCb);
        startCb->clear();
        stopCb->clear();
        startCb->addItem(tr("Global"), -1);
        for (int k = 1; k <= channelCount; ++k) {
            const int ch = first + k - 1;
            const QString text = names.value(ch, QString::number(k));
            startCb->addItem(text, ch);
            stopCb->addItem(text, ch);
        }
        // Keep the chosen channels when the new lists have both; otherwise start on the first channel and stop on
        // the second, the usual wiring of a start-stop measurement.
        const int si = startCb->findData(oldStart), pi = stopCb->findData(oldStop);
        const bool keep = si >= 0 && pi >= 0;
        startCb->setCurrentIndex(keep ? si : qMin(1, startCb->count() - 1));
        stopCb->setCurrentIndex(keep ? pi : qMin(1, stopCb->count() - 1));
    }
    channelChanged();
}

// --- Options ----------------------------------------------------------------------------------------------------

void HistogramFilter::setOption(QString key, QString value)
{
    key = key.toLower();
    pendingOptions.insert(key, value);
    if (ready())
        processOption(key, value);
}

void HistogramFilter::processOption(const QString& key, const QString& value)
{
    int v = 0;
    auto bad = [&]() {
        emit statusChanged(tr("Histogram Filter: invalid value \"%1\" for option \"%2\"").arg(value, key), -1, 2);
    };
    if (key == QLatin1String("decoding")) {
        const QString d = value.trimmed().toLower();
        if (d == QLatin1String("int32")) {
            input.set(StreamFormat::Encoding, 0);
            encodingLocked = true;
        } else if (d == QLatin1String("int56tdc")) {
            if (input.value(StreamFormat::Encoding) == 0)
                input.set(StreamFormat::Encoding, 5);
        }
    } else if (key == QLatin1String("startstop")) {
        if (!parseInt(value, &v))
            return bad();
        startStop = v != 0;
        diffsCb->setChecked(v == 0);
    } else if (key == QLatin1String("channels") || key == QLatin1String("channels0")) {
        if (!parseInt(value, &v) || v < 1 || v > kMaxChannels)
            return bad();
        channelCount = v;
        fillChCb(key == QLatin1String("channels") ? 1 : 0, {});
    } else if (key == QLatin1String("channelsaddr")) {
        if (!parseInt(value, &v, 0))
            return bad();
        channelsAddr = v;
    } else if (key == QLatin1String("binstart") || key == QLatin1String("binwidth") ||
               key == QLatin1String("bincount")) {
        if (!parseInt(value, &v))
            return bad();
        UnitEdit* e = key == QLatin1String("binstart")   ? binStartEdit
                      : key == QLatin1String("binwidth") ? binWidthEdit
                                                         : binCountEdit;
        e->setValue(v);
        // Once running, a new bin layout takes effect as an edit of the field would.
        if (integrationTmr->isActive())
            editsChanged();
    } else if (key == QLatin1String("showstatistics")) {
        if (!parseInt(value, &v))
            return bad();
        statGroup->setVisible(v != 0);
    } else if (key == QLatin1String("channelnames")) {
        QMap<int, QString> names;
        for (const QString& entry : value.split(QLatin1Char(':'), Qt::SkipEmptyParts)) {
            const int eq = entry.indexOf(QLatin1Char('='));
            int ch = 0;
            if (eq < 1 || !parseInt(entry.left(eq), &ch))
                return bad();
            names.insert(ch, entry.mid(eq + 1));
        }
        fillChCb(0, names);
    }
}

// --- Stream properties ------------------------------------------------------------------------------------------

void HistogramFilter::setDataEncoding(GPlugin::DataEncoding encoding)
{
    if (encodingLocked)
        return;
    if (input.set(StreamFormat::Encoding, int(encoding)))
        tdc56Flush(decoder); // another stream starts
}

void HistogramFilter::init()
{
    tdc56Flush(decoder);
    GPlugin::init();
}

void HistogramFilter::setDataUnitVal(int unit)
{
    input.set(StreamFormat::UnitVal, unit);
}

void HistogramFilter::setDataPhysVal(int value)
{
    input.set(StreamFormat::PhysVal, value);
}

bool HistogramFilter::decodes() const
{
    const int e = input.value(StreamFormat::Encoding);
    return e == 5 || e == 7 || e == 9 || e == 10;
}

// --- Event processing -------------------------------------------------------------------------------------------

template <class Decode> void HistogramFilter::histogramEvents(Decode decode)
{
    if (!ready())
        return; // no histogram before the panel's fields exist; the words are not events of a histogram yet
    if (startChannel >= 0) {
        // Start-stop histogram. The channel histogram is not sent while a start channel is chosen, and both are
        // cleared whenever the choice changes, so only this one is kept.
        Histogram& h = ssHist;
        Binner b(h);
        const int start = startChannel, stop = stopChannel;
        const bool raw = startStop;
        qint64 lastStart = h.lastStartTime, lastEvent = h.lastEventTime, firstTime = h.firstTime;
        bool hasStart = h.hasStart, hasEvent = h.hasEvent, hasFirst = h.hasFirst;
        qint64 starts = 0, stops = 0;
        decode([&](qint64 t, int c) {
            if (c == stop) {
                if (raw)
                    b.count(t);
                else if (hasStart)
                    b.count(qint64(quint64(t) - quint64(lastStart)));
                hasStart = false; // a start is used once
                if (!hasFirst) {
                    hasFirst = true;
                    firstTime = t;
                }
                ++stops;
                lastEvent = t;
                hasEvent = true;
            }
            if (c == start) {
                if (!hasFirst) {
                    hasFirst = true;
                    firstTime = t;
                }
                ++starts;
                lastStart = t;
                hasStart = true;
            }
        });
        b.storeInto(h);
        h.lastStartTime = lastStart;
        h.lastEventTime = lastEvent;
        h.firstTime = firstTime;
        h.hasStart = hasStart;
        h.hasEvent = hasEvent;
        h.hasFirst = hasFirst;
        h.startEvents += starts;
        h.stopEvents += stops;
        statCount += b.statCount;
        statSum += b.statSum;
        statSumSq += b.statSumSq;
    } else {
        // Channel histogram: the time between successive events of every channel below 100.
        Histogram& h = chHist;
        Binner b(h);
        const bool raw = startStop;
        qint64 last = h.lastEventTime, firstTime = h.firstTime;
        bool hasEvent = h.hasEvent, hasFirst = h.hasFirst;
        qint64 events = 0;
        decode([&](qint64 t, int c) {
            if (c >= 100)
                return;
            if (raw)
                b.count(t);
            else if (hasEvent)
                b.count(qint64(quint64(t) - quint64(last)));
            if (!hasFirst) {
                hasFirst = true;
                firstTime = t;
            }
            ++events;
            last = t;
            hasEvent = true;
        });
        b.storeInto(h);
        h.lastStartTime = h.lastEventTime = last;
        h.hasStart = h.hasEvent = hasEvent;
        h.firstTime = firstTime;
        h.hasFirst = hasFirst;
        h.startEvents += events;
        h.stopEvents += events;
        statCount += b.statCount;
        statSum += b.statSum;
        statSumSq += b.statSumSq;
    }
}

void HistogramFilter::setData(const int* data, int count, int offset)
{
    if (!decodes()) {
        GPlugin::setData(data, count, offset);
        return;
    }
    if (!data || count <= 0)
        return;
    // int and quint32 may alias each other: the words are read as the unsigned raw words they are.
    const quint32* words = reinterpret_cast<const quint32*>(data);
    Tdc56State* d = decoder;
    switch (input.value(StreamFormat::Encoding)) {
    case 5:
        histogramEvents([&](auto&& f) { tdc56DecodeEach(d, words, count, f); });
        break;
    case 7:
        histogramEvents([&](auto&& f) { tdc56DecodeEach60(d, words, count, f); });
        break;
    case 9:
        histogramEvents([&](auto&& f) { tdc56DecodeEach52(d, words, count, f); });
        break;
    default:
        histogramEvents([&](auto&& f) { tdc56DecodeEach60b(d, words, count, f); });
        break;
    }
}

void HistogramFilter::setDataOdd(const int* data, int count, int offset)
{
    if (input.value(StreamFormat::Encoding) != 10) {
        GPlugin::setDataOdd(data, count, offset);
        return;
    }
    if (!data || count <= 0)
        return;
    const quint32* words = reinterpret_cast<const quint32*>(data);
    Tdc56State* d = decoder;
    histogramEvents([&](auto&& f) { tdc56DecodeEach60b(d, words, -count, f); });
}

// --- Timing and output ------------------------------------------------------------------------------------------

void HistogramFilter::clearBoth()
{
    clearHistogram(ssHist);
    clearHistogram(chHist);
}

void HistogramFilter::refreshTimeout()
{
    if (!ready())
        return;
    if (!liveCb->isChecked())
        outputHistogram();
    clearBoth();
}

void HistogramFilter::refreshHistogram()
{
    refreshTimeout();
}

void HistogramFilter::updateTick()
{
    if (!ready())
        return;
    if (liveCb->isChecked())
        outputHistogram();
}

void HistogramFilter::refreshChanged()
{
    if (!ready())
        return;
    if (!liveCb->isChecked())
        outputHistogram();
    clearBoth();
    integrationTmr->start(integrationEdit->getValue());
}

void HistogramFilter::editsChanged()
{
    if (!ready())
        return;
    setUpHistograms();
    if (!liveCb->isChecked())
        outputHistogram();
    clearBoth();
}

void HistogramFilter::channelChanged()
{
    if (!ready())
        return;
    startChannel = startCb->currentData().isValid() ? startCb->currentData().toInt() : -1;
    stopChannel = stopCb->currentData().isValid() ? stopCb->currentData().toInt() : -1;
    stopCb->setEnabled(startChannel >= 0);
    if (!liveCb->isChecked())
        outputHistogram();
    clearBoth();
}

void HistogramFilter::setTDiff()
{
    if (!ready())
        return;
    startStop = !diffsCb->isChecked();
}

void HistogramFilter::resetStatistics()
{
    statCount = 0;
    statSum = statSumSq = 0.0;
    if (ready())
        for (QLineEdit* e : statEdits)
            e->clear();
}

void HistogramFilter::outputHistogram()
{
    if (!ready() || !decodes())
        return;
    const Histogram& h = startChannel >= 0 ? ssHist : chHist;
    stopCb->setEnabled(startChannel >= 0);

    // Seconds per time unit of the tags: the low byte of the unit code is 128 + the power of 1000.
    const int unitVal = input.value(StreamFormat::UnitVal, 128);
    int physVal = input.value(StreamFormat::PhysVal, 1);
    if (physVal == 0)
        physVal = 1;
    const double tau = std::pow(10.0, 3.0 * ((unitVal & 0xFF) - 128)) / physVal;

    const HistAxis axis =
        histogramAxis(double(h.binWidth) * tau * double(h.binCount), double(h.binStart) * tau, kTimeUnit);
    if (!axis.valid)
        emit statusChanged(tr("Histogram Filter: the time unit of the stream is out of range"), -1, 2);

    const std::pair<StreamFormat::Property, int> props[] = {
        {StreamFormat::Encoding, 0},
        {StreamFormat::UnitX, axis.unit},
        {StreamFormat::Order, int(GPlugin::cyclic)},
        {StreamFormat::RangeX, h.binCount},
        {StreamFormat::OffsetX, axis.offsetX},
        {StreamFormat::PhysX, axis.physX},
        {StreamFormat::OffsetVal, 0},
        {StreamFormat::PhysVal, 1},
        {StreamFormat::PhysValNumerator, 1},
        {StreamFormat::UnitVal, 128},
    };
    if (successor) {
        for (const auto& p : props)
            StreamFormat::deliver(successor, p.first, p.second);
        // A bin saturates at 2^32 - 1; the successor reads signed words, so it sees at most 2^31 - 1.
        int piece[_pieceSize];
        for (int k = 0; k < h.binCount && successor; k += _pieceSize) {
            const int n = qMin(_pieceSize, h.binCount - k);
            for (int i = 0; i < n; ++i)
                piece[i] = int(qMin<quint32>(h.bins[size_t(k + i)], 0x7FFFFFFFu));
            successor->setData(piece, n, k);
        }
    }

    insideEdit->setText(QString::number(h.countsInside));
    beforeEdit->setText(QString::number(h.countsBefore));
    afterEdit->setText(QString::number(h.countsAfter));

    if (statCount >= 1) {
        const double n = double(statCount);
        const double meanRel = statSum / n;
        const double sigma = std::sqrt(qMax(0.0, statSumSq / n - meanRel * meanRel));
        const double mean = double(statLow) + meanRel;
        statEdits[0]->setText(formatValue(double(statCount), 128, 1.0, ' ', 0));
        statEdits[1]->setText(formatValue(mean * tau, kTimeUnit, 0.0, ' ', 4));
        statEdits[2]->setText(formatValue(sigma * tau, kTimeUnit, 0.0, ' ', 4));
        statEdits[3]->setText(formatValue(sigma * tau / 1.4142135623730951, kTimeUnit, 0.0, ' ', 4));
    }
}

void HistogramFilter::updateChCount()
{
    if (channelsAddr < 1 || !ready())
        return;
    DataList values;
    QString text;
    emit requestParamSnapshot(QStringList{QStringLiteral("x:%1").arg(channelsAddr)}, values, text, QString());
    if (values.isEmpty() || values.first() < 0)
        return;
    const int n = qMin(kMaxChannels, qMax(8, 8 * (algoLogb(quint64(values.first())) + 1)));
    if (n == channelCount)
        return;
    channelCount = n;
    fillChCb(0, {});
}
