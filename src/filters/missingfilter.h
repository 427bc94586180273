#pragma once
// MissingFilter ("Missing Data Filter"): fills gaps in the positions of a stream with a value well below all data
// seen, so that a display shows where data was lost.
// Properties: every property is forwarded unchanged.

#include "framework/gplugin.h"

class MissingFilter : public GPlugin
{
    Q_OBJECT
public:
    /// Gaps of this many words or more are not filled (a new frame, not lost data).
    static constexpr quint32 _maxGap = 9999;

    MissingFilter(QWidget* parent, QString name);

    void init() override;
    void setData(const int* data, int count, int index) override;
    int getSubstitute() const { return substitute; }

    static const GPlugin::PluginDescriptor _descriptor;

private:
    int substitute = -1000;
    int expected = 0;
};

GPlugin* misFilterFactory(QWidget* parent, QString name);
