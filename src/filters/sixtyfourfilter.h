#pragma once
// SixtyFourFilter ("64Bit Filter"): recovers 64-bit values sent as word pairs and sends on their upper part (MSW)
// or their lower 32 bits (LSW). The first word of a pair has bit 31 clear and holds bits 0..30 of the value; the
// second has bit 31 set, holds bit 31 of the value in bit 0 and bits 32..61 in bits 1..30.
// Properties: every property is forwarded unchanged.

#include "framework/gplugin.h"

#include <QComboBox>
#include <QPointer>
#include <vector>

class QFrame;

class SixtyFourFilter : public GPlugin
{
    Q_OBJECT
public:
    enum Function { Transparent = 0, Msw = 1, Lsw = 2 };

    SixtyFourFilter(QWidget* parent, QString name);
    ~SixtyFourFilter() override;

    QWidget* getWidget() override;
    void setData(const int* data, int count, int index) override;
    int getFunction() const { return function; }
    QComboBox* selector() const { return selectorBox; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void filterFunctionChanged(int f);

private:
    QPointer<QFrame> panel;
    QPointer<QComboBox> selectorBox;
    int function = Transparent;
    int previous = 0;
    std::vector<int> values;
};

GPlugin* sixtyFourFilterFactory(QWidget* parent, QString name);
