#include "filters/fftfilter.h"

#include "utilif/algo.h"
#include "utilif/enummap.h"
#include "utilif/qthelpers.h"
#include "utilif/unitedit.h"

#include <QCheckBox>
#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QProgressBar>
#include <QStyle>
#include <QToolButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cmath>
#include <limits>
#include <new>

namespace {

constexpr double kPi = 3.14159265358979323846;
constexpr double kRms = 0.7071067811865476; // 1/sqrt(2): peak to RMS of a sine
constexpr int kUnitDb = 0xB80;              // dBm, the unit of the three dB scales
constexpr double kDbResolution = 2500000.0; // counts per dB
const char* const kSlot = "1savableChanged(QString,QString)";

// Cosine-sum windows: w(x) = a0 - a1 cos(2 pi x) + a2 cos(4 pi x) - a3 cos(6 pi x) + a4 cos(8 pi x), x = n/(N-1).
const double kWindowCoefficients[4][5] = {
    {1.0, 0.0, 0.0, 0.0, 0.0},
    {0.54, 0.46, 0.0, 0.0, 0.0},
    {0.42, 0.5, 0.08, 0.0, 0.0},
    {0.215578948, 0.41663158, 0.277263158, 0.083578947, 0.006947368},
};

int windowOf(int index)
{
    return index >= 0 && index < 4 ? index : 0;
}

bool isVoltFamily(int unit)
{
    return unit >= 0x80 && ((unit & ~0xFF) | 0x80) == 0x280;
}

int saturate(double v)
{
    if (!(v == v))
        return 0;
    if (v >= 2147483647.0)
        return std::numeric_limits<int>::max();
    if (v <= -2147483648.0)
        return std::numeric_limits<int>::min();
    return int(v);
}

// Smallest power of two not below `v`, for v up to 2^62.
qint64 nextPowerOfTwo(double v)
{
    qint64 p = 1;
    while (double(p) < v && p < (qint64(1) << 62))
        p <<= 1;
    return p;
}

bool parseInt(const QString& value, int* n)
{
    bool ok = false;
    const int v = value.trimmed().toInt(&ok, 10);
    if (ok)
        *n = v;
    return ok;
}

} // namespace

const GPlugin::PluginDescriptor FftFilter::_descriptor(QStringLiteral("FFT Data Filter"),
                                                       QStringLiteral("Fast Fourier Transformation."), 0x1004,
                                                       fftFilterFactory);

GPlugin* fftFilterFactory(QWidget* parent, QString name)
{
    return new FftFilter(parent, name);
}

