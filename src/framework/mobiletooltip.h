#pragma once
// Shows a plug-in's point-dependent tool tip (GPlugin::getToolTip) over the widget it watches.

#include <QObject>

class GPlugin;
class QWidget;

class MobileToolTip : public QObject
{
    Q_OBJECT
public:
    /// Becomes a child of `widget` and installs itself as its event filter. `plugin` is not owned.
    MobileToolTip(const GPlugin* plugin, QWidget* widget);
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    const GPlugin* plugin;
};
