#pragma once
// FftFilter ("FFT Data Filter"): turns a stream of sampled values into averaged single-sided spectra.
//
// It collects N consecutive samples (N a power of two, from the band and the number of points or from the frame
// length), applies a window, transforms them (RealFft), accumulates magnitudes or complex values over "Average"
// frames, scales the mean to the chosen Y scaling (linear magnitude or one of three dB scales) and sends the selected
// band to its successor as one cyclic line of 32-bit integers, starting at index 0.
//
// Consumed or rewritten on the way: the X properties (the successor gets the frequency axis of the band in Hz), the
// order (always cyclic: each spectrum is one line), the encoding (always Int32), the value resolution and unit (the
// scaling's own), the value offset (0) and the value resolution's numerator (folded into the resolution; 1 goes on).
// The raw data do not go on. Everything else is forwarded unchanged.

#include "filters/realfft.h"
#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "utilif/savable.h"

#include <QElapsedTimer>
#include <QPointer>
#include <vector>

class QCheckBox;
class QComboBox;
class QFrame;
class QLabel;
class QProgressBar;
class QToolButton;
class UnitEdit;

class FftFilter : public GPlugin
{
    Q_OBJECT
public:
    enum Window { Rectangular = 0, Hamming = 1, Blackman = 2, FlatTop = 3 };
    enum YScaling { MagnitudeV = 0, MagnitudeDbV = 1, PowerDensityDbm = 2, PowerSpectrumDbm = 3 };

    /// No frame is open while `fill` holds this value.
    static constexpr int noFrame = 0xFFFFFFF;
    /// The largest transform: "fftsizemax" and frame lengths are limited to it.
    static constexpr int hardMaxN = 1 << 24;
    /// Largest magnitude of a "Magnitude [V]" output value (2^29 - 1).
    static constexpr int magnitudeLimit = 536870911;

    FftFilter(QWidget* parent, QString name);
    ~FftFilter() override;

    QWidget* getWidget() override;
    void setOption(QString key, QString value) override;
    void init() override;
    void setDataOrder(GPlugin::DataOrder order) override;
    void setDataEncoding(GPlugin::DataEncoding encoding) override;
    void setDataRangeX(int value) override;
    void setDataOffsetX(int value) override;
    void setDataOffsetVal(int value) override;
    void setDataPhysX(int value) override;
    void setDataPhysVal(int value) override;
    void setDataPhysValNumerator(int value) override;
    void setDataTrigger(GPlugin::DataTrigger trigger) override;
    void setDataUnitX(int unit) override;
    void setDataUnitVal(int unit) override;
    void setData(const int* data, int count, int index) override;

    /// Window value w(n) of `window` for n = 0..size-1.
    static double windowValue(int window, int n, int size);
    /// Equivalent noise bandwidth (in bins) and coherent gain of `window`.
    static double windowEnbw(int window);
    static double windowCoherentGain(int window);

