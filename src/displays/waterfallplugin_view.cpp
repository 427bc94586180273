#include "displays/waterfallplugin.h"

#include "displays/colorgauge.h"
#include "displays/gaugelabel.h"
#include "framework/gpluginwidget.h"
#include "snapshot/snapshotmgr.h"
#include "utilif/algo.h"
#include "utilif/qthelpers.h"
#include "utilif/unitedit.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QStyle>
#include <QToolButton>
#include <climits>

namespace {

const int zoomSteps[] = {-20, -15, -10, -7, -5, -3, -2, 1, 2, 3, 5, 7, 10, 15, 20};

// Other displays of the same name hear every change and apply it in turn; storing only real changes ends the echo.
void storeSetting(Savable& setting, const QString& value)
{
    if (setting.value() != value)
        setting.setValue(value);
}

} // namespace

// ---- view controls ----

void WaterfallPlugin::setDirection(bool fwd)
{
    waterfall->setDirection(fwd);
    dirLabel->setPixmap(
        container->style()->standardIcon(fwd ? QStyle::SP_ArrowRight : QStyle::SP_ArrowLeft).pixmap(16, 16));
    {
        const QSignalBlocker block(dirButton);
        dirButton->setChecked(fwd);
    }
    storeSetting(dirSetting, fwd ? QStringLiteral("1") : QStringLiteral("0"));
}

void WaterfallPlugin::showToolbar(bool show)
{
    selToolbar->setVisible(show);
    {
        const QSignalBlocker block(showToolsAction);
        showToolsAction->setChecked(show);
    }
    storeSetting(toolsSetting, show ? QStringLiteral("1") : QStringLiteral("0"));
}

void WaterfallPlugin::set3dMode(bool on)
{
    mode3d = on;
    waterfall->set3DMode(on);
}

void WaterfallPlugin::zoomIn()
{
    for (int step : zoomSteps) {
        if (step > magnification) {
            magnificate(step);
            return;
        }
    }
}

void WaterfallPlugin::zoomOut()
{
    for (int i = int(sizeof zoomSteps / sizeof zoomSteps[0]) - 1; i >= 0; --i) {
        if (zoomSteps[i] < magnification) {
            magnificate(zoomSteps[i]);
            return;
        }
    }
}

void WaterfallPlugin::magnificate(int m)
{
    if (m == 0 || m == -1)
        m = magnification < 1 ? 1 : -2;
    m = qBound(-20, m, 20);
    magnification = m;
    storeSetting(magSetting, QString::number(m));
    zoomInButton->setEnabled(m < 20);
    zoomInAction->setEnabled(m < 20);
    zoomOutButton->setEnabled(m >= -19);
    zoomOutAction->setEnabled(m >= -19);
    waterfall->setScale(m);
    updateZoomLb();
    updateGauge();
}

void WaterfallPlugin::updateZoomLb()
{
    const int m = magnification;
    if (m >= 1) {
        zoomLabel->setText(QStringLiteral("%1%").arg(m * 100));
        qth_setWidgetColor(zoomLabel, Qt::black, true);
    } else {
        zoomLabel->setText(QString::number(-100.0 / m, 'g', 6) + QLatin1Char('%'));
        qth_setWidgetColor(zoomLabel, Qt::red, true);
    }
}

void WaterfallPlugin::updateGauge()
{
    QString text;
    int barPixels = 0;
    if (meta.physX > 0) {
        const int m = magnification;
        const qint64 shown = m >= 1 ? qint64(meta.rangeX) * m : (meta.rangeX + std::abs(m) / 2) / std::abs(m);
        const int pixels = int(qMin<qint64>(shown, INT_MAX));
        char prefix = ' ';
        double unitFactor = 1.0;
        const QString unit = algoGetBaseUnit(meta.unitX, &prefix, &unitFactor);
        double length = meta.physX;
        if (prefix == 'X') {
            length *= unitFactor;
            prefix = ' ';
        }
        double barValue = 0;
        char barPrefix = ' ';
        algoCalcGaugeDisplay(pixels, length, prefix, &barPixels, &barValue, &barPrefix);
        if (barValue > 0)
            text = QStringLiteral(" %1 %2%3").arg(barValue).arg(algoGetPrintablePrefix(barPrefix), unit);
    }
    scaleBar->setFixedSize(qMax(barPixels, 0), 7);
    scaleBar->setVisible(!text.isEmpty());
    scaleBarText->setText(text);
}

void WaterfallPlugin::gradEdited()
{
    setGradation(gradMinEdit->getValue(), gradMaxEdit->getValue());
}

void WaterfallPlugin::setGradation(int min, int max)
{
    max = int(qMax(qint64(min) + 1, qint64(max)));
    {
        const QSignalBlocker b1(gradMinEdit);
        const QSignalBlocker b2(gradMaxEdit);
        gradMinEdit->setValue(min);
        gradMaxEdit->setValue(max);
    }
    gaugeMinLabel->setText(gradMinEdit->text());
    gaugeMaxLabel->setText(gradMaxEdit->text());
    waterfall->setGradation(min, max);
}

void WaterfallPlugin::resetGradation()
{
    int min = 0;
    int max = 0;
    waterfall->getDataRange(min, max, true);
    setGradation(min, max);
}

