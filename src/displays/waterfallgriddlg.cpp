#include "displays/waterfallgriddlg.h"

#include "utilif/qthelpers.h"

#include <QCheckBox>
#include <QGridLayout>
#include <QLabel>
#include <QPushButton>
#include <QSpinBox>

WaterfallGridDlg::WaterfallGridDlg(QWidget* parent) : QDialog(parent)
{
    setWindowTitle(QStringLiteral("Grid Settings"));
    setWindowFlags(windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* layout = new QGridLayout(this);
    xEdit = qth_makeSpinBox(1, 2000, 5, this);
    yEdit = qth_makeSpinBox(1, 2000, 5, this);
    fixBox = new QCheckBox(QStringLiteral("Fix Grid Dim X,Y"), this);
    auto* closeButton = new QPushButton(QStringLiteral("Close"), this);
    closeButton->setAutoDefault(false);
    closeButton->setDefault(false);
    layout->addWidget(new QLabel(QStringLiteral("Points X"), this), 0, 0);
    layout->addWidget(xEdit, 0, 1);
    layout->addWidget(new QLabel(QStringLiteral("Points Y"), this), 1, 0);
    layout->addWidget(yEdit, 1, 1);
    layout->addWidget(fixBox, 2, 0, 1, 2);
    layout->addWidget(closeButton, 3, 1);
    // Every edit that parses reaches the grid at once, and so does the end of editing.
    connect(xEdit, QOverload<int>::of(&QSpinBox::valueChanged), this, &WaterfallGridDlg::pointsXChanged);
    connect(yEdit, QOverload<int>::of(&QSpinBox::valueChanged), this, &WaterfallGridDlg::pointsYChanged);
    connect(xEdit, &QSpinBox::editingFinished, this, [this] { emit pointsXChanged(xEdit->value()); });
    connect(yEdit, &QSpinBox::editingFinished, this, [this] { emit pointsYChanged(yEdit->value()); });
    connect(fixBox, &QCheckBox::toggled, this, &WaterfallGridDlg::fixXyOn);
    connect(closeButton, &QPushButton::clicked, this, &WaterfallGridDlg::close);
}

int WaterfallGridDlg::pointsX() const
{
    return xEdit->value();
}

int WaterfallGridDlg::pointsY() const
{
    return yEdit->value();
}

bool WaterfallGridDlg::close()
{
    return QDialog::close();
}

void WaterfallGridDlg::setPointsX(int points)
{
    xEdit->setValue(points);
}

void WaterfallGridDlg::setPointsY(int points)
{
    yEdit->setValue(points);
}

void WaterfallGridDlg::init()
{
    emit pointsXChanged(xEdit->value());
    emit pointsYChanged(yEdit->value());
}