FftFilter::FftFilter(QWidget* parent, QString name)
    : GPlugin(parent, name, &_descriptor),
      windowSetting(this, QStringLiteral("WindowFunction"), name, true, kSlot, "0"),
      avgSetting(this, QStringLiteral("Average"), name, false, kSlot, "1"),
      yScalingSetting(this, QStringLiteral("YScaling"), name, true, kSlot, "0"),
      fminSetting(this, QStringLiteral("MinFrequency"), name, false, kSlot, "0"),
      fmaxSetting(this, QStringLiteral("MaxFrequency"), name, false, kSlot, "40000"),
      sqrtHzSetting(this, QStringLiteral("SqrtHzEnable"), name, true, kSlot, "0"),
      pckSyncSetting(this, QStringLiteral("PacketSync"), name, true, kSlot, "0")
{
    // The stored choices apply at once (the settings deliver them again from the event loop, which changes nothing).
    windowIndex = windowOf(windowSetting.storedValue(QStringLiteral("0")).toInt());
    const int storedScaling = yScalingSetting.storedValue(QStringLiteral("0")).toInt();
    yScalingIndex = storedScaling >= 0 && storedScaling < 4 ? storedScaling : 0;
    sqrtHz = sqrtHzSetting.storedValue(QStringLiteral("0")).toInt() != 0;
    packetSync = pckSyncSetting.storedValue(QStringLiteral("0")).toInt() != 0;

    panel = new QFrame(parent);
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Sunken);
    auto* outer = new QHBoxLayout(panel);
    qth_setLayoutParams(outer, *_prefs->layoutMargin, *_prefs->layoutSpacing);
    controls = new QWidget(panel);
    collapsedLabel = new QLabel(tr("FFT"), panel);
    collapsedLabel->hide();
    toggleButton = new QToolButton(panel);
    toggleButton->setAutoRaise(true);
    toggleButton->setIcon(panel->style()->standardIcon(QStyle::SP_TitleBarShadeButton));
    toggleButton->setToolTip(tr("Collapse or expand the FFT controls."));
    outer->addWidget(controls, 1);
    outer->addWidget(collapsedLabel, 1);
    outer->addWidget(toggleButton, 0, Qt::AlignTop | Qt::AlignRight);

    auto* grid = new QGridLayout(controls);
    qth_setLayoutParams(grid, 0, *_prefs->layoutSpacing);
    auto label = [this](const QString& text) { return new QLabel(text, controls); };
    fminEdit = new UnitEdit(controls);
    fminEdit->configure(QStringLiteral("Hz"), ' ', 0, 6250000, 6);
    fminEdit->setMinimumWidth(48);
    fminEdit->setValue(fminValue);
    fmaxEdit = new UnitEdit(controls);
    fmaxEdit->configure(QStringLiteral("Hz"), ' ', 0, 6250000, 6);
    fmaxEdit->setMinimumWidth(48);
    fmaxEdit->setValue(fmaxValue);
    pointsLabel = label(tr("Points"));
    pointsEdit = new UnitEdit(controls);
    pointsEdit->configure(QString(), ' ', 1, 8388608);
    pointsEdit->setValue(points);
    pointsLabel->hide();
    pointsEdit->hide();
    windowCombo = new QComboBox(controls);
    windowCombo->addItems(QStringLiteral("Rectangular,Hamming,Blackman,Flat Top").split(QLatin1Char(',')));
    windowCombo->setCurrentIndex(windowIndex);
    avgEdit = new UnitEdit(controls);
    avgEdit->configure(QString(), ' ', 1, 16384);
    avgEdit->setValue(averageValue);
    yScalingCombo = new QComboBox(controls);
    yScalingCombo->addItems(QStringList{QStringLiteral("Magnitude [V]"), QStringLiteral("Magnitude [dBV]"),
                                        QStringLiteral("Power Density [dBm]"), QStringLiteral("Power Spectrum [dBm]")});
    yScalingCombo->setCurrentIndex(yScalingIndex);
    auto* sqrtHzLabel = label(QStringLiteral("1/&radic;Hz"));
    sqrtHzLabel->setTextFormat(Qt::RichText);
    sqrtHzCheck = new QCheckBox(controls);
    sqrtHzCheck->setChecked(sqrtHz);
    pckSyncLabel = label(tr("Packet Sync"));
    pckSyncCheck = new QCheckBox(controls);
    pckSyncCheck->setChecked(packetSync);
    pckSyncLabel->hide();
    pckSyncCheck->hide();
    enableCheck = new QCheckBox(tr("Enable"), controls);
    enableCheck->setChecked(true);
    enableCheck->hide();
    infoLabel = label(tr("Info"));
    // The long info line must not widen the page: it takes the room there is and shows whole in its tool tip.
    infoLabel->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
    progress = new QProgressBar(controls);
    progress->setRange(0, 1000);
    progress->setTextVisible(false);
    progress->setFixedHeight(4);
    progress->hide();

    grid->addWidget(label(tr("Fmin")), 0, 0);
    grid->addWidget(fminEdit, 1, 0);
    grid->addWidget(label(tr("Fmax")), 0, 1);
    grid->addWidget(fmaxEdit, 1, 1);
    grid->addWidget(pointsLabel, 0, 2);
    grid->addWidget(pointsEdit, 1, 2);
    grid->addWidget(label(tr("Window")), 0, 3);
    grid->addWidget(windowCombo, 1, 3);
    grid->addWidget(label(tr("Average")), 0, 4);
    grid->addWidget(avgEdit, 1, 4);
    grid->addWidget(label(tr("Y-Scaling")), 0, 5);
    grid->addWidget(yScalingCombo, 1, 5);
    grid->addWidget(sqrtHzLabel, 0, 6);
    grid->addWidget(sqrtHzCheck, 1, 6);
    auto* syncRow = new QHBoxLayout;
    syncRow->addWidget(pckSyncLabel);
    syncRow->addWidget(pckSyncCheck);
    syncRow->addWidget(enableCheck);
    syncRow->addStretch();
    grid->addLayout(syncRow, 0, 7);
    grid->addWidget(infoLabel, 1, 7);
    grid->addWidget(progress, 2, 0, 1, 8);
    for (int c = 0; c < 7; ++c)
        grid->setColumnStretch(c, 100);
    grid->setColumnStretch(7, 1000);

    connect(windowCombo, SIGNAL(activated(int)), this, SLOT(changeFftWindow(int)));
    connect(yScalingCombo, SIGNAL(activated(int)), this, SLOT(changeFftYScaling(int)));
    connect(avgEdit, SIGNAL(changed(int)), this, SLOT(changeFftAvg()));
    connect(fminEdit, SIGNAL(changed(int)), this, SLOT(changeFftFmin()));
    connect(fmaxEdit, SIGNAL(changed(int)), this, SLOT(changeFftFmax()));
    connect(pointsEdit, SIGNAL(changed(int)), this, SLOT(changePoints()));
    connect(sqrtHzCheck, SIGNAL(stateChanged(int)), this, SLOT(changeSqrtHz(int)));
    connect(pckSyncCheck, SIGNAL(stateChanged(int)), this, SLOT(changePckSync(int)));
    connect(enableCheck, SIGNAL(stateChanged(int)), this, SLOT(changeEnable(int)));
    connect(toggleButton, &QToolButton::clicked, this, [this]() { toggleCtrl(); });

    enbw = windowEnbw(windowIndex);
    coherentGain = windowCoherentGain(windowIndex);
    adaptResolution();
    calculateFftSize();
}

FftFilter::~FftFilter()
{
    delete panel.data();
}

QWidget* FftFilter::getWidget()
{
    return panel;
}

// ---- windows ----