void WaterfallPlugin::popupMenu(QPoint pos)
{
    container->updateDetachMenuItem(detachAction);
    menu->popup(container->mapToGlobal(pos));
}

void WaterfallPlugin::setTableDirectory(const QString& dir)
{
    _tableDir = dir;
}

QString WaterfallPlugin::tableDirectory()
{
    return _tableDir.isEmpty() ? QCoreApplication::applicationDirPath() : _tableDir;
}

void WaterfallPlugin::updateColorMenu()
{
    colorMenu->clear();
    for (QAction* a : colorGroup->actions())
        colorGroup->removeAction(a);
    QStringList names{QStringLiteral("Grayscale"), QStringLiteral("Spectrum")};
    const QDir dir(tableDirectory());
    QStringList files;
    for (const QFileInfo& fi : dir.entryInfoList({QStringLiteral("*.col"), QStringLiteral("*.lut")},
                                                 QDir::Files | QDir::Readable, QDir::Name)) {
        if (!files.contains(fi.completeBaseName()))
            files.append(fi.completeBaseName());
    }
    files.sort();
    const QString current = colorSetting.value();
    auto add = [&](const QString& n) {
        QAction* a = colorMenu->addAction(n);
        a->setCheckable(true);
        a->setChecked(n == current);
        colorGroup->addAction(a);
    };
    for (const QString& n : names)
        add(n);
    colorMenu->addSeparator();
    for (const QString& n : files)
        add(n);
}

void WaterfallPlugin::setColorCoding(QAction* action)
{
    if (action)
        setColorCoding(action->text());
}

void WaterfallPlugin::setColorCoding(QString name)
{
    if (name == QLatin1String("Grayscale") || name == QLatin1String("Spectrum")) {
        waterfall->setColorCoding(name == QLatin1String("Spectrum") ? 1 : 0);
        storeSetting(colorSetting, name);
        return;
    }
    const QDir dir(tableDirectory());
    QString path = dir.filePath(name + QStringLiteral(".lut"));
    if (!QFileInfo::exists(path))
        path = dir.filePath(name + QStringLiteral(".col"));
    if (QFileInfo::exists(path) && waterfall->setColorCoding(path)) {
        storeSetting(colorSetting, name);
        return;
    }
    emit statusChanged(QStringLiteral("Failed to read color lookup table\nfrom file '%1'").arg(path), -1, 1);
}

void WaterfallPlugin::matchSizeToContents()
{
    displayArea->adjustSize();
    container->adjustSize();
}

void WaterfallPlugin::savableChanged(QString key, QString value)
{
    if (key == QLatin1String("ColorCoding")) {
        updateColorMenu();
        setColorCoding(value);
    } else if (key == QLatin1String("Magnification")) {
        bool ok = false;
        const int m = value.toInt(&ok);
        if (ok)
            magnificate(m);
    } else if (key == QLatin1String("ScanDirection")) {
        setDirection(value.toInt() != 0);
    } else if (key == QLatin1String("ShowSelTools")) {
        showToolbar(value.toInt() != 0);
    }
}

void WaterfallPlugin::encodeMetadata(QWidget** target)
{
    if (!target)
        return;
    double factor = 1.0;
    if (algoGetBaseUnit(meta.unitX, nullptr, &factor) != QLatin1String("m")) {
        *target = nullptr;
        return;
    }
    // Positions in units of 1e-11 m and the rotation in radians, for whoever receives the dropped image.
    const double s = factor * 1e11;
    const QVariantList data{meta.offsetX * s, meta.offsetY * s, meta.physX * s, meta.physY * s,
                            meta.rotation * radPerRotUnit};
    container->setProperty("orvikMetadata", data);
    *target = container;
}

void WaterfallPlugin::renameView()
{
    snapshotMgr->editName(container, QStringLiteral("Name of the display:"));
}

QVariantMap WaterfallPlugin::displayState() const
{
    return QVariantMap{{QStringLiteral("colorTable"), colorSetting.value()},
                       {QStringLiteral("magnification"), magnification},
                       {QStringLiteral("gradationMin"), waterfall->getGradationStart()},
                       {QStringLiteral("gradationMax"), waterfall->getGradationEnd()},
                       {QStringLiteral("scanForward"), waterfall->isForwardDisplayed()}};
}

void WaterfallPlugin::applyDisplayState(const QVariantMap& state)
{
    const QString table = state.value(QStringLiteral("colorTable")).toString();
    if (!table.isEmpty() && table != colorSetting.value())
        setColorCoding(table);
    bool ok = false;
    const int m = state.value(QStringLiteral("magnification")).toInt(&ok);
    if (ok && m >= -20 && m <= 20 && m != 0 && m != -1 && m != magnification)
        magnificate(m);
    bool okMin = false;
    bool okMax = false;
    const int gMin = state.value(QStringLiteral("gradationMin")).toInt(&okMin);
    const int gMax = state.value(QStringLiteral("gradationMax")).toInt(&okMax);
    if (okMin && okMax)
        setGradation(gMin, gMax);
    const QVariant fwd = state.value(QStringLiteral("scanForward"));
    if (fwd.isValid())
        setDirection(fwd.toBool());
}
