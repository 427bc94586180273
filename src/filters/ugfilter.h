#pragma once
// UgFilter ("Underground Filter"): subtracts a constant (the line mean) or a linear underground (a straight line
// fitted to the peak-filtered line) from every scan line.
// Properties: every property is forwarded unchanged (the value offset is also kept for the underground).

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
    /// Reads the line where it lies and writes the result to `line`; the sums of the fit are taken in the same
    /// pass as the peak filter's steps, and taken again only when the peak filter replaces a word.
    bool filterWords(const int* words) override;
    int getMode() const { return mode; }
    QComboBox* selector() const { return selectorBox; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void changeMode(int m);

private:
    struct LineSums;
    void subtractConstant(const int* x, const LineSums& sums);
    void subtractLinear(const int* x, const LineSums& sums);

    QPointer<QWidget> panel;
    QComboBox* selectorBox = nullptr;
    int mode = Off;
    int offsetVal = 0;
};

GPlugin* ugFilterFactory(QWidget* parent, QString name);
