#include "filters/realfft.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <new>

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#include <immintrin.h>
#endif

// The kernels are plain loops over split real/imaginary arrays; on x86-64 with GCC they are cloned for AVX2/FMA and
// the loader picks the clone that the processor runs.
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__) && defined(__ELF__)
#define FFT_KERNEL __attribute__((target_clones("arch=x86-64-v3", "default")))
#else
#define FFT_KERNEL
#endif

namespace {

constexpr double kTwoPi = 6.283185307179586476925286766559;
constexpr size_t kAlign = 64;

// s radix-4 butterflies with the same twiddles: inputs a, b, c, d, outputs y0..y3 (real and imaginary parts apart).
inline void butterflies(int s, const double* __restrict ar, const double* __restrict br, const double* __restrict cr,
                        const double* __restrict dr, const double* __restrict ai, const double* __restrict bi,
                        const double* __restrict ci, const double* __restrict di, double* __restrict y0r,
                        double* __restrict y1r, double* __restrict y2r, double* __restrict y3r, double* __restrict y0i,
                        double* __restrict y1i, double* __restrict y2i, double* __restrict y3i, double c1, double s1,
                        double c2, double s2, double c3, double s3)
{
    for (int q = 0; q < s; ++q) {
        const double apcr = ar[q] + cr[q], apci = ai[q] + ci[q];
        const double amcr = ar[q] - cr[q], amci = ai[q] - ci[q];
        const double bpdr = br[q] + dr[q], bpdi = bi[q] + di[q];
        const double bmdr = br[q] - dr[q], bmdi = bi[q] - di[q];
        y0r[q] = apcr + bpdr;
        y0i[q] = apci + bpdi;
        const double t1r = amcr + bmdi, t1i = amci - bmdr; // (a - c) - i(b - d)
        y1r[q] = t1r * c1 - t1i * s1;
        y1i[q] = t1r * s1 + t1i * c1;
        const double t2r = apcr - bpdr, t2i = apci - bpdi;
        y2r[q] = t2r * c2 - t2i * s2;
        y2i[q] = t2r * s2 + t2i * c2;
        const double t3r = amcr - bmdi, t3i = amci + bmdr; // (a - c) + i(b - d)
        y3r[q] = t3r * c3 - t3i * s3;
        y3i[q] = t3r * s3 + t3i * c3;
    }
}

// A radix-4 stage of size n = 4m with stride s: for each of the m butterflies p and each of the s interleaved
// sequences q, takes x[q + s*(p + k*m)] (k = 0..3) and writes y[q + s*(4p + k)] with twiddles W^(k*p).
FFT_KERNEL void radix4(int m, int s, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                       double* __restrict yi, const double* __restrict w)
{
    const double* w1r = w;
    const double* w1i = w + m;
    const double* w2r = w + 2 * m;
    const double* w2i = w + 3 * m;
    const double* w3r = w + 4 * m;
    const double* w3i = w + 5 * m;
    const size_t sm = size_t(s) * size_t(m);
    for (int p = 0; p < m; ++p) {
        const double c1 = w1r[p], s1 = w1i[p], c2 = w2r[p], s2 = w2i[p], c3 = w3r[p], s3 = w3i[p];
        const size_t in = size_t(s) * size_t(p);
        const size_t out = size_t(s) * size_t(4 * p);
        butterflies(s, xr + in, xr + in + sm, xr + in + 2 * sm, xr + in + 3 * sm, xi + in, xi + in + sm,
                    xi + in + 2 * sm, xi + in + 3 * sm, yr + out, yr + out + s, yr + out + 2 * s, yr + out + 3 * s,
                    yi + out, yi + out + s, yi + out + 2 * s, yi + out + 3 * s, c1, s1, c2, s2, c3, s3);
    }
}

// The same for a stride known when compiling (the short inner loops of the early stages then unroll).
template <int S>
inline void radix4Fixed(int m, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                        double* __restrict yi, const double* __restrict w)
{
    const size_t sm = size_t(S) * size_t(m);
    for (int p = 0; p < m; ++p) {
        const size_t in = size_t(S) * size_t(p);
        const size_t out = size_t(S) * size_t(4 * p);
        butterflies(S, xr + in, xr + in + sm, xr + in + 2 * sm, xr + in + 3 * sm, xi + in, xi + in + sm,
                    xi + in + 2 * sm, xi + in + 3 * sm, yr + out, yr + out + S, yr + out + 2 * S, yr + out + 3 * S,
                    yi + out, yi + out + S, yi + out + 2 * S, yi + out + 3 * S, w[p], w[m + p], w[2 * m + p],
                    w[3 * m + p], w[4 * m + p], w[5 * m + p]);
    }
}

FFT_KERNEL void radix4Stride4(int m, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                              double* __restrict yi, const double* __restrict w)
{
    radix4Fixed<4>(m, xr, xi, yr, yi, w);
}

FFT_KERNEL void radix4Stride16(int m, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                               double* __restrict yi, const double* __restrict w)
{
    radix4Fixed<16>(m, xr, xi, yr, yi, w);
}

// The first stage (stride 1): the butterflies run along p, so the vectoriser works across them.
FFT_KERNEL void radix4First(int m, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                            double* __restrict yi, const double* __restrict w)
{
    const double* __restrict w1r = w;
    const double* __restrict w1i = w + m;
    const double* __restrict w2r = w + 2 * m;
    const double* __restrict w2i = w + 3 * m;
    const double* __restrict w3r = w + 4 * m;
    const double* __restrict w3i = w + 5 * m;
    for (int p = 0; p < m; ++p) {
        const double apcr = xr[p] + xr[p + 2 * m], apci = xi[p] + xi[p + 2 * m];
        const double amcr = xr[p] - xr[p + 2 * m], amci = xi[p] - xi[p + 2 * m];
        const double bpdr = xr[p + m] + xr[p + 3 * m], bpdi = xi[p + m] + xi[p + 3 * m];
        const double bmdr = xr[p + m] - xr[p + 3 * m], bmdi = xi[p + m] - xi[p + 3 * m];
        yr[4 * p] = apcr + bpdr;
        yi[4 * p] = apci + bpdi;
        const double t1r = amcr + bmdi, t1i = amci - bmdr;
        yr[4 * p + 1] = t1r * w1r[p] - t1i * w1i[p];
        yi[4 * p + 1] = t1r * w1i[p] + t1i * w1r[p];
        const double t2r = apcr - bpdr, t2i = apci - bpdi;
        yr[4 * p + 2] = t2r * w2r[p] - t2i * w2i[p];
        yi[4 * p + 2] = t2r * w2i[p] + t2i * w2r[p];
        const double t3r = amcr - bmdi, t3i = amci + bmdr;
        yr[4 * p + 3] = t3r * w3r[p] - t3i * w3i[p];
        yi[4 * p + 3] = t3r * w3i[p] + t3i * w3r[p];
    }
}

// The last radix-4 stage (one butterfly, all twiddles 1) over s sequences.
FFT_KERNEL void radix4Last(int s, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                           double* __restrict yi)
{
    butterflies(s, xr, xr + s, xr + 2 * s, xr + 3 * s, xi, xi + s, xi + 2 * s, xi + 3 * s, yr, yr + s, yr + 2 * s,
                yr + 3 * s, yi, yi + s, yi + 2 * s, yi + 3 * s, 1.0, 0.0, 1.0, 0.0, 1.0, 0.0);
}

// A closing radix-2 stage (one butterfly) over s sequences.
FFT_KERNEL void radix2Last(int s, const double* __restrict xr, const double* __restrict xi, double* __restrict yr,
                           double* __restrict yi)
{
    for (int q = 0; q < s; ++q) {
        yr[q] = xr[q] + xr[q + s];
        yi[q] = xi[q] + xi[q + s];
        yr[q + s] = xr[q] - xr[q + s];
        yi[q + s] = xi[q] - xi[q + s];
    }
}

// The real spectrum from the packed one: with Z the transform of z[j] = x[2j] + i*x[2j+1] (size h = n/2),
// X[k] = (Z[k] + conj(Z[h-k]))/2 - i*W^k*(Z[k] - conj(Z[h-k]))/2, W = exp(-2*pi*i/n), for 0 < k < h.
FFT_KERNEL void unpack(int first, int last, int h, const double* __restrict zr, const double* __restrict zi,
                       const double* __restrict c, const double* __restrict sn, double* __restrict re,
                       double* __restrict im)
{
    for (int k = first; k <= last; ++k) {
        const int j = h - k;
        const double ar = zr[k], ai = zi[k], br = zr[j], bi = -zi[j];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai + bi);
        const double dr = 0.5 * (ar - br), di = 0.5 * (ai - bi);
        // O = D / i = (di, -dr); X = E + W*O with W = (c, -s).
        re[k - first] = er + c[k] * di - sn[k] * dr;
        im[k - first] = ei - c[k] * dr - sn[k] * di;
    }
}

