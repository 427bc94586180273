#pragma once
// IndexRecoveryFilter ("Index Recovery Filter"): for streams whose positions cannot be trusted. It numbers the
// words itself from 0, starts again at 0 after a set time without data, and presents the result as a cyclic line
// of a set length.
// Properties: order, line length, x offset and x extent are rewritten with the filter's own line (cyclic, the set
// length r, r / 2, r); the others are forwarded unchanged.

#include "framework/gplugin.h"

#include <QPointer>

class QFrame;
class QTimer;
class UnitEdit;

class IndexRecoveryFilter : public GPlugin
{
    Q_OBJECT
public:
    IndexRecoveryFilter(QWidget* parent, QString name);
    ~IndexRecoveryFilter() override;

    QWidget* getWidget() override;
    void setData(const int* data, int count, int index) override;
    void setDataOrder(GPlugin::DataOrder) override;
    void setDataRangeX(int) override;
    void setDataOffsetX(int) override;
    void setDataPhysX(int) override;

    int getNextIndex() const { return nextIndex; }
    UnitEdit* timeoutField() const { return timeoutEdit; }
    UnitEdit* rangeField() const { return rangeEdit; }
    QTimer* getTimer() const { return timer; }

    static const GPlugin::PluginDescriptor _descriptor;

public slots:
    void timeoutChanged();
    void xRangeChanged();
    void dataTimeout();

private:
    QPointer<QFrame> panel;
    UnitEdit* timeoutEdit = nullptr;
    UnitEdit* rangeEdit = nullptr;
    QTimer* timer = nullptr;
    int nextIndex = 0;
    // The fields' values, kept here so that the data path does not depend on the widgets.
    int timeoutMs = 250;
    int rangeValue = 1000;
};

GPlugin* indexRecFilterFactory(QWidget* parent, QString name);
