// Time per transform of the FFT filter's RealFft beside FFTW's real-to-complex transform of the same data (when
// FFTW is installed: it is GPL, so only this benchmark links it), and the filter's whole per-frame work (window,
// transform, accumulate, scale and output the band) beside the transform alone. Compare the CPU columns (the machine
// may be shared): BM_RealFft/N against BM_FftwR2c/N, and BM_FftFilterFrame/N against BM_RealFft/N.

#include "filters/fftfilter.h"
#include "filters/realfft.h"
#include "utilif/unitedit.h"

#include <benchmark/benchmark.h>
#include <cmath>
#include <memory>
#include <vector>

#ifdef ORVIK_HAVE_FFTW
#include <fftw3.h>
#endif

namespace {

std::vector<double> noisySine(int n)
{
    std::vector<double> x(static_cast<size_t>(n), 0.0);
    quint32 seed = 12345;
    for (int i = 0; i < n; ++i) {
        seed = seed * 1664525u + 1013904223u;
        x[size_t(i)] = std::round(10000.0 * std::sin(0.01 * i) + double(seed >> 22) - 512.0);
    }
    return x;
}

// The same work as FFTW's r2c: real samples in, bins 0..N/2 out.
void BM_RealFft(benchmark::State& state)
{
    const int n = int(state.range(0));
    const std::vector<double> x = noisySine(n);
    RealFft fft;
    fft.setSize(n);
    std::vector<double> re(size_t(n / 2 + 1)), im(size_t(n / 2 + 1));
    for (auto _ : state) {
        fft.transform(x.data(), nullptr);
        fft.bins(0, n / 2, re.data(), im.data());
        benchmark::DoNotOptimize(re.data());
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
}

#ifdef ORVIK_HAVE_FFTW
void BM_FftwR2c(benchmark::State& state)
{
    const int n = int(state.range(0));
    const std::vector<double> x = noisySine(n);
    double* in = fftw_alloc_real(size_t(n));
    fftw_complex* out = fftw_alloc_complex(size_t(n / 2 + 1));
    fftw_plan plan = fftw_plan_dft_r2c_1d(n, in, out, FFTW_MEASURE); // planning overwrites `in`
    std::copy(x.begin(), x.end(), in);                               // an out-of-place r2c keeps its input
    for (auto _ : state) {
        fftw_execute(plan);
        benchmark::DoNotOptimize(out);
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * n);
    fftw_destroy_plan(plan);
    fftw_free(in);
    fftw_free(out);
}
BENCHMARK(BM_FftwR2c)->Arg(1024)->Arg(16384)->Arg(1 << 20);
#endif

// The end of the chain: keeps only the size of each spectrum.
class Sink : public GPlugin
{
public:
    Sink() : GPlugin(nullptr, QStringLiteral("sink"), nullptr) {}
    void setData(const int* data, int count, int) override
    {
        benchmark::DoNotOptimize(data);
        words += count;
    }
    qint64 words = 0;
};

// One frame of N samples through the filter: Hamming window, Average 1, the whole band 0..Nyquist. 16 N samples per
// second make bins of 16 Hz, so that every frame is transformed and sent (no rate limit).
void BM_FftFilterFrame(benchmark::State& state)
{
    const int n = int(state.range(0));
    std::vector<int> frame(static_cast<size_t>(n));
    const std::vector<double> x = noisySine(n);
    for (int i = 0; i < n; ++i)
        frame[size_t(i)] = int(x[size_t(i)]);
    auto filter = std::make_unique<FftFilter>(nullptr, QStringLiteral("benchfft"));
    auto* sink = new Sink;
    filter->setSuccessor(sink);
    filter->setOption(QStringLiteral("fftsizemax"), QString::number(n));
    filter->changeFftWindow(FftFilter::Hamming);
    filter->changeFftYScaling(int(state.range(1)));
    filter->setDataOrder(GPlugin::linear);
    filter->setDataRangeX(n + 1);
    filter->setDataPhysX(62500); // n samples in 62.5 ms
    filter->setDataUnitX(0x47E);
    filter->setDataPhysVal(1000);
    filter->setDataUnitVal(0x280);
    filter->setOption(QStringLiteral("RangeXStartHz"), QStringLiteral("0"));
    filter->setOption(QStringLiteral("RangeXEndHz"), QString::number(8 * n));
    filter->pointsField()->setValue(n / 2);
    filter->changePoints();
    if (filter->fftSize() != n || filter->getRateLimit() != 1) {
        state.SkipWithError("the filter did not take the size");
        return;
    }
    for (auto _ : state)
        filter->setData(frame.data(), n, 0);
    if (sink->words == 0)
        state.SkipWithError("no spectrum came out");
    state.counters["bins"] = double(filter->lastBin() - filter->firstBin() + 1);
    state.SetItemsProcessed(state.iterations() * n);
}

} // namespace

BENCHMARK(BM_RealFft)->Arg(1024)->Arg(16384)->Arg(1 << 20);
// Second argument: the Y scaling (0 "Magnitude [V]", 2 "Power Density [dBm]").
BENCHMARK(BM_FftFilterFrame)->Args({1024, 0})->Args({16384, 0})->Args({1 << 20, 0})->Args({16384, 2});