FFT_KERNEL void unpackMagnitudes(int first, int last, int h, const double* __restrict zr, const double* __restrict zi,
                                 const double* __restrict c, const double* __restrict sn, double factor,
                                 double* __restrict acc)
{
    for (int k = first; k <= last; ++k) {
        const int j = h - k;
        const double ar = zr[k], ai = zi[k], br = zr[j], bi = -zi[j];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai + bi);
        const double dr = 0.5 * (ar - br), di = 0.5 * (ai - bi);
        const double xr = er + c[k] * di - sn[k] * dr;
        const double xi = ei - c[k] * dr - sn[k] * di;
        acc[k - first] += std::sqrt(xr * xr + xi * xi) * factor;
    }
}

// Bins k and h-k together: both come from Z[k] and Z[h-k], and W^(h-k) = (-c, -s) when W^k = (c, -s).
FFT_KERNEL void unpackPairs(int a, int b, int h, int base, const double* __restrict zr, const double* __restrict zi,
                            const double* __restrict c, const double* __restrict sn, double* __restrict re,
                            double* __restrict im)
{
    for (int k = a; k <= b; ++k) {
        const int j = h - k;
        const double ar = zr[k], ai = zi[k], br = zr[j], bi = -zi[j];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai + bi);
        const double dr = 0.5 * (ar - br), di = 0.5 * (ai - bi);
        const double t1 = c[k] * di - sn[k] * dr, t2 = c[k] * dr + sn[k] * di;
        re[k - base] = er + t1;
        im[k - base] = ei - t2;
        re[j - base] = er - t1;
        im[j - base] = -ei - t2;
    }
}

