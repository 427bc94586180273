#pragma once
// FswapFilter ("Frequency Swap Filter"): unless bypassed, reverses the words of every block, so that a spectrum
// goes on with its frequency axis turned round.
// Properties: every property is forwarded unchanged.

#include "framework/gplugin.h"

#include <QCheckBox>
#include <QPointer>

class QFrame;

class FswapFilter : public GPlugin
{
    Q_OBJECT
public:
    FswapFilter(QWidget* parent, QString name);
    ~FswapFilter() override;

    QWidget* getWidget() override;
    void setData(const int* data, int count, int index) override;
    QCheckBox* bypassBox() const { return bypass; }

    static const GPlugin::PluginDescriptor _descriptor;

private:
    QPointer<QFrame> panel;
    QPointer<QCheckBox> bypass; // the page may have deleted its widgets first
};

GPlugin* fSwapFilterFactory(QWidget* parent, QString name);
