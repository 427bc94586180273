// The FFT Data Filter: transform against a plain DFT, band and size, averaging, the four scalings, the output
// properties and bad input.
#include "connection/channel.h"
#include "connection/datagroup.h"
#include "connection/viewpage.h"
#include "filters/fftfilter.h"
#include "filters/realfft.h"
#include "framework/streamformat.h"
#include "support/recordingplugin.h"
#include "utilif/unitedit.h"

#include <QComboBox>

#include <QCoreApplication>
#include <QSignalSpy>
#include <QTimer>
#include <cmath>
#include <complex>
#include <gtest/gtest.h>
#include <memory>
#include <random>
#include <vector>

namespace {

constexpr double kPi = 3.14159265358979323846;

// X[k] = sum x[n] exp(-2 pi i n k / N), k = 0..N/2, the plain way.
std::vector<std::complex<double>> dft(const std::vector<double>& x)
{
    const size_t n = x.size();
    std::vector<std::complex<double>> table(n);
    for (size_t j = 0; j < n; ++j)
        table[j] = std::polar(1.0, -2 * kPi * double(j) / double(n));
    std::vector<std::complex<double>> out(n / 2 + 1);
    for (size_t k = 0; k <= n / 2; ++k) {
        std::complex<double> sum = 0;
        for (size_t j = 0; j < n; ++j)
            sum += x[j] * table[(j * k) % n];
        out[k] = sum;
    }
    return out;
}

// |X[k]| of one bin, the plain way.
double binMagnitude(const std::vector<double>& x, int k)
{
    std::complex<double> sum = 0;
    const size_t n = x.size();
    for (size_t j = 0; j < n; ++j)
        sum += x[j] * std::polar(1.0, -2 * kPi * double((j * size_t(k)) % n) / double(n));
    return std::abs(sum);
}

// Integer samples of offset + amplitude * sin(2 pi bin n / size).
std::vector<double> sine(int count, double amplitude, double bin, int size, double offset = 0.0)
{
    std::vector<double> v(static_cast<size_t>(count));
    for (int n = 0; n < count; ++n)
        v[size_t(n)] = std::round(offset + amplitude * std::sin(2 * kPi * bin * n / size));
    return v;
}

// A filter with a recorder behind it; each one has its own settings (instance name).
struct FftChain
{
    FftChain()
    {
        static int serial = 0;
        filter = std::make_unique<FftFilter>(nullptr, QStringLiteral("fft%1").arg(++serial));
        rec = new RecordingPlugin;
        filter->setSuccessor(rec);
    }
    FftFilter* operator->() { return filter.get(); }

    // A linear stream: `rangeX` samples span `physXus` microseconds; values in `unitVal` with `physVal` counts each.
    void stream(int rangeX, int physXus, int unitVal = 0x280, int physVal = 1000)
    {
        filter->setDataOrder(GPlugin::linear);
        filter->setDataRangeX(rangeX);
        filter->setDataPhysX(physXus);
        filter->setDataUnitX(0x47E);
        filter->setDataPhysVal(physVal);
        filter->setDataUnitVal(unitVal);
    }
    // 25600 samples per second, band 0..12800 Hz, 500 points: N = 1024, bins of 25 Hz.
    void stream1024(int unitVal = 0x280, int physVal = 1000) { stream(2561, 100000, unitVal, physVal); }

    // The samples in blocks of `block` words, positions running on from `start`.
    void feed(const std::vector<double>& samples, int block = 256, int start = 0)
    {
        std::vector<int> words(samples.size());
        for (size_t i = 0; i < samples.size(); ++i)
            words[i] = int(samples[i]);
        feedWords(words, block, start);
    }
    void feedWords(const std::vector<int>& words, int block, int start = 0)
    {
        for (size_t at = 0; at < words.size(); at += size_t(block)) {
            const int n = int(std::min(words.size() - at, size_t(block)));
            filter->setData(words.data() + at, n, start + int(at));
        }
    }

