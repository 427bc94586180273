#pragma once
// LineFilter: base of the filters that work on whole scan lines. It collects the words of one line (DataRangeX
// words), lets the subclass change the complete line in place, and passes it on in one block. It is active only
// for line-structured orders (cyclic and the scan orders) with a known line length; otherwise data pass unchanged.

#include "framework/gplugin.h"

#include <vector>

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

protected:
    void updateActive();

    std::vector<int> line;
    std::vector<int> smooth;
    int lineLength = 0;
    int lineNumber = 0;
    int order = 0;
    bool active = false;
    bool transparent = false;
};