    // State, for hosts and tests.
    int fftSize() const { return N; }
    int maxFftSize() const { return maxN; }
    int firstBin() const { return kMin; }
    int lastBin() const { return kMax; }
    double getSampleRate() const { return sampleRate; }
    double binWidth() const { return sampleRate / N; }
    int getRateLimit() const { return rateLimit; }
    int averageCount() const { return avgCount; }
    int average() const { return averageValue; }
    int yScaling() const { return yScalingIndex; }
    int window() const { return windowIndex; }
    double bandMin() const { return fmin; }
    double bandMax() const { return fmax; }
    double getEnbw() const { return enbw; }
    double getCoherentGain() const { return coherentGain; }
    double getScale() const { return scale; }
    int getRangeShift() const { return rangeShift; }
    bool isFrameMode() const { return frameMode; }
    bool isWide48() const { return wide48; }
    bool isEnabled() const { return enabled; }
    /// Size of the buffers held now (samples of the transform; 0 when none).
    int allocatedSize() const { return fft.size(); }
    QString infoText() const;
    UnitEdit* fminField() const { return fminEdit; }
    UnitEdit* fmaxField() const { return fmaxEdit; }
    UnitEdit* pointsField() const { return pointsEdit; }
    UnitEdit* averageField() const { return avgEdit; }
    QComboBox* windowBox() const { return windowCombo; }
    QComboBox* yScalingBox() const { return yScalingCombo; }
    QCheckBox* sqrtHzBox() const { return sqrtHzCheck; }
    QCheckBox* packetSyncBox() const { return pckSyncCheck; }
    QProgressBar* progressBar() const { return progress; }
    QWidget* controlPanel() const { return controls; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void changeFftWindow(int index);
    void changeFftAvg();
    void changeFftYScaling(int index);
    void changeFftFmin();
    void changeFftFmax();
    void changePoints();
    void changeSqrtHz(int state);
    void changePckSync(int state);
    void changeEnable(int state);
    void toggleCtrl(bool expand = false);
    void savableChanged(QString key, QString value);

private:
    void checkFreqTopRange(bool toTop);
    void calculateFftSize();
    void SetupBuffers();
    void adaptResolution();
    void updateSampleRate();
    void restartAveraging();
    void dropFrame();
    void frameFull();
    /// Transforms and accumulates the frame in `frameBuf`; false when the transform was abandoned. `alive` turns
    /// null when the filter was deleted while pending events ran.
    bool transformFrame(const QPointer<FftFilter>& alive);
    void makeOutput();
    struct Resolution
    {
        int q;         // counts per unit
        int unit;      // unit code
        double factor; // output counts per accumulated count
    };
    /// The resolution of "Magnitude [V]" values shifted right by `e` bits.
    Resolution resolutionFor(int e) const;
    template <class Sample> void consume(qint64 startWord, qint64 endWord, qint64 firstValue, int count, Sample sample);
    void updateProgress(bool force);
    double physIn() const;
    bool isDbScale() const;
    void report(const QString& text);

    // Settings.
    Savable windowSetting;
    Savable avgSetting;
    Savable yScalingSetting;
    Savable fminSetting;
    Savable fmaxSetting;
    Savable sqrtHzSetting;
    Savable pckSyncSetting;

    // Controls (the page may delete the panel before the plug-in).
    QPointer<QFrame> panel;
    QWidget* controls = nullptr;
    QLabel* collapsedLabel = nullptr;
    QToolButton* toggleButton = nullptr;
    UnitEdit* fminEdit = nullptr;
    UnitEdit* fmaxEdit = nullptr;
    UnitEdit* pointsEdit = nullptr;
    QLabel* pointsLabel = nullptr;
    QComboBox* windowCombo = nullptr;
    UnitEdit* avgEdit = nullptr;
    QComboBox* yScalingCombo = nullptr;
    QCheckBox* sqrtHzCheck = nullptr;
    QLabel* pckSyncLabel = nullptr;
    QCheckBox* pckSyncCheck = nullptr;
    QCheckBox* enableCheck = nullptr;
    QLabel* infoLabel = nullptr;
    QProgressBar* progress = nullptr;
    bool expanded = true;

    // The incoming stream: order, encoding, RangeX, PhysX (times RangeX - 1 in period mode), UnitX, PhysVal,
    // PhysValNumerator and UnitVal as received (unset: the initial values below).
    StreamFormat input;
    int rangeX() const { return input.value(StreamFormat::RangeX, 2); }
    int physX() const { return input.value(StreamFormat::PhysX, 0); }
    int unitX() const { return input.value(StreamFormat::UnitX, 0x80); }
    int unitIn() const { return input.value(StreamFormat::UnitVal, 0x280); }
    int physValIn() const { return input.value(StreamFormat::PhysVal, 0x3333); }
    int numeratorIn() const { return input.value(StreamFormat::PhysValNumerator, 1); }
    int unitOut = 0x280;
    static constexpr int unitXOut = 0x380; // the spectrum's axis is in Hz

    // Model values (the controls show them; the page may delete the controls first).
    int fminValue = 0; // the Fmin and Fmax fields, in Hz
    int fmaxValue = 40000;
    double fmin = 0.0; // the band
    double fmax = 40000.0;
    int points = 500;
    int averageValue = 1;
    int windowIndex = Rectangular;
    int yScalingIndex = MagnitudeV;
    bool sqrtHz = false;
    bool packetSync = false;

    // Transform and band.
    int N = 1024;
    int maxN = hardMaxN;
    int kMin = 0;
    int kMax = 0;
    double sampleRate = 1.0;
    int rateLimit = 1;
    double enbw = 1.0;
    double coherentGain = 1.0;
    double scale = 1.0;
    double outFactor = 1.0; // counts of the output per accumulated count (Magnitude [V], after the shift)
    int rangeShift = 0;
    double rangeFactor = 1.0;

    // Flags.
    bool enabled = true;
    bool frameMode = false;
    bool periodMode = false;
    bool wide48 = false;
    bool allow48 = true;
    bool rmsScaling = true;
    bool complexAvg = false;
    bool showProgress = false;
    bool fminEditedLast = false;
    bool sampleRateWarned = false;

    // Frames.
    int fill = noFrame;
    qint64 lastEnd = 0;
    int avgCount = 0;
    std::vector<double> frameBuf;  // the frame being filled (N samples)
    std::vector<double> windowBuf; // w(n), empty for "Rectangular"
    int windowFor = -1;            // the window that windowBuf holds
    std::vector<double> accRe;     // per-bin sums of the band
    std::vector<double> accIm;
    std::vector<double> binRe; // the band of one transform (complex averaging)
    std::vector<double> binIm;
    std::vector<int> out;
    RealFft fft;
    // A 48-bit value whose high word has not arrived yet: the low word and its position.
    bool lowPending = false;
    quint32 pendingLow = 0;
    qint64 pendingLowIndex = 0;
    std::vector<double> scratch48;
    // A transform that lets pending events run: data that complete another frame meanwhile wait in `frameBuf`, and a
    // reset is done after the transform (which it abandons).
    bool busy = false;
    bool frameReady = false;
    bool resetPending = false;
    quint64 generation = 0;
    QElapsedTimer progressClock;
};

GPlugin* fftFilterFactory(QWidget* parent, QString name);