    // The lines the successor received.
    std::vector<std::vector<int>> spectra() const
    {
        std::vector<std::vector<int>> lines;
        int at = 0;
        for (const QString& call : rec->calls) {
            if (!call.startsWith(QLatin1String("setData ")))
                continue;
            const int n = call.section(QLatin1Char(' '), 1, 1).toInt();
            lines.emplace_back(rec->words.begin() + at, rec->words.begin() + at + n);
            at += n;
        }
        return lines;
    }

    std::unique_ptr<FftFilter> filter;
    RecordingPlugin* rec;
};

// The value the filter must send for bin k of the windowed frame's transform X.
double expected(int scaling, std::complex<double> X, int k, int N, double physVal, double df, int window)
{
    const double g = 0.7071067811865476;
    double a = std::abs(X) / N * g * (k == 0 ? 1.0 : 2.0) / FftFilter::windowCoherentGain(window);
    const double p = physVal;
    switch (scaling) {
    case FftFilter::MagnitudeV:
        return std::trunc(a * 5e7 / p);
    case FftFilter::MagnitudeDbV:
        return std::trunc(20 * p * std::log10(std::max(a, 0.001) / (p * 0.7071067811865475)) * 2.5e6 / p);
    case FftFilter::PowerDensityDbm: {
        const double d = 20 * p * std::log10(std::max(a, 0.001) / (p * 0.316));
        return std::trunc((d - 10 * p * std::log10(FftFilter::windowEnbw(window) * df)) * 2.5e6 / p);
    }
    default:
        return std::trunc(20 * p * std::log10(std::max(a, 0.001) / (p * 0.316)) * 2.5e6 / p);
    }
}

} // namespace

TEST(RealFft_Transform, MatchesThePlainDftForEverySmallSize)
{
    std::mt19937 rng(7);
    std::uniform_real_distribution<double> u(-1000, 1000);
    for (int n = 2; n <= 2048; n *= 2) {
        SCOPED_TRACE(n);
        RealFft fft;
        ASSERT_TRUE(fft.setSize(n));
        std::vector<double> x(static_cast<size_t>(n));
        for (double& v : x)
            v = u(rng);
        for (int j = 0; j < n / 2; ++j) {
            fft.evenData()[j] = x[size_t(2 * j)];
            fft.oddData()[j] = x[size_t(2 * j + 1)];
        }
        ASSERT_TRUE(fft.transform());
        std::vector<double> re(size_t(n / 2 + 1)), im(size_t(n / 2 + 1)), mag(size_t(n / 2 + 1), 0.0);
        fft.bins(0, n / 2, re.data(), im.data());
        fft.addMagnitudes(0, n / 2, 2.0, mag.data());
        const auto ref = dft(x);
        for (int k = 0; k <= n / 2; ++k) {
            EXPECT_NEAR(re[size_t(k)], ref[size_t(k)].real(), 1e-9 * n * 1000) << k;
            EXPECT_NEAR(im[size_t(k)], ref[size_t(k)].imag(), 1e-9 * n * 1000) << k;
            EXPECT_NEAR(mag[size_t(k)], 2.0 * std::abs(ref[size_t(k)]), 1e-9 * n * 1000) << k;
        }
        // Straight from the samples, windowed: the same as packing them by hand.
        std::vector<double> win(x.size()), wre(re.size()), wim(im.size());
        for (size_t j = 0; j < win.size(); ++j)
            win[j] = 0.5 + 0.25 * std::cos(double(j));
        RealFft direct;
        ASSERT_TRUE(direct.setSize(n));
        ASSERT_TRUE(direct.transform(x.data(), win.data()));
        direct.bins(0, n / 2, wre.data(), wim.data());
        for (int j = 0; j < n / 2; ++j) {
            fft.evenData()[j] = x[size_t(2 * j)] * win[size_t(2 * j)];
            fft.oddData()[j] = x[size_t(2 * j + 1)] * win[size_t(2 * j + 1)];
        }
        ASSERT_TRUE(fft.transform());
        for (int k = 0; k <= n / 2; ++k) {
            double r = 0, i = 0;
            fft.bins(k, k, &r, &i);
            ASSERT_NEAR(wre[size_t(k)], r, 1e-9 * n) << k;
            ASSERT_NEAR(wim[size_t(k)], i, 1e-9 * n) << k;
        }
        ASSERT_TRUE(fft.transform(x.data(), nullptr));
        // Any part of the spectrum alone gives the same bins.
        std::uniform_int_distribution<int> pick(0, n / 2);
        for (int trial = 0; trial < 20; ++trial) {
            int first = pick(rng), last = pick(rng);
            if (first > last)
                std::swap(first, last);
            std::vector<double> pr(size_t(last - first + 1)), pi(pr.size()), pm(pr.size(), 0.0);
            fft.bins(first, last, pr.data(), pi.data());
            fft.addMagnitudes(first, last, 2.0, pm.data());
            for (int k = first; k <= last; ++k) {
                ASSERT_NEAR(pr[size_t(k - first)], re[size_t(k)], 1e-9) << first << ".." << last << " " << k;
                ASSERT_NEAR(pi[size_t(k - first)], im[size_t(k)], 1e-9) << first << ".." << last << " " << k;
                ASSERT_NEAR(pm[size_t(k - first)], mag[size_t(k)], 1e-9) << first << ".." << last << " " << k;
            }
        }
    }
}