double FftFilter::windowValue(int window, int n, int size)
{
    const double* a = kWindowCoefficients[windowOf(window)];
    if (size < 2)
        return a[0] - a[1] + a[2] - a[3] + a[4];
    const double x = double(n) / double(size - 1);
    return a[0] - a[1] * std::cos(2 * kPi * x) + a[2] * std::cos(4 * kPi * x) - a[3] * std::cos(6 * kPi * x) +
           a[4] * std::cos(8 * kPi * x);
}

double FftFilter::windowEnbw(int window)
{
    // N * sum(w^2) / sum(w)^2 for large N: (a0^2 + sum(ak^2)/2) / a0^2.
    const double* a = kWindowCoefficients[windowOf(window)];
    double power = a[0] * a[0];
    for (int k = 1; k < 5; ++k)
        power += a[k] * a[k] / 2;
    return power / (a[0] * a[0]);
}

double FftFilter::windowCoherentGain(int window)
{
    return kWindowCoefficients[windowOf(window)][0];
}

// ---- properties ----

void FftFilter::setDataPhysX(int value)
{
    // In period mode the value is the time of one sample, and the extent is that of the whole line.
    const qint64 extent = periodMode ? qint64(value) * (rangeX() - 1) : qint64(value);
    const int p = int(qBound<qint64>(std::numeric_limits<int>::min(), extent, std::numeric_limits<int>::max()));
    if (input.isSet(StreamFormat::PhysX) && p == physX())
        return;
    input.set(StreamFormat::PhysX, p);
    updateSampleRate();
}

void FftFilter::setDataUnitX(int unit)
{
    if (!input.isSet(StreamFormat::UnitX) || unit != unitX()) {
        input.set(StreamFormat::UnitX, unit);
        updateSampleRate();
    }
    // The spectrum's axis is in Hz whatever the input's unit.
    GPlugin::setDataUnitX(unitXOut);
}

void FftFilter::setDataRangeX(int value)
{
    if (periodMode || value <= 0)
        return;
    const int n = value == 1 ? 2 : value;
    if (n == rangeX() && input.isSet(StreamFormat::RangeX))
        return;
    input.set(StreamFormat::RangeX, n);
    // The sample rate and, in frame mode, the transform size follow the line length.
    if (frameMode)
        checkFreqTopRange(false);
    updateSampleRate();
}

void FftFilter::setDataOffsetX(int) {}

void FftFilter::setDataOffsetVal(int)
{
    // Spectra carry no value offset.
    GPlugin::setDataOffsetVal(0);
}

void FftFilter::setDataOrder(GPlugin::DataOrder order)
{
    input.set(StreamFormat::Order, order);
    const bool mode = order == cyclic || periodMode;
    if (mode != frameMode) {
        frameMode = mode;
        if (panel)
            pointsEdit->setEnabled(!frameMode);
        checkFreqTopRange(true);
    }
    // Each spectrum is one line of the band, whatever the order of the samples.
    GPlugin::setDataOrder(cyclic);
}

void FftFilter::setDataEncoding(GPlugin::DataEncoding encoding)
{
    input.set(StreamFormat::Encoding, encoding);
    const bool wide = allow48 && (int(encoding) & ~0xFF00) == 6;
    if (wide != wide48) {
        wide48 = wide;
        lowPending = false;
        dropFrame();
    }
    GPlugin::setDataEncoding(Int32Enc);
}

void FftFilter::setDataPhysVal(int value)
{
    input.set(StreamFormat::PhysVal, value);
    adaptResolution();
}

void FftFilter::setDataPhysValNumerator(int value)
{
    if (value == 0)
        return;
    input.set(StreamFormat::PhysValNumerator, value);
    adaptResolution();
}

void FftFilter::setDataUnitVal(int unit)
{
    if (input.isSet(StreamFormat::UnitVal) && unit == unitIn())
        return;
    input.set(StreamFormat::UnitVal, unit);
    unitOut = unit;
    changeFftYScaling(yScalingIndex);
}

void FftFilter::setDataTrigger(GPlugin::DataTrigger trigger)
{
    GPlugin::setDataTrigger(trigger);
}

void FftFilter::init()
{
    fill = noFrame;
    ++generation;
    fminEditedLast = false;
    checkFreqTopRange(false);
    GPlugin::init();
}

double FftFilter::physIn() const
{
    // Counts per unit of the input; a resolution of 0 or below would divide by zero: it counts as 1.
    const double p = double(physValIn()) / double(numeratorIn());
    return p > 0 && std::isfinite(p) ? p : 1.0;
}

bool FftFilter::isDbScale() const
{
    return yScalingIndex != MagnitudeV;
}

void FftFilter::report(const QString& text)
{
    emit statusChanged(QStringLiteral("%1: %2").arg(getName(), text), -1, 2);
}

void FftFilter::updateSampleRate()
{
    const int p = physX();
    const int u = unitX();
    if (p == 0 || u == 0x80)
        return;
    double factor = 1.0;
    algoGetBaseUnit(u, nullptr, &factor);
    const double rate = double(rangeX() - 1) / (double(p) * factor);
    if (!std::isfinite(rate) || rate <= 0.0) {
        if (!sampleRateWarned)
            report(tr("sample rate %1 Hz ignored").arg(rate));
        sampleRateWarned = true;
        return;
    }
    sampleRateWarned = false;
    const double previous = sampleRate;
    if (rate == previous)
        return;
    sampleRate = rate;
    if (panel) {
        const int nyq = algoNearest(sampleRate / 2);
        fminEdit->setMaximum(std::max(nyq, 1));
        fmaxEdit->setMaximum(std::max(nyq, 1));
    }
    // The first sample rate keeps the band that was set; a later change opens it to the top.
    checkFreqTopRange(previous >= 2.0);
}