FFT_KERNEL void unpackMagnitudePairs(int a, int b, int h, int base, const double* __restrict zr,
                                     const double* __restrict zi, const double* __restrict c,
                                     const double* __restrict sn, double factor, double* __restrict acc)
{
    for (int k = a; k <= b; ++k) {
        const int j = h - k;
        const double ar = zr[k], ai = zi[k], br = zr[j], bi = -zi[j];
        const double er = 0.5 * (ar + br), ei = 0.5 * (ai + bi);
        const double dr = 0.5 * (ar - br), di = 0.5 * (ai - bi);
        const double t1 = c[k] * di - sn[k] * dr, t2 = c[k] * dr + sn[k] * di;
        const double xr = er + t1, xi = ei - t2, yr = er - t1, yi = ei + t2;
        acc[k - base] += std::sqrt(xr * xr + xi * xi) * factor;
        acc[j - base] += std::sqrt(yr * yr + yi * yi) * factor;
    }
}

// Runs single(a, b) and pair(a, b) over the bins first..last (0 < first <= last < h) so that every pair k, h-k that
// lies in the range is done by one pass of pair().
template <class Single, class Pair> void splitBand(int first, int last, int h, Single single, Pair pair)
{
    auto one = [&single](int a, int b) {
        if (a <= b)
            single(a, b);
    };
    const int pa = std::max(first, h - last);
    const int pb = std::min(std::min(h / 2 - 1, last), h - first);
    if (pa > pb) {
        one(first, last);
        return;
    }
    one(first, pa - 1);
    pair(pa, pb);
    one(std::max(first, pb + 1), std::min(last, h - pb - 1));
    one(h - pa + 1, last);
}

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))
#define FFT_HAVE_AVX2_PATH 1
// Hand-vectorised radix-4 stages for processors with AVX2 and FMA (four doubles per register); picked at run time.

