#include "filters/filterpanel.h"

#include "framework/gplugin.h"
#include "utilif/qthelpers.h"

#include <QComboBox>
#include <QCoreApplication>
#include <QFrame>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

namespace FilterPanel {

QHBoxLayout* makeFramedRow(QFrame* panel)
{
    panel->setFrameStyle(QFrame::StyledPanel | QFrame::Raised);
    auto* outer = new QVBoxLayout(panel);
    qth_setLayoutParams(outer, 0, 0);
    auto* row = new QHBoxLayout;
    qth_setLayoutParams(row, 0, *GPlugin::prefs()->layoutSpacing);
    outer->addLayout(row);
    return row;
}

QComboBox* makeModeRow(QWidget* panel, const QString& name, const QString& entries)
{
    auto* layout = new QHBoxLayout(panel);
    qth_setLayoutParams(layout, *GPlugin::prefs()->layoutMargin, *GPlugin::prefs()->layoutSpacing);
    layout->addWidget(new QLabel(name, panel));
    layout->addStretch();
    auto* selector = new QComboBox(panel);
    selector->addItems(entries.split(QLatin1Char(',')));
    selector->setCurrentIndex(0);
    selector->setToolTip(QCoreApplication::translate("FilterPanel", "Operation Mode of the filter."));
    layout->addWidget(selector);
    return selector;
}

} // namespace FilterPanel