// ---- band and size ----

void FftFilter::checkFreqTopRange(bool toTop)
{
    if (sampleRate < 2.0)
        return;
    const int frameN = 1 << algoLogb(quint64(std::max(rangeX(), 2)));
    const double nMax = frameMode ? std::min(frameN, maxN) : maxN;
    const double nyq = sampleRate / 2;
    double hi = std::clamp(double(fmaxValue), 0.0, nyq);
    double lo = std::clamp(double(fminValue), 0.0, nyq);
    const double minSpan = points * sampleRate / nMax;
    if (fminEditedLast)
        hi = std::min(std::max(lo + minSpan, hi), nyq);
    else
        lo = std::max(0.0, std::min(lo, hi - minSpan));
    if (toTop)
        hi = nyq;
    fmin = lo;
    fmax = hi;
    fminValue = algoNearest(lo);
    fmaxValue = algoNearest(hi);
    if (fminSetting.value().toDouble() != lo)
        fminSetting.setValue(lo);
    if (fmaxSetting.value().toDouble() != hi)
        fmaxSetting.setValue(hi);
    if (panel) {
        const QSignalBlocker b1(fminEdit), b2(fmaxEdit), b3(pointsEdit);
        fminEdit->setValue(fminValue);
        fmaxEdit->setValue(fmaxValue);
        if (!frameMode && !pointsEdit->isHidden()) {
            const int most = std::max(1, saturate((hi - lo) / (sampleRate / nMax)));
            pointsEdit->setMaximum(most);
            if (points > most) {
                points = most;
                pointsEdit->setValue(points);
            }
        }
    }
    calculateFftSize();
}

void FftFilter::calculateFftSize()
{
    if (frameMode) {
        N = std::min(1 << algoLogb(quint64(std::max(rangeX(), 2))), maxN);
    } else {
        const double res = (fmax - fmin) / std::max(points, 1);
        qint64 n;
        if (res > 0)
            n = nextPowerOfTwo(sampleRate / res); // the smallest power of two not below sampleRate/res
        else
            n = nextPowerOfTwo(2.0 * points); // an empty band: Points bins up to Nyquist
        N = int(std::clamp<qint64>(n, std::min(128, maxN), maxN));
    }
    const double df = sampleRate / N;
    kMax = std::min(saturate(std::ceil(fmax / df)), N / 2 - 1);
    kMin = std::min(saturate(std::floor(fmin / df)), N / 2 - 1);
    kMin = std::clamp(kMin, 0, kMax);
    kMax = std::max(kMax, kMin);
    SetupBuffers();
    if (panel)
        infoLabel->setText(infoText());
        infoLabel->setToolTip(infoLabel->text());
    rateLimit = periodMode ? 1 : std::max(1, int(std::ceil(std::trunc(df) / 20)));
    const double span = (kMax - kMin) * df;
    GPlugin::setDataPhysX(saturate(std::trunc(span)));
    GPlugin::setDataOffsetX(saturate(std::trunc(df * kMin + span * 0.5)));
    GPlugin::setDataRangeX(kMax - kMin + 1);
    GPlugin::setDataUnitX(unitXOut);
}

QString FftFilter::infoText() const
{
    return tr("Performing %1 points FFT (%2 points displayed), resolution:%3[Hz]")
        .arg(N)
        .arg(kMax - kMin + 1)
        .arg(sampleRate / N);
}

void FftFilter::SetupBuffers()
{
    ++generation; // a transform that runs now is abandoned
    fill = noFrame;
    avgCount = 0;
    frameReady = false;
    lowPending = false;
    if (busy) {
        // The running transform still uses the buffers: they are rebuilt when it has returned.
        resetPending = true;
        return;
    }
    const int band = kMax - kMin + 1;
    try {
        if (fft.size() != N && !fft.setSize(N))
            throw std::bad_alloc();
        frameBuf.resize(size_t(N));
        if (windowIndex == Rectangular) {
            std::vector<double>().swap(windowBuf);
        } else if (windowBuf.size() != size_t(N) || windowFor != windowIndex) {
            windowBuf.resize(size_t(N));
            for (int n = 0; n < N; ++n)
                windowBuf[size_t(n)] = windowValue(windowIndex, n, N);
        }
        windowFor = windowIndex;
        accRe.assign(size_t(band), 0.0);
        accIm.assign(size_t(band), 0.0);
        binRe.assign(size_t(band), 0.0);
        binIm.assign(size_t(band), 0.0);
        out.assign(size_t(band), 0);
    } catch (const std::bad_alloc&) {
        fft.setSize(0);
        std::vector<double>().swap(frameBuf);
        std::vector<double>().swap(windowBuf);
        windowFor = -1;
        report(tr("not enough memory for a %1 points FFT").arg(N));
    }
    if (showProgress && panel)
        updateProgress(true);
}

