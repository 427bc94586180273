#pragma once
// DerivativeFilter ("Derivative Filter"): replaces each value by its difference from the previous one divided by
// the physical step of the independent variable, and tells the successor the unit of the result (a prefix step up
// for every factor of 1000 in the scale; metres over a time axis become metres per second).
// Properties: forwarded unchanged, except the value unit: once an x extent is known it goes on as the unit of the
// derivative (rewritten); a change of the x extent, line length or x unit sends it again.

#include "framework/gplugin.h"

#include <vector>

class DerivativeFilter : public GPlugin
{
    Q_OBJECT
public:
    DerivativeFilter(QWidget* parent, QString name);

    void init() override;
    void setDataEncoding(GPlugin::DataEncoding e) override;
    void setDataUnitX(int unit) override;
    void setDataUnitVal(int unit) override;
    void setDataRangeX(int value) override;
    void setDataPhysX(int value) override;
    void setData(const int* data, int count, int index) override;

    double getScale() const { return scale; }
    /// Recomputes the scale and sends the output unit on.
    void setScale();

    static const GPlugin::PluginDescriptor _descriptor;

private:
    void differentiateWords(const int* data, int count, int* out);
    void differentiatePair(quint32 w0, quint32 w1, int* out);

    int unitX = 128;
    int unitVal = 128;
    int physX = 1;
    int rangeX = 2;
    int wordsPerValue = 1;
    double previous = 0.0;
    double scale = 1.0;
    // Encoding 6: the low word of a pair whose high word comes with the next block.
    bool hasHalfPair = false;
    int halfPairWord = 0;
    int halfPairIndex = 0;
    std::vector<int> out;
};

GPlugin* deriveFilterFactory(QWidget* parent, QString name);