TEST(RealFft_Transform, RefusesBadSizesAndStopsWhenTheHookSaysSo)
{
    RealFft fft;
    for (int bad : {0, 1, 3, 1000, -4, 1 << 30}) {
        SCOPED_TRACE(bad);
        EXPECT_FALSE(fft.setSize(bad));
        EXPECT_EQ(fft.size(), 0);
        EXPECT_FALSE(fft.transform());
    }
    ASSERT_TRUE(fft.setSize(1 << 12));
    int calls = 0;
    EXPECT_TRUE(fft.transform([&calls]() { return ++calls > 0; }));
    EXPECT_EQ(calls, fft.stageCount() - 1);
    calls = 0;
    EXPECT_FALSE(fft.transform([&calls]() { return ++calls < 2; }));
    EXPECT_EQ(calls, 2);
}

TEST(FftFilter_Catalogue, IsRegisteredInItsPlaceAndRunsInAPageFedByAChannel)
{
    int matches = 0;
    for (const GPlugin::PluginDescriptor* d : *GPlugin::_typeList) {
        if (d->name != QLatin1String("FFT Data Filter"))
            continue;
        ++matches;
        EXPECT_EQ(d->flags, 0x1004);
        EXPECT_EQ(d->description, QStringLiteral("Fast Fourier Transformation."));
        EXPECT_EQ(d->factory, &fftFilterFactory);
    }
    EXPECT_EQ(matches, 1);
    EXPECT_LT(catalogueRank(QStringLiteral("FFT Data Filter"), 0x1004),
              catalogueRank(QStringLiteral("Polar Display"), 0x1001));

    QMap<int, DataGroup> groups{{0, DataGroup()}};
    QObject owner;
    auto* channel = new Channel(0, &owner, groups);
    channel->setDataGroup(0);
    ViewPage page(nullptr, QStringLiteral("FftPage"), groups, false);
    page.setChannelList({channel});
    GPlugin* fft = page.addPlugin(QStringLiteral("FFT Data Filter"), QStringLiteral("spectrum"), {}, {});
    ASSERT_NE(fft, nullptr);
    EXPECT_STREQ(fft->metaObject()->className(), "FftFilter");
    EXPECT_NE(fft->getWidget(), nullptr);
    auto* recorder = new RecordingPlugin;
    page.addReceiver(recorder);
    page.setChannelNo(0);
    channel->sendMetadata(0x2001, GPlugin::linear);
    channel->sendMetadata(0x2002, 2561);
    channel->sendMetadata(0x2004, 100000);
    channel->sendMetadata(0x2012, 0x47E);
    const std::vector<double> samples = sine(1024, 3000, 100, 1024);
    std::vector<int> words(samples.begin(), samples.end());
    channel->sendData(words.data(), int(words.size()), 0);
    EXPECT_EQ(recorder->count(QStringLiteral("setData")), 1);
    EXPECT_EQ(recorder->lastValue(QStringLiteral("setDataRangeX")), 512);
    EXPECT_EQ(recorder->lastValue(QStringLiteral("setDataUnitX")), 0x380);
}