void FftFilter::restartAveraging()
{
    avgCount = 0;
    std::fill(accRe.begin(), accRe.end(), 0.0);
    std::fill(accIm.begin(), accIm.end(), 0.0);
}

void FftFilter::dropFrame()
{
    fill = noFrame;
    ++generation;
    restartAveraging();
}

// ---- resolution ----

FftFilter::Resolution FftFilter::resolutionFor(int e) const
{
    const double p = physIn();
    double qd = std::ldexp(scale * p, -e); // counts per unit of the input
    int unit = unitIn();
    double ratio = 1.0; // factor of `unit` over that of the input's unit
    // A resolution that is not a whole number of counts moves to larger units (1000 times the counts each step)
    // until it is whole or fine enough that cutting the fraction does not matter.
    auto canRaise = [](int u) { return u >= 0x80 && (u & 0xFF) - 0x80 < 6 && (u & 0xFF) - 0x80 >= -6; };
    while ((qd < 1.0 || qd != std::floor(qd)) && qd < 1e6 && canRaise(unit)) {
        qd *= 1000.0;
        ++unit;
        ratio *= 1000.0;
    }
    const int q = std::max(1, saturate(std::floor(qd)));
    return Resolution{q, unit, q / (p * ratio)};
}

void FftFilter::adaptResolution()
{
    const int u = unitIn();
    double f = 0.0;
    if (isVoltFamily(u))
        f = std::max(20.0 * std::pow(10.0, -3.0 * ((u & 0xFF) - 0x80)), 1.0);
    else if (u == 0x17E)
        f = 100.0;
    rangeShift = 0;
    rangeFactor = 1.0;
    if (f == 0.0) {
        // Units without a scale of their own: the spectrum is in the input's counts.
        scale = 1.0;
        outFactor = 1.0;
        GPlugin::setDataPhysVal(physValIn());
        GPlugin::setDataPhysValNumerator(numeratorIn());
        GPlugin::setDataUnitVal(u);
        SetupBuffers();
        return;
    }
    const double s = isDbScale() ? kDbResolution : 1e9 / f;
    scale = s / physIn();
    unitOut = u;
    GPlugin::setDataPhysValNumerator(1);
    if (isDbScale()) {
        outFactor = scale;
        GPlugin::setDataPhysVal(saturate(s));
        GPlugin::setDataUnitVal(kUnitDb);
    } else {
        const Resolution r = resolutionFor(0);
        outFactor = r.factor;
        GPlugin::setDataPhysVal(r.q);
        GPlugin::setDataUnitVal(r.unit);
    }
    SetupBuffers();
}

// ---- slots ----

void FftFilter::changeFftWindow(int index)
{
    windowIndex = windowOf(index);
    if (windowSetting.value().toInt() != windowIndex || windowSetting.value().isEmpty())
        windowSetting.setValue(windowIndex);
    enbw = windowEnbw(windowIndex);
    coherentGain = windowCoherentGain(windowIndex);
    if (panel && windowCombo->currentIndex() != windowIndex) {
        const QSignalBlocker block(windowCombo);
        windowCombo->setCurrentIndex(windowIndex);
    }
    SetupBuffers();
}

void FftFilter::changeFftAvg()
{
    if (panel)
        averageValue = std::clamp(avgEdit->getValue(), 1, 16384);
    if (avgSetting.value().toInt() != averageValue)
        avgSetting.setValue(averageValue);
    // A changed count starts the averaging again, so that every spectrum is the mean of exactly that many frames.
    restartAveraging();
    if (showProgress && panel)
        updateProgress(true);
}

void FftFilter::changeFftYScaling(int index)
{
    if (index >= 0 && index < 4)
        yScalingIndex = index;
    if (yScalingSetting.value().toInt() != yScalingIndex || yScalingSetting.value().isEmpty())
        yScalingSetting.setValue(yScalingIndex);
    if (panel && yScalingCombo->currentIndex() != yScalingIndex) {
        const QSignalBlocker block(yScalingCombo);
        yScalingCombo->setCurrentIndex(yScalingIndex);
    }
    adaptResolution();
}

void FftFilter::changeFftFmin()
{
    if (panel)
        fminValue = fminEdit->getValue();
    fminEditedLast = true;
    checkFreqTopRange(false);
}

void FftFilter::changeFftFmax()
{
    if (panel)
        fmaxValue = fmaxEdit->getValue();
    fminEditedLast = false;
    checkFreqTopRange(false);
}

void FftFilter::changePoints()
{
    if (panel)
        points = std::max(1, pointsEdit->getValue());
    checkFreqTopRange(false);
}

void FftFilter::changeSqrtHz(int state)
{
    sqrtHz = state != 0;
    if (sqrtHzSetting.value().toInt() != int(sqrtHz) || sqrtHzSetting.value().isEmpty())
        sqrtHzSetting.setValue(int(sqrtHz));
}

void FftFilter::changePckSync(int state)
{
    packetSync = state != 0;
    if (pckSyncSetting.value().toInt() != int(packetSync) || pckSyncSetting.value().isEmpty())
        pckSyncSetting.setValue(int(packetSync));
}