bool cpuHasAvx2()
{
    static const bool has = __builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma");
    return has;
}

// y = t * (c + i s) for vectors of real and imaginary parts.
#define FFT_CMUL(tr, ti, c, s, yr, yi)                                                                                 \
    do {                                                                                                               \
        yr = _mm256_fmsub_pd(tr, c, _mm256_mul_pd(ti, s));                                                             \
        yi = _mm256_fmadd_pd(tr, s, _mm256_mul_pd(ti, c));                                                             \
    } while (0)

// A radix-4 stage with a stride that is a multiple of 4: four sequences q at a time.
__attribute__((target("avx2,fma"))) void radix4Avx(int m, int s, const double* xr, const double* xi, double* yr,
                                                   double* yi, const double* w)
{
    const size_t sm = size_t(s) * size_t(m);
    for (int p = 0; p < m; ++p) {
        const __m256d c1 = _mm256_set1_pd(w[p]), s1 = _mm256_set1_pd(w[m + p]);
        const __m256d c2 = _mm256_set1_pd(w[2 * m + p]), s2 = _mm256_set1_pd(w[3 * m + p]);
        const __m256d c3 = _mm256_set1_pd(w[4 * m + p]), s3 = _mm256_set1_pd(w[5 * m + p]);
        const double* ar = xr + size_t(s) * size_t(p);
        const double* ai = xi + size_t(s) * size_t(p);
        double* y0r = yr + size_t(s) * size_t(4 * p);
        double* y0i = yi + size_t(s) * size_t(4 * p);
        for (int q = 0; q < s; q += 4) {
            const __m256d a_r = _mm256_loadu_pd(ar + q), a_i = _mm256_loadu_pd(ai + q);
            const __m256d b_r = _mm256_loadu_pd(ar + sm + q), b_i = _mm256_loadu_pd(ai + sm + q);
            const __m256d c_r = _mm256_loadu_pd(ar + 2 * sm + q), c_i = _mm256_loadu_pd(ai + 2 * sm + q);
            const __m256d d_r = _mm256_loadu_pd(ar + 3 * sm + q), d_i = _mm256_loadu_pd(ai + 3 * sm + q);
            const __m256d apcr = _mm256_add_pd(a_r, c_r), apci = _mm256_add_pd(a_i, c_i);
            const __m256d amcr = _mm256_sub_pd(a_r, c_r), amci = _mm256_sub_pd(a_i, c_i);
            const __m256d bpdr = _mm256_add_pd(b_r, d_r), bpdi = _mm256_add_pd(b_i, d_i);
            const __m256d bmdr = _mm256_sub_pd(b_r, d_r), bmdi = _mm256_sub_pd(b_i, d_i);
            _mm256_storeu_pd(y0r + q, _mm256_add_pd(apcr, bpdr));
            _mm256_storeu_pd(y0i + q, _mm256_add_pd(apci, bpdi));
            __m256d or_, oi;
            FFT_CMUL(_mm256_add_pd(amcr, bmdi), _mm256_sub_pd(amci, bmdr), c1, s1, or_, oi);
            _mm256_storeu_pd(y0r + s + q, or_);
            _mm256_storeu_pd(y0i + s + q, oi);
            FFT_CMUL(_mm256_sub_pd(apcr, bpdr), _mm256_sub_pd(apci, bpdi), c2, s2, or_, oi);
            _mm256_storeu_pd(y0r + 2 * s + q, or_);
            _mm256_storeu_pd(y0i + 2 * s + q, oi);
            FFT_CMUL(_mm256_sub_pd(amcr, bmdi), _mm256_add_pd(amci, bmdr), c3, s3, or_, oi);
            _mm256_storeu_pd(y0r + 3 * s + q, or_);
            _mm256_storeu_pd(y0i + 3 * s + q, oi);
        }
    }
}