TEST(FftFilter_Size, FollowsBandPointsAndFrameLength)
{
    struct Case
    {
        const char* name;
        bool cyclic;
        int rangeX;
        int physXus;
        QList<QPair<QString, QString>> options;
        int points;
        int n;
    };
    const Case cases[] = {
        // 1 MHz, band 0..40 kHz, 500 points: the next power of two above 1e6/80.
        {"points 500 at 1 MHz", false, 1001, 1000, {}, 500, 16384},
        {"never below 128", false, 1001, 1000000, {}, 10, 128},
        {"never above fftsizemax", false, 1001, 1000, {{"fftsizemax", "4096"}}, 500, 4096},
        {"frame mode: largest power of two in the line", true, 1000, 1000, {}, 500, 512},
        {"frame mode: at most fftsizemax", true, 1 << 30, 1000, {{"fftsizemax", "2048"}}, 500, 2048},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        FftChain f;
        for (const auto& o : c.options)
            f->setOption(o.first, o.second);
        f->pointsField()->setValue(c.points);
        f->changePoints();
        f->setDataOrder(c.cyclic ? GPlugin::cyclic : GPlugin::linear);
        f->setDataRangeX(c.rangeX);
        f->setDataPhysX(c.physXus);
        f->setDataUnitX(0x47E);
        EXPECT_EQ(f->fftSize(), c.n);
        EXPECT_EQ(f->allocatedSize(), c.n);
        EXPECT_LE(f->lastBin(), c.n / 2 - 1);
        EXPECT_LE(f->firstBin(), f->lastBin());
    }

    FftChain f;
    f.stream(1001, 1000);
    EXPECT_DOUBLE_EQ(f->getSampleRate(), 1e6);
    EXPECT_EQ(f->lastBin(), 656); // ceil(40000 / 61.03515625)
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataRangeX")), 657);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataPhysX")), int(656 * 1e6 / 16384));
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataOffsetX")), int(656 * 1e6 / 16384 * 0.5));
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitX")), 0x380);
    EXPECT_EQ(f->infoText(),
              QStringLiteral("Performing 16384 points FFT (657 points displayed), resolution:61.0352[Hz]"));
    // A later change of the sample rate opens the band to the top.
    f->setDataPhysX(2000);
    EXPECT_DOUBLE_EQ(f->bandMax(), 250000.0);
}

TEST(FftFilter_Size, OptionsBeforeTheSampleRateAllocateOnlyWhatIsUsed)
{
    FftChain f;
    for (const char* key : {"average", "showprogress", "RangeXStart", "RangeXEnd", "complexavg"})
        f->setOption(QString::fromLatin1(key), QStringLiteral("3"));
    EXPECT_LE(f->allocatedSize(), 1024);
    EXPECT_EQ(f->allocatedSize(), f->fftSize());
}

TEST(FftFilter_Scaling, SineLandsInItsBinWithTheRightValueInEveryScalingAndWindow)
{
    const int N = 1024;
    const double df = 25.0;
    for (int window = 0; window < 4; ++window) {
        for (double bin : {100.0, 37.4}) {
            const std::vector<double> samples = sine(N, 4000, bin, N, 120);
            std::vector<double> windowed(samples);
            for (int n = 0; n < N; ++n)
                windowed[size_t(n)] *= FftFilter::windowValue(window, n, N);
            const auto X = dft(windowed);
            for (int scaling = 0; scaling < 4; ++scaling) {
                SCOPED_TRACE(testing::Message() << "window " << window << " bin " << bin << " scaling " << scaling);
                FftChain f;
                f.stream1024();
                f->changeFftWindow(window);
                f->changeFftYScaling(scaling);
                ASSERT_EQ(f->fftSize(), N);
                ASSERT_EQ(f->firstBin(), 0);
                ASSERT_EQ(f->lastBin(), 511);
                f.feed(samples);
                const auto lines = f.spectra();
                ASSERT_EQ(lines.size(), 1u);
                const std::vector<int>& line = lines[0];
                ASSERT_EQ(line.size(), 512u);
                const int peak = int(std::max_element(line.begin() + 1, line.end()) - line.begin());
                EXPECT_NEAR(peak, bin, 1.0);
                for (int k = 0; k < 512; ++k)
                    ASSERT_NEAR(line[size_t(k)], expected(scaling, X[size_t(k)], k, N, 1000, df, window), 2) << k;
            }
        }
    }
}