void FftFilter::changeEnable(int state)
{
    enabled = state != 0;
}

void FftFilter::toggleCtrl(bool expand)
{
    expanded = expand ? true : !expanded;
    if (!panel)
        return;
    controls->setVisible(expanded);
    collapsedLabel->setVisible(!expanded);
    toggleButton->setIcon(
        panel->style()->standardIcon(expanded ? QStyle::SP_TitleBarShadeButton : QStyle::SP_TitleBarUnshadeButton));
}

void FftFilter::savableChanged(QString key, QString value)
{
    bool ok = false;
    const double v = value.toDouble(&ok);
    if (!ok)
        return;
    if (key == QLatin1String("MinFrequency") || key == QLatin1String("MaxFrequency")) {
        const bool isMin = key == QLatin1String("MinFrequency");
        (isMin ? fminValue : fmaxValue) = algoNearest(v);
        if (panel) {
            const QSignalBlocker b1(fminEdit), b2(fmaxEdit);
            (isMin ? fminEdit : fmaxEdit)->setValue(algoNearest(v));
        }
        fminEditedLast = isMin;
        checkFreqTopRange(false);
    } else if (key == QLatin1String("Average")) {
        averageValue = std::clamp(int(v), 1, 16384);
        if (panel) {
            const QSignalBlocker block(avgEdit);
            avgEdit->setValue(averageValue);
        }
        restartAveraging();
    } else if (key == QLatin1String("WindowFunction")) {
        if (windowOf(int(v)) != windowIndex)
            changeFftWindow(int(v));
    } else if (key == QLatin1String("YScaling")) {
        if (int(v) != yScalingIndex && v >= 0 && v < 4)
            changeFftYScaling(int(v));
    } else if (key == QLatin1String("SqrtHzEnable")) {
        sqrtHz = v != 0;
        if (panel) {
            const QSignalBlocker block(sqrtHzCheck);
            sqrtHzCheck->setChecked(sqrtHz);
        }
    } else if (key == QLatin1String("PacketSync")) {
        packetSync = v != 0;
        if (panel) {
            const QSignalBlocker block(pckSyncCheck);
            pckSyncCheck->setChecked(packetSync);
        }
    }
}

// ---- options ----

void FftFilter::setOption(QString key, QString value)
{
    const QString k = key.toLower();
    int n = 0;
    const bool isInt = parseInt(value, &n);
    auto bandValue = [&](double* v) {
        bool ok = false;
        *v = value.trimmed().toDouble(&ok);
        if (!ok || !std::isfinite(*v)) {
            report(tr("option %1: \"%2\" is not a frequency").arg(key, value));
            return false;
        }
        // The line display sends its selection in the base unit of its axis, which is Hz for a spectrum, so
        // "RangeXStart" and "RangeXStartHz" read alike.
        *v = std::clamp(*v, 0.0, 2147483647.0);
        return true;
    };
    double v = 0;
    if (k == QLatin1String("fftsizemax")) {
        if (!isInt)
            return;
        if (n < 2 || n > hardMaxN)
            report(tr("fftsizemax %1 is outside 2..%2; limited").arg(n).arg(hardMaxN));
        maxN = 1 << algoLogb(quint64(std::clamp(n, 2, hardMaxN)));
    } else if (k == QLatin1String("showprogress")) {
        if (!isInt)
            return;
        showProgress = n != 0;
        if (panel)
            progress->setVisible(showProgress);
    } else if (k == QLatin1String("showpointbox")) {
        if (!isInt)
            return;
        if (panel) {
            pointsLabel->setVisible(n != 0);
            pointsEdit->setVisible(n != 0);
        }
    } else if (k == QLatin1String("enable64bit")) {
        if (!isInt)
            return;
        allow48 = n != 0;
        if (wide48 && !allow48) {
            wide48 = false;
            dropFrame();
        }
    } else if (k == QLatin1String("rangexstart") || k == QLatin1String("rangexstarthz")) {
        if (!bandValue(&v))
            return;
        fminValue = algoNearest(v);
        if (panel) {
            const QSignalBlocker block(fminEdit);
            fminEdit->setValue(fminValue);
        }
        fminEditedLast = true;
        checkFreqTopRange(false);
    } else if (k == QLatin1String("rangexend") || k == QLatin1String("rangexendhz")) {
        if (!bandValue(&v))
            return;
        fmaxValue = algoNearest(v);
        if (panel) {
            const QSignalBlocker block(fmaxEdit);
            fmaxEdit->setValue(fmaxValue);
        }
        fminEditedLast = false;
        checkFreqTopRange(false);
    } else if (key == QLatin1String("ShowSyncOption")) {
        if (!isInt)
            return;
        if (panel) {
            pckSyncLabel->setVisible(n != 0);
            pckSyncCheck->setVisible(n != 0);
        }
    } else if (key == QLatin1String("ScalingEntries")) {
        const QStringList captions = EnumMap(value).getCaptions();
        if (captions.size() != 4) {
            report(tr("ScalingEntries needs 4 entries, not %1").arg(captions.size()));
            return;
        }
        if (panel) {
            const QSignalBlocker block(yScalingCombo);
            yScalingCombo->clear();
            yScalingCombo->addItems(captions);
            yScalingCombo->setCurrentIndex(yScalingIndex);
        }
    } else if (k == QLatin1String("showrms")) {
        if (!isInt)
            return;
        rmsScaling = n != 0;
    } else if (k == QLatin1String("complexavg")) {
        if (!isInt)
            return;
        complexAvg = n != 0;
    } else if (k == QLatin1String("period")) {
        if (!isInt || n < 1)
            return;
        periodMode = false; // so that setDataRangeX takes the line length
        setDataRangeX(n);
        setDataOrder(cyclic);
        periodMode = true;
        frameMode = true;
        if (physX() != 0) {
            input.set(StreamFormat::PhysX, saturate(double(rangeX() - 1) * physX()));
            updateSampleRate();
        }
    } else if (k == QLatin1String("packetsync")) {
        if (!isInt)
            return;
        packetSync = n != 0;
        if (panel)
            pckSyncCheck->setChecked(packetSync);
        changePckSync(packetSync ? 2 : 0);
    } else if (k == QLatin1String("visible")) {
        if (!isInt)
            return;
        if (panel)
            panel->setVisible(n != 0);
    } else if (k == QLatin1String("average")) {
        if (!isInt)
            return;
        averageValue = std::clamp(n, 1, 16384);
        if (panel) {
            const QSignalBlocker block(avgEdit);
            avgEdit->setValue(averageValue);
        }
        changeFftAvg();
    } else {
        return; // not ours: a peer event for another plug-in
    }
    calculateFftSize();
}

