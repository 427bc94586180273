#pragma once
// LineFilter: base of the filters that work on whole scan lines. It collects the words of one line (DataRangeX
// words), lets the subclass change the complete line in place, and passes it on in one block. It is active only
// for line-structured orders (cyclic and the scan orders) with a known line length; otherwise data pass unchanged.

#include "framework/gplugin.h"

#include <vector>

// Hot per-word loops get an AVX2 twin chosen at load time; the arithmetic is the same in both, so results do not
// depend on the machine (no FMA: a fused multiply-add would round differently).
#if defined(__GNUC__) && !defined(__clang__) && defined(__x86_64__)
#define ORVIK_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
#else
#define ORVIK_VECTOR_CLONES
#endif

/// Neighbour steps of a line: the sum of their sizes and the widest one.
struct LineSteps
{
    quint64 sum = 0; // exact: at most 2^22 steps of less than 2^32
    quint32 widest = 0;
};

/// |a - b| of two words, which always fits in 32 unsigned bits. Branch-free (negate by mask when a < b) so that
/// loops over a line run in vector registers.
inline quint32 wordDistance(int a, int b)
{
    const quint32 negate = 0u - quint32(a < b);
    return ((quint32(a) - quint32(b)) ^ negate) - negate;
}

class LineFilter : public GPlugin
{
    Q_OBJECT
public:
    /// Longest line the filter collects; a longer DataRangeX leaves it inactive (data pass unchanged) instead of
    /// allocating without bound on a bad property value.
    static constexpr int _maxLineLength = 1 << 22;

    LineFilter(QWidget* parent, QString name, const GPlugin::PluginDescriptor* descriptor);

    void init() override;
    void setDataRangeX(int n) override;
    void setDataOrder(GPlugin::DataOrder o) override;
    void setData(const int* data, int count, int index) override;
    void setTransparent(bool t);

    bool isActive() const { return active; }
    int currentLineNumber() const { return lineNumber; }

    /// Fills `smooth` with a copy of `line` in which isolated jumps of more than five mean steps are replaced by
    /// the previous value; `line` itself stays as it is.
    virtual void filterPeaks();
    /// Changes the complete line in place; returns whether it goes on.
    virtual bool filterLine() = 0;
    /// Filters one complete line, `words` (the collected `line` itself, or a line lying whole inside a block), into
    /// `line`; returns whether it goes on. By default it runs filterPeaks() and filterLine() on a copy in `line`.
    virtual bool filterWords(const int* words);

protected:
    void updateActive();
    /// The peak-filtered copy of the line `x` whose neighbour steps are `steps`: `x` itself when no word would be
    /// replaced (the common case, no copy is made), otherwise `smooth`, filled as filterPeaks() does for `line`.
    const int* peakFiltered(const int* x, const LineSteps& steps);
    static LineSteps neighbourSteps(const int* x, int n);

    std::vector<int> line;
    std::vector<int> smooth;
    int lineLength = 0;
    int lineNumber = 0;
    int order = 0;
    bool active = false;
    bool transparent = false;
};