TEST(FftFilter_Scaling, ResolutionAndUnitsGoDownstreamPerScaling)
{
    FftChain f;
    f.stream1024(0x280, 1000);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataPhysVal")), 50000000); // counts per V
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitVal")), 0x280);
    f->changeFftYScaling(FftFilter::PowerSpectrumDbm);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataPhysVal")), 2500000); // counts per dB
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitVal")), 0xB80);
    f->changeFftYScaling(FftFilter::MagnitudeV);
    f->setDataUnitVal(0x27E); // uV: 50 counts per uV
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataPhysVal")), 50);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitVal")), 0x27E);
    f->setDataUnitVal(0x27D); // nV: 0.05 counts per nV are 50 counts per uV
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataPhysVal")), 50);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitVal")), 0x27E);
    f->setDataUnitVal(0x480); // seconds: no scale of its own, the input's resolution goes on
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataPhysVal")), 1000);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitVal")), 0x480);

    // dB values are relative to 1 V also when the input is in mV.
    FftChain mv;
    mv.stream1024(0x27F, 1); // one count per mV
    mv->changeFftYScaling(FftFilter::MagnitudeDbV);
    mv.feed(sine(1024, 1000, 100, 1024)); // 1 V amplitude
    const auto lines = mv.spectra();
    ASSERT_EQ(lines.size(), 1u);
    // 1 V peak is 0.707 V RMS, which against the reference of 0.707 is 0 dB.
    EXPECT_NEAR(lines[0][100] / 2.5e6, 0.0, 0.01);
}

TEST(FftFilter_Scaling, MagnitudeStaysWithinItsBoundAndTheResolutionFollowsTheShift)
{
    FftChain f;
    f.stream1024(0x280, 1); // one count per volt: 5e7 output counts per V
    // 1000 V amplitude: 707 V RMS are 3.5e10 counts, 65.9 times the bound (rounding log2 would shift 6 bits only).
    const auto big = sine(1024, 1000, 100, 1024);
    f.feed(big);
    auto lines = f.spectra();
    ASSERT_EQ(lines.size(), 1u);
    for (int v : lines[0])
        EXPECT_LE(std::abs(v), FftFilter::magnitudeLimit);
    EXPECT_EQ(f->getRangeShift(), 7);
    const int q = f.rec->lastValue(QStringLiteral("setDataPhysVal"));
    const int unit = f.rec->lastValue(QStringLiteral("setDataUnitVal"));
    // The value the display shows: counts / (counts per unit) in the unit sent.
    double factor = unit == 0x281 ? 1000.0 : unit == 0x280 ? 1.0 : 0.0;
    ASSERT_GT(factor, 0.0) << std::hex << unit;
    EXPECT_NEAR(lines[0][100] / double(q) * factor, binMagnitude(big, 100) * 2 / 1024 * 0.7071067811865476, 0.01);

    // The same again: the resolution stays as it is.
    const int physValCalls = f.rec->count(QStringLiteral("setDataPhysVal"));
    f.feed(sine(1024, 1000, 100, 1024));
    EXPECT_EQ(f.rec->count(QStringLiteral("setDataPhysVal")), physValCalls);
    // A small signal needs no shift: the first resolution comes back.
    const auto small = sine(1024, 10, 100, 1024);
    f.feed(small);
    EXPECT_EQ(f->getRangeShift(), 0);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataPhysVal")), 50000000);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitVal")), 0x280);
    lines = f.spectra();
    EXPECT_NEAR(lines.back()[100], binMagnitude(small, 100) * 2 / 1024 * 0.7071067811865476 * 5e7, 2);
}