// ---- data ----

void FftFilter::setData(const int* data, int count, int index)
{
    if (!enabled || !data || count <= 0 || index < 0)
        return;
    // A full frame waits for the running transform, or the buffers are being rebuilt: the block is dropped.
    if (frameReady || resetPending || fft.size() != N || frameBuf.size() != size_t(N))
        return;
    const qint64 start = index;
    const qint64 end = start + count;
    if (!wide48) {
        consume(start, end, start, count, [data](int i) { return double(data[i]); });
        return;
    }
    // 48-bit values: pairs of words, low word first, each pair starting at an even position. A pair split across
    // two adjacent blocks is joined; a high word without its low word is skipped.
    scratch48.clear();
    int w = 0;
    qint64 firstValue = start / 2;
    if (start & 1) {
        if (lowPending && pendingLowIndex + 1 == start)
            scratch48.push_back(double(StreamFormat::decode48(pendingLow, quint32(data[0]))));
        else
            firstValue = (start + 1) / 2;
        w = 1;
    }
    lowPending = false;
    for (; w + 1 < count; w += 2)
        scratch48.push_back(double(StreamFormat::decode48(quint32(data[w]), quint32(data[w + 1]))));
    if (w < count) {
        lowPending = true;
        pendingLow = quint32(data[w]);
        pendingLowIndex = start + w;
    }
    const double* values = scratch48.data();
    consume(start, end, firstValue, int(scratch48.size()), [values](int i) { return values[i]; });
}

template <class Sample>
void FftFilter::consume(qint64 startWord, qint64 endWord, qint64 firstValue, int count, Sample sample)
{
    int first = 0;
    if (fill < N) {
        if (!periodMode && startWord > lastEnd) {
            // A gap: the open frame would mix samples from both sides of it.
            fill = noFrame;
            ++generation;
            restartAveraging();
            return;
        }
    } else {
        if (packetSync && startWord != 0)
            return;
        const int line = rangeX();
        if (frameMode && line > 0) {
            const qint64 r = firstValue % line;
            const qint64 skip = r ? line - r : 0;
            if (skip >= count)
                return;
            first = int(skip);
        }
        fill = 0;
    }
    lastEnd = endWord;
    const int take = std::min(count - first, N - fill);
    double* to = frameBuf.data() + fill;
    for (int i = 0; i < take; ++i)
        to[i] = sample(first + i);
    fill += take;
    if (showProgress)
        updateProgress(false);
    if (fill == N)
        frameFull();
}

void FftFilter::frameFull()
{
    if (busy) {
        frameReady = true; // taken up when the running transform is done
        return;
    }
    QPointer<FftFilter> alive(this);
    busy = true;
    do {
        frameReady = false;
        // Frames counted beyond the average (up to the rate limit) are not added, so they need no transform.
        if (avgCount < averageValue) {
            const bool done = transformFrame(alive);
            if (!alive)
                return;
            if (!done)
                break;
        } else {
            fill = noFrame;
        }
        ++avgCount;
        if (avgCount == averageValue) {
            makeOutput();
            if (!alive)
                return;
        }
        if (avgCount >= rateLimit && avgCount >= averageValue)
            avgCount = 0;
    } while (frameReady && !resetPending);
    busy = false;
    if (resetPending) {
        resetPending = false;
        SetupBuffers();
    }
}

