#pragma once
// DirectionFilter ("Scan Direction Filter"): keeps only the forward or only the backward lines of a bidirectional
// scan (orders forBack and backFor), packs them into a frame of half as many lines and tells the successor the
// resulting one-direction order.
// Properties: forwarded unchanged, except the order: with a direction chosen, a bidirectional order goes on as the
// one-direction order of the kept lines (rewritten).

#include "framework/gplugin.h"

#include <QPointer>

class QComboBox;

class DirectionFilter : public GPlugin
{
    Q_OBJECT
public:
    enum Mode { Off = 0, Forward = 1, Backward = 2 };

    DirectionFilter(QWidget* parent, QString name);
    ~DirectionFilter() override;

    QWidget* getWidget() override;
    void setDataRangeX(int n) override;
    void setDataOrder(GPlugin::DataOrder o) override;
    void setData(const int* data, int count, int index) override;
    /// Recomputes the flags from mode, order and line length and sends the resulting order on.
    void setOrderAndRange();

    int getMode() const { return mode; }
    bool isBlocking() const { return block; }
    bool isPassingAll() const { return passAll; }
    QComboBox* selector() const { return selectorBox; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void changeMode(int m);

private:
    int lineLength = 0;
    int order = 0;
    int mode = Off;
    bool block = false;
    bool passAll = true;
    QPointer<QWidget> panel;
    QComboBox* selectorBox = nullptr;
};

GPlugin* dirFilterFactory(QWidget* parent, QString name);