TEST(FftFilter_Average, EveryOutputIsTheMeanOfExactlyFourFrames)
{
    FftChain f;
    f.stream(2049, 10000); // 204800 samples per second
    f->setOption(QStringLiteral("RangeXEndHz"), QStringLiteral("102400"));
    f->setOption(QStringLiteral("average"), QStringLiteral("4"));
    ASSERT_EQ(f->fftSize(), 1024);
    ASSERT_EQ(f->getRateLimit(), 10); // bins of 200 Hz: 200 frames a second, one spectrum every 10
    std::vector<double> stream;
    for (int frame = 1; frame <= 14; ++frame) {
        const auto s = sine(1024, 100 * frame, 64, 1024);
        stream.insert(stream.end(), s.begin(), s.end());
    }
    f.feed(stream, 1024);
    const auto lines = f.spectra();
    ASSERT_EQ(lines.size(), 2u);
    // Output counts per |X| of a bin: 2/N, RMS, 5e7 counts per V at 1000 counts per V.
    const double unit = 2.0 / 1024 * 0.7071067811865476 * 5e7 / 1000;
    auto frameMean = [&stream, unit](int first) {
        double sum = 0;
        for (int i = first; i < first + 4; ++i)
            sum += binMagnitude(std::vector<double>(stream.begin() + i * 1024, stream.begin() + (i + 1) * 1024), 64);
        return sum / 4 * unit;
    };
    EXPECT_NEAR(lines[0][64], frameMean(0), 2);
    EXPECT_NEAR(lines[1][64], frameMean(10), 2);
}

TEST(FftFilter_Average, AGapStartsTheAverageAgain)
{
    FftChain f;
    f.stream1024();
    f->setOption(QStringLiteral("average"), QStringLiteral("2"));
    f.feed(sine(1024, 1000, 100, 1024), 256, 0); // frame 1 is accumulated
    f.feed(sine(512, 1000, 100, 1024), 256, 1024);
    f.feed(sine(256, 1000, 100, 1024), 256, 5000); // a gap: the open frame is dropped
    EXPECT_TRUE(f.spectra().empty());
    const auto later = sine(1024, 2000, 100, 1024);
    f.feed(later, 256, 0);
    f.feed(later, 256, 1024);
    const auto lines = f.spectra();
    ASSERT_EQ(lines.size(), 1u);
    // Frame 1 is not part of it.
    EXPECT_NEAR(lines[0][100], binMagnitude(later, 100) * 2 / 1024 * 0.7071067811865476 * 5e4, 2);
}

TEST(FftFilter_Average, ComplexAveragingCancelsIncoherentFrames)
{
    FftChain f;
    f.stream1024();
    f->setOption(QStringLiteral("complexavg"), QStringLiteral("1"));
    f->setOption(QStringLiteral("average"), QStringLiteral("2"));
    std::vector<double> frames = sine(1024, 1000, 100, 1024);
    for (double v : sine(1024, 1000, 100, 1024))
        frames.push_back(-v); // the second frame in opposite phase
    f.feed(frames);
    const auto lines = f.spectra();
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_LE(std::abs(lines[0][100]), 1);
}

TEST(FftFilter_Windows, EnbwAndCoherentGainMatchTheirClosedForms)
{
    const double enbw[4] = {1.0, 1.362826, 1.726757, 3.770246506303};
    const double gain[4] = {1.0, 0.54, 0.42, 0.215578948};
    const int n = 1 << 16;
    for (int w = 0; w < 4; ++w) {
        SCOPED_TRACE(w);
        double sum = 0, squares = 0;
        for (int i = 0; i < n; ++i) {
            const double v = FftFilter::windowValue(w, i, n);
            sum += v;
            squares += v * v;
        }
        EXPECT_NEAR(FftFilter::windowEnbw(w), enbw[w], 1e-6);
        EXPECT_NEAR(FftFilter::windowCoherentGain(w), gain[w], 1e-9);
        EXPECT_NEAR(n * squares / (sum * sum), enbw[w], 1e-3);
        EXPECT_NEAR(sum / n, gain[w], 1e-3);
        FftChain f;
        f->changeFftWindow(w);
        EXPECT_DOUBLE_EQ(f->getEnbw(), FftFilter::windowEnbw(w));
        EXPECT_DOUBLE_EQ(f->getCoherentGain(), gain[w]);
    }
}

