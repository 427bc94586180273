#include "utilif/qthelpers.h"

#include <QApplication>
#include <QLayout>
#include <QPixmap>
#include <QSpinBox>
#include <QWidget>

QIcon qth_makeIcon(const char* const* xpm, const char* const* xpmDisabled)
{
    QIcon icon;
    if (xpm)
        icon.addPixmap(QPixmap(xpm), QIcon::Normal);
    if (xpmDisabled)
        icon.addPixmap(QPixmap(xpmDisabled), QIcon::Disabled);
    return icon;
}

QSpinBox* qth_makeSpinBox(int min, int max, int value, QWidget* parent)
{
    auto* box = new QSpinBox(parent);
    box->setRange(qMin(min, max), qMax(min, max));
    box->setValue(value);
    return box;
}

void qth_setLayoutParams(QLayout* layout, int margin, int spacing)
{
    if (!layout)
        return;
    layout->setContentsMargins(margin, margin, margin, margin);
    layout->setSpacing(spacing);
}

void qth_setWidgetColor(QWidget* widget, const QColor& colour, bool text)
{
    if (!widget)
        return;
    const QPalette::ColorRole role = text ? widget->foregroundRole() : widget->backgroundRole();
    QPalette pal = widget->palette();
    if (colour.isValid()) {
        pal.setColor(role, colour);
        if (!text)
            widget->setAutoFillBackground(true);
    } else {
        pal.setColor(role, QApplication::palette(widget).color(role));
    }
    widget->setPalette(pal);
}

std::string qth_q2s(const QString& text)
{
    return text.toStdString();
}
