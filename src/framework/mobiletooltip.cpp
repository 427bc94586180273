#include "framework/mobiletooltip.h"

#include "framework/gplugin.h"

#include <QHelpEvent>
#include <QToolTip>
#include <QWidget>

MobileToolTip::MobileToolTip(const GPlugin* plugin, QWidget* widget) : QObject(widget), plugin(plugin)
{
    if (widget)
        widget->installEventFilter(this);
}

bool MobileToolTip::eventFilter(QObject* watched, QEvent* event)
{
    if (event->type() != QEvent::ToolTip || !plugin)
        return QObject::eventFilter(watched, event);
    auto* help = static_cast<QHelpEvent*>(event);
    const QString text = plugin->getToolTip(help->pos());
    if (text.isEmpty())
        return false;
    QToolTip::showText(help->globalPos(), text, qobject_cast<QWidget*>(watched), QRect(help->pos(), QSize(2, 2)));
    return true;
}