TEST(FftFilter_Input, PacketSyncWaitsForIndexZero)
{
    FftChain f;
    f.stream1024();
    f->setOption(QStringLiteral("packetsync"), QStringLiteral("1"));
    f.feed(sine(1024, 1000, 100, 1024), 256, 512); // no block at 0: nothing opens
    EXPECT_TRUE(f.spectra().empty());
    f.feed(sine(1024, 1000, 100, 1024), 256, 0);
    EXPECT_EQ(f.spectra().size(), 1u);
}

TEST(FftFilter_Input, FrameModeStartsFramesAtLineStarts)
{
    FftChain f;
    f->setDataOrder(GPlugin::cyclic);
    f->setDataRangeX(1000);
    f->setDataPhysX(100000);
    f->setDataUnitX(0x47E);
    f->setDataPhysVal(1000);
    f->setDataUnitVal(0x280);
    ASSERT_EQ(f->fftSize(), 512);
    // Positions 700..1699: the frame opens at 1000 and takes 512 samples of the sine that starts there.
    std::vector<double> block(1000, 99999.0);
    const auto s = sine(700, 1000, 32, 512);
    std::copy(s.begin(), s.end(), block.begin() + 300);
    f.feed(block, 1000, 700);
    const auto lines = f.spectra();
    ASSERT_EQ(lines.size(), 1u);
    const int peak = int(std::max_element(lines[0].begin() + 1, lines[0].end()) - lines[0].begin());
    EXPECT_EQ(peak + f->firstBin(), 32);
}

TEST(FftFilter_Input, Samples48BitAreJoinedAcrossBlocks)
{
    const auto s = sine(1024, 3.0e9, 100, 1024); // beyond 32 bits
    std::vector<int> words;
    for (double v : s) {
        quint32 lo = 0, hi = 0;
        StreamFormat::encode48(qint64(v), &lo, &hi);
        words.push_back(int(lo));
        words.push_back(int(hi));
    }
    std::vector<std::vector<int>> results;
    for (int block : {2048, 2, 3, 7}) {
        SCOPED_TRACE(block);
        FftChain f;
        f.stream1024(0x280, 1);
        f->setDataEncoding(GPlugin::DataEncoding(6));
        ASSERT_TRUE(f->isWide48());
        EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataEncoding")), 0);
        f.feedWords(words, block);
        const auto lines = f.spectra();
        ASSERT_EQ(lines.size(), 1u);
        results.push_back(lines[0]);
    }
    for (size_t i = 1; i < results.size(); ++i)
        EXPECT_EQ(results[i], results[0]);
    // The shifted magnitude is 3e9 * 0.707 V in counts of the resolution sent.
    FftChain f;
    f.stream1024(0x280, 1);
    f->setDataEncoding(GPlugin::DataEncoding(6));
    // A block that begins with a lone high word: the word is skipped, the rest is read in pairs.
    std::vector<int> shifted(words.begin() + 1, words.end());
    f.filter->setData(shifted.data(), int(shifted.size()), 1);
    f.filter->setData(words.data(), 2, 2048); // completes the frame with the pair at 2048
    ASSERT_EQ(f.spectra().size(), 1u);
    f->setOption(QStringLiteral("enable64bit"), QStringLiteral("0"));
    EXPECT_FALSE(f->isWide48());
}

TEST(FftFilter_Input, BadInputGivesASafeResult)
{
    FftChain f;
    QSignalSpy status(f.filter.get(), SIGNAL(statusChanged(QString, int, int)));
    f.stream1024();
    // Sample rates of zero or below are refused with a message and change nothing.
    f->setDataPhysX(-5);
    EXPECT_DOUBLE_EQ(f->getSampleRate(), 25600.0);
    ASSERT_FALSE(status.isEmpty());
    EXPECT_EQ(status.last().at(2).toInt(), 2);
    // N beyond the maximum is limited to it.
    f->setOption(QStringLiteral("fftsizemax"), QStringLiteral("1073741824"));
    EXPECT_EQ(f->maxFftSize(), FftFilter::hardMaxN);
    f->setOption(QStringLiteral("fftsizemax"), QStringLiteral("lots"));
    EXPECT_EQ(f->maxFftSize(), FftFilter::hardMaxN);
    // A band beyond Nyquist is cut at it.
    f->setOption(QStringLiteral("RangeXStartHz"), QStringLiteral("1e12"));
    f->setOption(QStringLiteral("RangeXEndHz"), QStringLiteral("nan"));
    EXPECT_LE(f->bandMax(), f->getSampleRate() / 2);
    EXPECT_LE(f->firstBin(), f->lastBin());
    EXPECT_LE(f->lastBin(), f->fftSize() / 2 - 1);
    // Degenerate blocks.
    f.filter->setData(nullptr, 10, 0);
    const int one = 5;
    f.filter->setData(&one, 0, 0);
    f.filter->setData(&one, 1, -3);
    f->setOption(QStringLiteral("ScalingEntries"), QStringLiteral("a,b"));
    EXPECT_EQ(f->yScalingBox()->count(), 4);
    f->setOption(QStringLiteral("ScalingEntries"), QStringLiteral("A,B,C,D"));
    EXPECT_EQ(f->yScalingBox()->itemText(3), QStringLiteral("D"));
}

