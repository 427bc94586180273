#pragma once
// IndexCorrFilter ("Index Correction Filter"): moves a block whose position is off by one from where the previous
// block ended back to the expected position.
// Properties: every property is forwarded unchanged.

#include "framework/gplugin.h"

class IndexCorrFilter : public GPlugin
{
    Q_OBJECT
public:
    IndexCorrFilter(QWidget* parent, QString name);

    void init() override;
    void setData(const int* data, int count, int index) override;

    static const GPlugin::PluginDescriptor _descriptor;

private:
    bool started = false;
    int expected = 0;
};

GPlugin* idxFilterFactory(QWidget* parent, QString name);