// Four rows of four doubles become four columns.
__attribute__((target("avx2,fma"))) inline void transpose4(__m256d& v0, __m256d& v1, __m256d& v2, __m256d& v3)
{
    const __m256d t0 = _mm256_unpacklo_pd(v0, v1), t1 = _mm256_unpackhi_pd(v0, v1);
    const __m256d t2 = _mm256_unpacklo_pd(v2, v3), t3 = _mm256_unpackhi_pd(v2, v3);
    v0 = _mm256_permute2f128_pd(t0, t2, 0x20);
    v1 = _mm256_permute2f128_pd(t1, t3, 0x20);
    v2 = _mm256_permute2f128_pd(t0, t2, 0x31);
    v3 = _mm256_permute2f128_pd(t1, t3, 0x31);
}

// The first stage (stride 1, m a multiple of 4): four butterflies p at a time, their outputs transposed into place.
__attribute__((target("avx2,fma"))) void radix4FirstAvx(int m, const double* xr, const double* xi, double* yr,
                                                        double* yi, const double* w)
{
    for (int p = 0; p < m; p += 4) {
        const __m256d a_r = _mm256_loadu_pd(xr + p), a_i = _mm256_loadu_pd(xi + p);
        const __m256d b_r = _mm256_loadu_pd(xr + m + p), b_i = _mm256_loadu_pd(xi + m + p);
        const __m256d c_r = _mm256_loadu_pd(xr + 2 * m + p), c_i = _mm256_loadu_pd(xi + 2 * m + p);
        const __m256d d_r = _mm256_loadu_pd(xr + 3 * m + p), d_i = _mm256_loadu_pd(xi + 3 * m + p);
        const __m256d apcr = _mm256_add_pd(a_r, c_r), apci = _mm256_add_pd(a_i, c_i);
        const __m256d amcr = _mm256_sub_pd(a_r, c_r), amci = _mm256_sub_pd(a_i, c_i);
        const __m256d bpdr = _mm256_add_pd(b_r, d_r), bpdi = _mm256_add_pd(b_i, d_i);
        const __m256d bmdr = _mm256_sub_pd(b_r, d_r), bmdi = _mm256_sub_pd(b_i, d_i);
        __m256d y0r = _mm256_add_pd(apcr, bpdr), y0i = _mm256_add_pd(apci, bpdi);
        __m256d y1r, y1i, y2r, y2i, y3r, y3i;
        FFT_CMUL(_mm256_add_pd(amcr, bmdi), _mm256_sub_pd(amci, bmdr), _mm256_loadu_pd(w + p),
                 _mm256_loadu_pd(w + m + p), y1r, y1i);
        FFT_CMUL(_mm256_sub_pd(apcr, bpdr), _mm256_sub_pd(apci, bpdi), _mm256_loadu_pd(w + 2 * m + p),
                 _mm256_loadu_pd(w + 3 * m + p), y2r, y2i);
        FFT_CMUL(_mm256_sub_pd(amcr, bmdi), _mm256_add_pd(amci, bmdr), _mm256_loadu_pd(w + 4 * m + p),
                 _mm256_loadu_pd(w + 5 * m + p), y3r, y3i);
        transpose4(y0r, y1r, y2r, y3r);
        transpose4(y0i, y1i, y2i, y3i);
        double* outr = yr + 4 * p;
        double* outi = yi + 4 * p;
        _mm256_storeu_pd(outr, y0r);
        _mm256_storeu_pd(outr + 4, y1r);
        _mm256_storeu_pd(outr + 8, y2r);
        _mm256_storeu_pd(outr + 12, y3r);
        _mm256_storeu_pd(outi, y0i);
        _mm256_storeu_pd(outi + 4, y1i);
        _mm256_storeu_pd(outi + 8, y2i);
        _mm256_storeu_pd(outi + 12, y3i);
    }
}
// Four complex values z[j..j+3] from the samples x[2j..2j+7], windowed when a window is given.
__attribute__((target("avx2,fma"))) inline void loadPacked(const double* x, const double* win, size_t j, __m256d& re,
                                                           __m256d& im)
{
    __m256d lo = _mm256_loadu_pd(x + 2 * j), hi = _mm256_loadu_pd(x + 2 * j + 4);
    if (win) {
        lo = _mm256_mul_pd(lo, _mm256_loadu_pd(win + 2 * j));
        hi = _mm256_mul_pd(hi, _mm256_loadu_pd(win + 2 * j + 4));
    }
    re = _mm256_permute4x64_pd(_mm256_unpacklo_pd(lo, hi), 0xD8);
    im = _mm256_permute4x64_pd(_mm256_unpackhi_pd(lo, hi), 0xD8);
}