TEST(FftFilter_Properties, TheSpectrumDescribesItself)
{
    FftChain f;
    f.stream1024();
    f.rec->clear();
    // An X unit from upstream does not change the spectrum's axis, which is in Hz.
    f->setDataUnitX(0x47D);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataUnitX")), 0x380);
    EXPECT_FALSE(f.rec->calls.contains(QStringLiteral("setDataUnitX 895"))); // 0x37F
    // The value offset of the input does not apply to spectra: the display gets 0 as its value offset.
    f->setDataOffsetVal(1234);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataOffsetVal")), 0);
    EXPECT_EQ(f.rec->count(QStringLiteral("setDataOffsetY")), 0);
    // Spectra are lines; Int32 words.
    f->setDataOrder(GPlugin::forBack);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataOrder")), int(GPlugin::cyclic));
    f->setDataEncoding(GPlugin::Int16);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataEncoding")), 0);
    f->setDataTrigger(GPlugin::time);
    EXPECT_EQ(f.rec->lastValue(QStringLiteral("setDataTrigger")), int(GPlugin::time));
    // Consumed: the input's X properties.
    f.rec->clear();
    f->setDataOffsetX(7);
    EXPECT_EQ(f.rec->count(QStringLiteral("setDataOffsetX")), 0);
}

TEST(FftFilter_Options, ARangeFromTheSpectrumDisplayZoomsTheTransform)
{
    FftChain f;
    f.stream1024();
    // The display after the filter sends its selection, in Hz, up the chain.
    f.rec->sendEventToPeers(QStringLiteral("RangeXStart"), QStringLiteral("2000"), true);
    f.rec->sendEventToPeers(QStringLiteral("RangeXEnd"), QStringLiteral("3000"), true);
    EXPECT_DOUBLE_EQ(f->bandMin(), 2000.0);
    EXPECT_DOUBLE_EQ(f->bandMax(), 3000.0);
    EXPECT_EQ(f->fftSize(), 16384); // 500 points over 1 kHz
    EXPECT_NEAR(f->firstBin() * f->binWidth(), 2000.0, f->binWidth());
    EXPECT_NEAR(f->lastBin() * f->binWidth(), 3000.0, f->binWidth());
    EXPECT_EQ(f->fminField()->getValue(), 2000);
    EXPECT_EQ(f->fmaxField()->getValue(), 3000);
}

TEST(FftFilter_Transform, LongTransformsLetEventsRunAndAResetAbandonsThem)
{
    for (bool reset : {false, true}) {
        SCOPED_TRACE(reset);
        FftChain f;
        f.stream(65537, 1000000); // 65536 samples per second
        f->setOption(QStringLiteral("RangeXEndHz"), QStringLiteral("500"));
        ASSERT_EQ(f->fftSize(), 65536);
        bool ran = false;
        FftFilter* filter = f.filter.get();
        QTimer::singleShot(0, filter, [&ran, filter, reset]() {
            ran = true;
            if (reset)
                filter->init();
        });
        f.feed(sine(65536, 1000, 100, 65536), 65536);
        EXPECT_TRUE(ran); // the event ran while the transform was going on
        EXPECT_EQ(f.spectra().size(), reset ? 0u : 1u);
    }
}
