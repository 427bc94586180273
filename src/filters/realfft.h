#pragma once
// RealFft: forward DFT of a real sequence of n = 2^k samples, without normalisation,
//     X[k] = sum_j x[j] * exp(-2*pi*i*j*k/n),  k = 0 .. n/2.
//
// The n real samples are packed as n/2 complex values z[j] = x[2j] + i*x[2j+1] (written by the caller to evenData()
// and oddData(), or read from one array by transform(samples, window)), transformed by a self-sorting radix-4
// (Stockham) complex FFT of size n/2 with precomputed twiddles on split real/imaginary arrays, and unpacked bin by
// bin on request. On x86-64 the radix-4 stages have hand-vectorised AVX2/FMA versions and the other loops are built
// for AVX2 and for the baseline; the processor picks at run time. Use it when the same size is transformed many
// times: setSize() does all allocation and the trigonometry.

#include <functional>
#include <memory>

class RealFft
{
public:
    /// Called between two stages of a transform; returning false abandons the transform.
    using StageHook = std::function<bool()>;
    static constexpr int maxLog2 = 26;

    RealFft() = default;
    RealFft(const RealFft&) = delete;
    RealFft& operator=(const RealFft&) = delete;

    /// Prepares for n samples: n must be a power of two in [2, 2^maxLog2]. False (and size 0) for other sizes or when
    /// the memory cannot be had; the previous buffers are released either way.
    bool setSize(int n);
    int size() const { return n; }
    /// Number of stages between which the hook of transform() runs.
    int stageCount() const { return stages; }

    /// Input: x[0], x[2], ... (n/2 values) and x[1], x[3], ... (n/2 values). transform() overwrites both.
    double* evenData() { return zr; }
    double* oddData() { return zi; }

    /// Transforms the input. With a hook, it runs after every stage but the last; false from it abandons the
    /// transform (returns false, the spectrum is undefined).
    bool transform(const StageHook& hook = StageHook());
    /// Transforms the n real `samples` (multiplied by `window` when not null) without touching evenData() and
    /// oddData() first; the samples are read during the first stage only, before the hook first runs.
    bool transform(const double* samples, const double* window, const StageHook& hook = StageHook());

    /// Bins first..last (0 <= first <= last <= n/2) of the last transform into re[0..] and im[0..].
    void bins(int first, int last, double* re, double* im) const;
    /// Magnitudes |X[k]| * factor of bins first..last, added to acc[0..].
    void addMagnitudes(int first, int last, double factor, double* acc) const;

private:
    bool runStages(int from, double* xr, double* xi, double* yr, double* yi, const StageHook& hook);

    struct Free
    {
        void operator()(double* p) const;
    };
    std::unique_ptr<double[], Free> memory;
    int n = 0;
    int stages = 0;
    double* zr = nullptr; // input, then ping-pong buffer
    double* zi = nullptr;
    double* tr = nullptr; // the other ping-pong buffer
    double* ti = nullptr;
    double* twiddles = nullptr; // per radix-4 stage with m butterflies: w1r, w1i, w2r, w2i, w3r, w3i (m each)
    double* postCos = nullptr;  // cos(2*pi*k/n), k = 0 .. n/2
    double* postSin = nullptr;  // sin(2*pi*k/n)
    const double* resultR = nullptr;
    const double* resultI = nullptr;
};