// The first stage straight from real samples (optionally windowed): z[j] = x[2j] + i x[2j+1] is formed on the way.
__attribute__((target("avx2,fma"))) void radix4FirstRealAvx(int m, const double* x, const double* win, double* yr,
                                                            double* yi, const double* w)
{
    for (int p = 0; p < m; p += 4) {
        __m256d a_r, a_i, b_r, b_i, c_r, c_i, d_r, d_i;
        loadPacked(x, win, size_t(p), a_r, a_i);
        loadPacked(x, win, size_t(m) + size_t(p), b_r, b_i);
        loadPacked(x, win, 2 * size_t(m) + size_t(p), c_r, c_i);
        loadPacked(x, win, 3 * size_t(m) + size_t(p), d_r, d_i);
        const __m256d apcr = _mm256_add_pd(a_r, c_r), apci = _mm256_add_pd(a_i, c_i);
        const __m256d amcr = _mm256_sub_pd(a_r, c_r), amci = _mm256_sub_pd(a_i, c_i);
        const __m256d bpdr = _mm256_add_pd(b_r, d_r), bpdi = _mm256_add_pd(b_i, d_i);
        const __m256d bmdr = _mm256_sub_pd(b_r, d_r), bmdi = _mm256_sub_pd(b_i, d_i);
        __m256d y0r = _mm256_add_pd(apcr, bpdr), y0i = _mm256_add_pd(apci, bpdi);
        __m256d y1r, y1i, y2r, y2i, y3r, y3i;
        FFT_CMUL(_mm256_add_pd(amcr, bmdi), _mm256_sub_pd(amci, bmdr), _mm256_loadu_pd(w + p),
                 _mm256_loadu_pd(w + m + p), y1r, y1i);
        FFT_CMUL(_mm256_sub_pd(apcr, bpdr), _mm256_sub_pd(apci, bpdi), _mm256_loadu_pd(w + 2 * m + p),
                 _mm256_loadu_pd(w + 3 * m + p), y2r, y2i);
        FFT_CMUL(_mm256_sub_pd(amcr, bmdi), _mm256_add_pd(amci, bmdr), _mm256_loadu_pd(w + 4 * m + p),
                 _mm256_loadu_pd(w + 5 * m + p), y3r, y3i);
        transpose4(y0r, y1r, y2r, y3r);
        transpose4(y0i, y1i, y2i, y3i);
        double* outr = yr + 4 * p;
        double* outi = yi + 4 * p;
        _mm256_storeu_pd(outr, y0r);
        _mm256_storeu_pd(outr + 4, y1r);
        _mm256_storeu_pd(outr + 8, y2r);
        _mm256_storeu_pd(outr + 12, y3r);
        _mm256_storeu_pd(outi, y0i);
        _mm256_storeu_pd(outi + 4, y1i);
        _mm256_storeu_pd(outi + 8, y2i);
        _mm256_storeu_pd(outi + 12, y3i);
    }
}
#undef FFT_CMUL
#endif

