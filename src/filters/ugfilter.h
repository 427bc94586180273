#pragma once
// UgFilter ("Underground Filter"): subtracts a constant (the line mean) or a linear underground (a straight line
// fitted to the peak-filtered line) from every scan line.

#include "filters/linefilter.h"

#include <QPointer>

class QComboBox;

class UgFilter : public LineFilter
{
    Q_OBJECT
public:
    enum Mode { Off = 0, Constant = 1, Linear = 2 };

    UgFilter(QWidget* parent, QString name);
    ~UgFilter() override;

    QWidget* getWidget() override;
    void setDataOffsetVal(int value) override;
    bool filterLine() override;
    int getMode() const { return mode; }
    QComboBox* selector() const { return selectorBox; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void changeMode(int m);

private:
    void subtractConstant();
    void subtractLinear();

    QPointer<QWidget> panel;
    QComboBox* selectorBox = nullptr;
    int mode = Off;
    int offsetVal = 0;
};

GPlugin* ugFilterFactory(QWidget* parent, QString name);
