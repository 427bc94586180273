#include "displays/polarplotplugin.h"

#include "displays/polarplot.h"
#include "utilif/qthelpers.h"
#include "utilif/substitutablewidget.h"

#include <QLabel>
#include <QWidget>

namespace {

const GPlugin::PluginDescriptor polarDisplay(QStringLiteral("Polar Display"),
                                             QStringLiteral("Two dimensional r(phi) display."), 0x1001,
                                             polarPlotFactory);

} // namespace

GPlugin* polarPlotFactory(QWidget* parent, QString name)
{
    return new PolarPlotPlugin(parent, name);
}

PolarPlotPlugin::PolarPlotPlugin(QWidget* parent, QString name)
    : LineViewPlugin(parent, name, true, makePolarWidget, &polarDisplay)
{
    if (substitute)
        for (QLabel* l : substitute->findChildren<QLabel*>())
            l->clear();
    qth_setWidgetColor(frame, QColor(0, 0, 0, 0), false);
    showToolbar(false);
}

PolarPlot* PolarPlotPlugin::getPolarView() const
{
    return static_cast<PolarPlot*>(view);
}

void PolarPlotPlugin::setOption(QString key, QString value)
{
    LineViewPlugin::setOption(key, value);
    const QString k = key.toLower();
    if (k == QLatin1String("designmode")) {
        getPolarView()->setDesignMode(string2DesignMode(value));
        getPolarView()->setChanged();
        return;
    }
    bool ok = false;
    const int n = value.trimmed().toInt(&ok, 0);
    if (!ok)
        return;
    if (n <= 0 || n > QWIDGETSIZE_MAX)
        return;
    if (k == QLatin1String("fixedwidth"))
        view->setFixedWidth(n);
    else if (k == QLatin1String("fixedheight"))
        view->setFixedHeight(n);
}

void PolarPlotPlugin::setMarker(int angle)
{
    getPolarView()->setMarker(angle / 1000.0);
}