// z[j] = x[2j] + i x[2j+1], windowed when a window is given.
FFT_KERNEL void packReal(int h, const double* __restrict x, const double* __restrict win, double* __restrict zr,
                         double* __restrict zi)
{
    if (win) {
        for (int j = 0; j < h; ++j) {
            zr[j] = x[2 * j] * win[2 * j];
            zi[j] = x[2 * j + 1] * win[2 * j + 1];
        }
    } else {
        for (int j = 0; j < h; ++j) {
            zr[j] = x[2 * j];
            zi[j] = x[2 * j + 1];
        }
    }
}
} // namespace

void RealFft::Free::operator()(double* p) const
{
    std::free(p);
}

bool RealFft::setSize(int size)
{
    memory.reset();
    n = 0;
    stages = 0;
    zr = zi = tr = ti = twiddles = postCos = postSin = nullptr;
    resultR = resultI = nullptr;
    if (size < 2 || size > (1 << maxLog2) || (size & (size - 1)) != 0)
        return false;
    const size_t h = size_t(size) / 2;
    // Twiddles: 6 * m values for each radix-4 stage of size 4m; m runs h/4, h/16, ... so they sum to less than 2h.
    size_t twiddleCount = 0;
    for (size_t len = h; len >= 4; len /= 4)
        twiddleCount += 6 * (len / 4);
    auto padded = [](size_t count) { return (count + kAlign / sizeof(double) - 1) & ~(kAlign / sizeof(double) - 1); };
    // The arrays are staggered by a few cache lines: at distances of whole pages, loads of one array and stores to
    // another would falsely depend on each other (4K aliasing) and stall the butterflies.
    constexpr size_t stagger = 3 * kAlign / sizeof(double);
    const size_t total = 4 * padded(h) + padded(twiddleCount) + 2 * padded(h + 1) + 7 * stagger;
    void* raw = std::aligned_alloc(kAlign, total * sizeof(double));
    if (!raw)
        return false;
    memory.reset(static_cast<double*>(raw));
    double* at = memory.get();
    auto take = [&at, &padded, stagger](size_t count) {
        double* p = at;
        at += padded(count) + stagger;
        return p;
    };
    zr = take(h);
    zi = take(h);
    tr = take(h);
    ti = take(h);
    twiddles = take(twiddleCount);
    postCos = take(h + 1);
    postSin = take(h + 1);

    double* w = twiddles;
    for (size_t len = h; len >= 4; len /= 4) {
        const size_t m = len / 4;
        for (size_t p = 0; p < m; ++p) {
            for (int k = 1; k <= 3; ++k) {
                // W_len^(k*p) = exp(-2*pi*i*k*p/len); k*p/len is exact, so the angle carries one rounding.
                const double angle = kTwoPi * (double(size_t(k) * p) / double(len));
                w[size_t(2 * (k - 1)) * m + p] = std::cos(angle);
                w[size_t(2 * (k - 1) + 1) * m + p] = -std::sin(angle);
            }
        }
        w += 6 * m;
        ++stages;
    }
    if (h >= 2 && (h & 0x55555555u) == 0) // an odd power of two ends with a radix-2 stage
        ++stages;
    for (size_t k = 0; k <= h; ++k) {
        const double angle = kTwoPi * (double(k) / double(size));
        postCos[k] = std::cos(angle);
        postSin[k] = std::sin(angle);
    }
    n = size;
    return true;
}