bool FftFilter::transformFrame(const QPointer<FftFilter>& alive)
{
    // The transform reads the frame (windowed) in its first stage, before pending events may run: from here on the
    // frame buffer takes the next frame.
    fill = noFrame;
    RealFft::StageHook hook;
    if (algoLogb(quint64(N)) > 15 && QCoreApplication::instance()) {
        const quint64 started = generation;
        hook = [this, alive, started]() {
            QCoreApplication::processEvents();
            return alive && generation == started;
        };
    }
    if (!fft.transform(frameBuf.data(), windowBuf.empty() ? nullptr : windowBuf.data(), hook) || !alive)
        return false;

    const double g = rmsScaling ? kRms : 1.0;
    const int band = kMax - kMin + 1;
    if (complexAvg) {
        fft.bins(kMin, kMax, binRe.data(), binIm.data());
        for (int i = 0; i < band; ++i) {
            accRe[size_t(i)] += binRe[size_t(i)];
            accIm[size_t(i)] += binIm[size_t(i)];
        }
    } else if (kMin == 0) {
        fft.addMagnitudes(0, 0, g / N, accRe.data());
        if (kMax > 0)
            fft.addMagnitudes(1, kMax, 2 * g / N, accRe.data() + 1);
    } else {
        fft.addMagnitudes(kMin, kMax, 2 * g / N, accRe.data());
    }
    return true;
}

void FftFilter::makeOutput()
{
    const int band = kMax - kMin + 1;
    const double df = sampleRate / N;
    const double p = physIn();
    // Everything that does not depend on the bin is folded into one factor: value = src[i] * f.
    double f = 1.0 / coherentGain / averageValue;
    if (sqrtHz)
        f /= std::sqrt(df);
    const double* src = accRe.data();
    if (complexAvg) {
        double* mag = binRe.data();
        for (int i = 0; i < band; ++i)
            mag[i] = std::sqrt(accRe[size_t(i)] * accRe[size_t(i)] + accIm[size_t(i)] * accIm[size_t(i)]);
        if (kMin == 0)
            mag[0] *= 0.5; // the DC bin has no negative twin
        f *= 2.0 * (rmsScaling ? kRms : 1.0) / N;
        src = mag;
    }
    int* to = out.data();
    if (isDbScale()) {
        // dB values are relative to 1 V (or 1 mW): values in mV or uV are taken to V first.
        double unitFactor = 1.0;
        if (isVoltFamily(unitIn()))
            algoGetBaseUnit(unitIn(), nullptr, &unitFactor);
        // out = 20 P log10(max(a, 0.001) * ref) * scale [- 10 P log10(enbw df) * scale for the density]
        const double ref =
            yScalingIndex == MagnitudeDbV ? unitFactor / (p * 0.7071067811865475) : unitFactor / (p * 0.316);
        const double c1 = 20 * p * scale;
        double c0 = c1 * std::log10(ref);
        if (yScalingIndex == PowerDensityDbm)
            c0 -= 10 * p * std::log10(enbw * df) * scale;
        for (int i = 0; i < band; ++i)
            to[i] = saturate(c1 * std::log10(std::max(src[i] * f, 0.001)) + c0);
    } else {
        // Magnitudes are not negative: the largest is the band's maximum.
        double m0 = 0, m1 = 0, m2 = 0, m3 = 0;
        int i = 0;
        for (; i + 4 <= band; i += 4) {
            m0 = m0 < src[i] ? src[i] : m0;
            m1 = m1 < src[i + 1] ? src[i + 1] : m1;
            m2 = m2 < src[i + 2] ? src[i + 2] : m2;
            m3 = m3 < src[i + 3] ? src[i + 3] : m3;
        }
        for (; i < band; ++i)
            m0 = std::max(m0, src[i]);
        const double m = std::max(std::max(m0, m1), std::max(m2, m3)) * f * scale;
        // The smallest shift that brings every value within the limit.
        int e = 0;
        if (m > magnitudeLimit && std::isfinite(m))
            e = std::max(0, int(std::ceil(std::log2(m / magnitudeLimit))));
        if (e != rangeShift) {
            const Resolution r = resolutionFor(e);
            outFactor = r.factor;
            rangeFactor = r.factor / scale;
            rangeShift = e;
            GPlugin::setDataUnitVal(r.unit);
            GPlugin::setDataPhysVal(r.q);
        }
        const double k = f * outFactor;
        const double limit = magnitudeLimit;
        double* acc = accRe.data();
        for (int j = 0; j < band; ++j) {
            double v = src[j] * k;
            v = v < limit ? v : limit; // also a NaN becomes the limit
            to[j] = int(v);
            acc[j] = 0.0; // the next average starts here
        }
    }
    if (isDbScale() || complexAvg)
        std::fill(accRe.begin(), accRe.end(), 0.0);
    if (complexAvg)
        std::fill(accIm.begin(), accIm.end(), 0.0);
    // While a frame is processed the buffers stay put: a band change from the successor (a range selection) is
    // applied afterwards.
    GPlugin::setData(out.data(), band, 0);
}

void FftFilter::updateProgress(bool force)
{
    if (!panel || !progress->isVisible())
        return;
    if (!force && progressClock.isValid() && progressClock.elapsed() < 100)
        return;
    progressClock.start();
    const double total = double(averageValue) * N;
    const double done = double(N) * avgCount + (fill < N ? fill : 0);
    progress->setValue(int(std::clamp(1000.0 * done / total, 0.0, 1000.0)));
}