bool RealFft::transform(const double* samples, const double* window, const StageHook& hook)
{
    if (n == 0 || !samples)
        return false;
    const int h = n / 2;
#ifdef FFT_HAVE_AVX2_PATH
    if (h >= 16 && (h / 4) % 4 == 0 && cpuHasAvx2()) {
        // The first stage reads the samples itself, which saves a pass over the data.
        const int m = h / 4;
        radix4FirstRealAvx(m, samples, window, zr, zi, twiddles);
        if (stages > 1 && hook && !hook())
            return false;
        return runStages(1, zr, zi, tr, ti, hook);
    }
#endif
    packReal(h, samples, window, zr, zi);
    return transform(hook);
}

bool RealFft::transform(const StageHook& hook)
{
    if (n == 0)
        return false;
    return runStages(0, zr, zi, tr, ti, hook);
}

bool RealFft::runStages(int from, double* xr, double* xi, double* yr, double* yi, const StageHook& hook)
{
    const int h = n / 2;
    const double* w = twiddles;
    int len = h;
    int s = 1;
    for (int k = 0; k < from; ++k) {
        w += 6 * (len / 4);
        len /= 4;
        s *= 4;
    }
    int done = from;
    auto next = [&]() {
        std::swap(xr, yr);
        std::swap(xi, yi);
        ++done;
        return done >= stages || !hook || hook();
    };
    while (len >= 4) {
        const int m = len / 4;
        if (m == 1)
            radix4Last(s, xr, xi, yr, yi);
#ifdef FFT_HAVE_AVX2_PATH
        else if (s % 4 == 0 && cpuHasAvx2())
            radix4Avx(m, s, xr, xi, yr, yi, w);
        else if (s == 1 && m % 4 == 0 && cpuHasAvx2())
            radix4FirstAvx(m, xr, xi, yr, yi, w);
#endif
        else if (s == 1)
            radix4First(m, xr, xi, yr, yi, w);
        else if (s == 4)
            radix4Stride4(m, xr, xi, yr, yi, w);
        else if (s == 16)
            radix4Stride16(m, xr, xi, yr, yi, w);
        else
            radix4(m, s, xr, xi, yr, yi, w);
        w += 6 * m;
        len = m;
        s *= 4;
        if (!next())
            return false;
    }
    if (len == 2) {
        radix2Last(s, xr, xi, yr, yi);
        if (!next())
            return false;
    }
    resultR = xr;
    resultI = xi;
    return true;
}

void RealFft::bins(int first, int last, double* re, double* im) const
{
    if (n == 0 || !resultR || first < 0 || last > n / 2 || first > last)
        return;
    const int h = n / 2;
    int k = first;
    if (k == 0) {
        re[0] = resultR[0] + resultI[0];
        im[0] = 0.0;
        ++k;
    }
    const int inner = last < h ? last : h - 1;
    if (k <= inner) {
        splitBand(
            k, inner, h,
            [&](int a, int b) {
                unpack(a, b, h, resultR, resultI, postCos, postSin, re + (a - first), im + (a - first));
            },
            [&](int a, int b) { unpackPairs(a, b, h, first, resultR, resultI, postCos, postSin, re, im); });
    }
    if (last == h) {
        re[h - first] = resultR[0] - resultI[0];
        im[h - first] = 0.0;
    }
}

void RealFft::addMagnitudes(int first, int last, double factor, double* acc) const
{
    if (n == 0 || !resultR || first < 0 || last > n / 2 || first > last)
        return;
    const int h = n / 2;
    int k = first;
    if (k == 0) {
        acc[0] += std::fabs(resultR[0] + resultI[0]) * factor;
        ++k;
    }
    const int inner = last < h ? last : h - 1;
    if (k <= inner) {
        splitBand(
            k, inner, h,
            [&](int a, int b) {
                unpackMagnitudes(a, b, h, resultR, resultI, postCos, postSin, factor, acc + (a - first));
            },
            [&](int a, int b) {
                unpackMagnitudePairs(a, b, h, first, resultR, resultI, postCos, postSin, factor, acc);
            });
    }
    if (last == h)
        acc[h - first] += std::fabs(resultR[0] - resultI[0]) * factor;
}
