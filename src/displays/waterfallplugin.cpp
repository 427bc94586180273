#include "displays/waterfallplugin.h"

#include "displays/colorgauge.h"
#include "displays/gaugelabel.h"
#include "displays/waterfallgriddlg.h"
#include "displays/waterfallsnbuffer.h"
#include "framework/gpluginwidget.h"
#include "framework/logging.h"
#include "framework/mobiletooltip.h"
#include "snapshot/snapshotmgr.h"
#include "utilif/algo.h"
#include "utilif/error.h"
#include "utilif/qthelpers.h"
#include "utilif/substitutablewidget.h"
#include "utilif/unitedit.h"

#include <QActionGroup>
#include <QCoreApplication>
#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPushButton>
#include <QScrollArea>
#include <QStyle>
#include <QThread>
#include <QToolButton>
#include <QVBoxLayout>
#include <climits>
#include <cmath>
#include <cstdio>
#include <new>

GPlugin* waterfallFactory(QWidget* parent, QString name)
{
    return new WaterfallPlugin(parent, name);
}

namespace {

const GPlugin::PluginDescriptor
    frameDisplayDescriptor(QStringLiteral("Frame Display"),
                           QStringLiteral("Three dimensional z(x,y) display with color coded z."), 0x6001,
                           waterfallFactory);

const int zoomSteps[] = {-20, -15, -10, -7, -5, -3, -2, 1, 2, 3, 5, 7, 10, 15, 20};

// Data trigger with which the server moves the scan area by offsets (point, path and grid tools only).
constexpr int originOffsetMove = 9;

const QColor selectionColor(255, 128, 0);

QToolButton* makeButton(QWidget* parent, const QString& text, const QString& tip, bool checkable)
{
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setCheckable(checkable);
    b->setAutoRaise(true);
    return b;
}

// Unit name and factor for the frame-view file: metres are written as nanometres.
QString fileUnit(int code, double* factor)
{
    QString unit = algoGetBaseUnit(code, nullptr, factor);
    if (unit == QLatin1String("m")) {
        unit = QStringLiteral("nm");
        *factor *= 1e9;
    }
    return unit;
}

// Physical coordinates far outside the int range (a huge length over few pixels) saturate instead of wrapping.
int physInt(double v)
{
    return int(qBound(double(INT_MIN), v, double(INT_MAX)));
}

QByteArray fmtG9(double v)
{
    char buf[40];
    std::snprintf(buf, sizeof buf, "%.9g", v);
    return QByteArray(buf);
}

} // namespace

QString WaterfallPlugin::_tableDir;

namespace {

// Other displays of the same name hear every change and apply it in turn; storing only real changes ends the echo.
void storeSetting(Savable& setting, const QString& value)
{
    if (setting.value() != value)
        setting.setValue(value);
}

} // namespace

WaterfallPlugin::WaterfallPlugin(QWidget* parent, QString name)
    : GPlugin(parent, name, &frameDisplayDescriptor),
      magSetting(this, QStringLiteral("Magnification"), name, true, "1savableChanged(QString,QString)", "1"),
      colorSetting(this, QStringLiteral("ColorCoding"), name, true, "1savableChanged(QString,QString)", "Grayscale"),
      dirSetting(this, QStringLiteral("ScanDirection"), name, true, "1savableChanged(QString,QString)", "0"),
      toolsSetting(this, QStringLiteral("ShowSelTools"), name, true, "1savableChanged(QString,QString)", "0")
{
    snapshotMgr = new SnapshotMgr(name, GPlugin::prefs(), this, -1, this);
    buildWidgets(parent);
    magnificate(1);
    setDirection(false);
    setGradation(algoNearest(-1 / meta.valFactor), algoNearest(1 / meta.valFactor));
    showToolbar(false);
    waterfall->reset();
    GPlugin::init();
}

WaterfallPlugin::~WaterfallPlugin()
{
    // A background store still calls saveSnapshot on this provider: let it end first.
    while (snapshotMgr->runningThreads() > 0) {
        QCoreApplication::sendPostedEvents(snapshotMgr);
        if (snapshotMgr->runningThreads() > 0)
            QThread::msleep(2);
    }
    // The widgets live in the page's widget tree; the plug-in takes them with it.
    delete container.data();
    delete substitute.data();
}

void WaterfallPlugin::buildWidgets(QWidget* parent)
{
    const PrefData* prefs = GPlugin::prefs();
    substitute = new SubstituteWidget(parent);
    substitute->hide();
    container = new GPluginWidget(substitute, name, this, prefs->detachOnTop, true);
    container->setParent(parent);
    container->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(container.data(), &QWidget::customContextMenuRequested, this, &WaterfallPlugin::popupMenu);
    auto* outer = new QVBoxLayout(container);
    qth_setLayoutParams(outer, prefs->layoutMargin ? *prefs->layoutMargin : 3,
                        prefs->layoutSpacing ? *prefs->layoutSpacing : 3);

    // Top row: selection tools (hideable), zoom and direction.
    auto* top = new QHBoxLayout;
    outer->addLayout(top);
    selToolbar = new QWidget(container);
    auto* tools = new QHBoxLayout(selToolbar);
    tools->setContentsMargins(0, 0, 0, 0);
    rangeButton =
        makeButton(selToolbar, QStringLiteral("Range"), QStringLiteral("Select a rectangle as new scan range."), true);
    angleButton = makeButton(selToolbar, QStringLiteral("Angle"),
                             QStringLiteral("Measure distance of two points and select a new scan rotation\nby "
                                            "dragging a line for the new horizontal direction."),
                             true);
    pointButton = makeButton(selToolbar, QStringLiteral("Point"),
                             QStringLiteral("Move the scan area\nby selecting the new center."), true);
    pathButton = makeButton(selToolbar, QStringLiteral("Path"),
                            QStringLiteral("Select a path for point-by-point measurement."), true);
    gridButton = makeButton(selToolbar, QStringLiteral("Grid"),
                            QStringLiteral("Select a grid for point-by-point measurement."), true);
    acceptButton =
        makeButton(selToolbar, QStringLiteral("Accept"), QStringLiteral("Accept the selected scan area."), false);
    acceptButton->setEnabled(false);
    for (QToolButton* b : {rangeButton, angleButton, pointButton, pathButton, gridButton, acceptButton})
        tools->addWidget(b);
    connect(rangeButton, &QToolButton::toggled, this, &WaterfallPlugin::setRgSelect);
    connect(angleButton, &QToolButton::toggled, this, &WaterfallPlugin::setAgSelect);
    connect(pointButton, &QToolButton::toggled, this, &WaterfallPlugin::setPtSelect);
    connect(pathButton, &QToolButton::toggled, this, &WaterfallPlugin::setLsSelect);
    connect(gridButton, &QToolButton::toggled, this, &WaterfallPlugin::setGrSelect);
    connect(acceptButton, &QToolButton::clicked, this, &WaterfallPlugin::acceptSelection);
    top->addWidget(selToolbar);
    top->addStretch(1);
    zoomOutButton = makeButton(container, QStringLiteral("-"), QStringLiteral("Zoom out"), false);
    zoomLabel = new QLabel(QStringLiteral("100%"), container);
    zoomLabel->setToolTip(QStringLiteral("Current zoom setting."));
    zoomInButton = makeButton(container, QStringLiteral("+"), QStringLiteral("Zoom in"), false);
    dirButton = makeButton(container, QString(), QStringLiteral("Select scan direction to display."), true);
    dirButton->setIcon(container->style()->standardIcon(QStyle::SP_BrowserReload));
    dirLabel = new QLabel(container);
    dirLabel->setToolTip(QStringLiteral("Displayed scan direction."));
    for (QWidget* w :
         {static_cast<QWidget*>(zoomOutButton), static_cast<QWidget*>(zoomLabel), static_cast<QWidget*>(zoomInButton),
          static_cast<QWidget*>(dirButton), static_cast<QWidget*>(dirLabel)})
        top->addWidget(w);
    connect(zoomInButton, &QToolButton::clicked, this, &WaterfallPlugin::zoomIn);
    connect(zoomOutButton, &QToolButton::clicked, this, &WaterfallPlugin::zoomOut);
    connect(dirButton, &QToolButton::toggled, this, &WaterfallPlugin::setDirection);

    // Display area: the image in its coloured frame, the colour gauge with the gradation fields, the scale bar.
    displayArea = new QWidget;
    auto* grid = new QGridLayout(displayArea);
    grid->setContentsMargins(2, 2, 2, 2);
    frame = new QWidget(displayArea);
    qth_setWidgetColor(frame, Qt::black, false);
    auto* frameLayout = new QVBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    waterfall = new Waterfall(frame);
    frameLayout->addWidget(waterfall);
    grid->addWidget(frame, 0, 0, 4, 1, Qt::AlignLeft | Qt::AlignTop);
    new MobileToolTip(this, waterfall);

    gradMaxEdit = new UnitEdit(displayArea);
    gradMaxEdit->setToolTip(
        QStringLiteral("Gradation Maximum.\nAll bigger values are represented\nby the high end of the color scale."));
    gradMinEdit = new UnitEdit(displayArea);
    gradMinEdit->setToolTip(
        QStringLiteral("Gradation Minimum.\nAll smaller values are represented\nby the low end of the color scale."));
    for (UnitEdit* e : {gradMinEdit, gradMaxEdit}) {
        e->setMaximumWidth(90);
        connect(e, &UnitEdit::changed, this, &WaterfallPlugin::gradEdited);
    }
    gaugeMaxLabel = new QLabel(displayArea);
    gaugeMinLabel = new QLabel(displayArea);
    gauge = new ColorGauge(waterfall, displayArea);
    gauge->setFixedWidth(16);
    gauge->setMinimumHeight(60);
    auto* gaugeColumn = new QVBoxLayout;
    gaugeColumn->addWidget(gradMaxEdit);
    gaugeColumn->addWidget(gaugeMaxLabel);
    gaugeColumn->addWidget(gauge, 1, Qt::AlignHCenter);
    gaugeColumn->addWidget(gaugeMinLabel);
    gaugeColumn->addWidget(gradMinEdit);
    autoButton = new QPushButton(QStringLiteral("Auto"), displayArea);
    autoButton->setToolTip(QStringLiteral("Calculate gradation limits\nfrom most recently displayed values."));
    connect(autoButton, &QPushButton::clicked, this, &WaterfallPlugin::resetGradation);
    gaugeColumn->addWidget(autoButton);
    grid->addLayout(gaugeColumn, 0, 1, 4, 1);

    auto* barRow = new QHBoxLayout;
    scaleBar = new GaugeLabel(displayArea);
    scaleBar->setFixedSize(0, 7);
    scaleBarText = new QLabel(displayArea);
    barRow->addWidget(scaleBar);
    barRow->addWidget(scaleBarText);
    barRow->addStretch(1);
    grid->addLayout(barRow, 4, 0, 1, 2);
    grid->setRowStretch(5, 1);
    grid->setColumnStretch(2, 1);

    auto* scroll = new QScrollArea(container);
    scroll->setWidget(displayArea);
    scroll->setWidgetResizable(true);
    scroll->setFrameShape(QFrame::NoFrame);
    outer->addWidget(scroll, 1);

    QLabel* indicator = snapshotMgr->getIndicator(displayArea);
    if (indicator)
        grid->addWidget(indicator, 0, 2, Qt::AlignRight | Qt::AlignTop);

    configureGradationFields();

    gridDlg = new WaterfallGridDlg(container);
    connect(gridDlg, &WaterfallGridDlg::pointsXChanged, waterfall, &Waterfall::gridPointsXChanged);
    connect(gridDlg, &WaterfallGridDlg::pointsYChanged, waterfall, &Waterfall::gridPointsYChanged);
    connect(gridDlg, &WaterfallGridDlg::fixXyOn, waterfall, &Waterfall::gridFixXy);
    connect(gridDlg, &WaterfallGridDlg::pointsXChanged, this, &WaterfallPlugin::gridPointsXChanged);
    connect(gridDlg, &WaterfallGridDlg::pointsYChanged, this, &WaterfallPlugin::gridPointsYChanged);
    gridDlg->init();

    connect(waterfall, &Waterfall::selected, this, &WaterfallPlugin::onSelection);
    connect(waterfall, &Waterfall::encodeMetadata, this, &WaterfallPlugin::encodeMetadata);

    menu = new QMenu(container);
    menu->addSection(QStringLiteral("Zoom"));
    zoomInAction = menu->addAction(QStringLiteral("Zoom in"), this, &WaterfallPlugin::zoomIn);
    zoomOutAction = menu->addAction(QStringLiteral("Zoom out"), this, &WaterfallPlugin::zoomOut);
    menu->addSeparator();
    colorMenu = menu->addMenu(QStringLiteral("Color Coding"));
    colorGroup = new QActionGroup(colorMenu);
    colorGroup->setExclusive(true);
    connect(colorMenu, &QMenu::aboutToShow, this, &WaterfallPlugin::updateColorMenu);
    connect(colorMenu, &QMenu::triggered, this, QOverload<QAction*>::of(&WaterfallPlugin::setColorCoding));
    showToolsAction = menu->addAction(QStringLiteral("Show Selection Tools"));
    showToolsAction->setCheckable(true);
    connect(showToolsAction, &QAction::toggled, this, &WaterfallPlugin::showToolbar);
    menu->addAction(QStringLiteral("Rename..."), this, &WaterfallPlugin::renameView);
    detachAction = menu->addAction(QString());
    updateColorMenu();
}

QWidget* WaterfallPlugin::getWidget()
{
    return container;
}

int WaterfallPlugin::getStretch()
{
    return 5;
}

SnapshotMgr* WaterfallPlugin::getSnapshotManager() const
{
    return snapshotMgr;
}

QString WaterfallPlugin::viewName() const
{
    const QString n = snapshotMgr->getName();
    return n.isEmpty() ? name : n;
}

QString WaterfallPlugin::formatX(double value) const
{
    return GPlugin::formatValue(value, meta.unitX, 1.0, ' ', 3);
}

QString WaterfallPlugin::formatVal(double value) const
{
    return GPlugin::formatValue(value, meta.unitVal, meta.valFactor, ' ', 3);
}

// ---- data properties ----

void WaterfallPlugin::init()
{
    waterfall->reset();
    const bool enable = meta.trigger == GPlugin::scanner || int(meta.trigger) == originOffsetMove;
    for (QToolButton* b : {rangeButton, angleButton, pointButton, pathButton, gridButton})
        b->setEnabled(enable);
    GPlugin::init();
}

void WaterfallPlugin::setDataOrder(GPlugin::DataOrder order)
{
    meta.order = order;
    if (order == GPlugin::forFor)
        setDirection(true);
    GPlugin::setDataOrder(order);
}

bool WaterfallPlugin::changeRange(StreamFormat::Property p, int& range, int value)
{
    // Compared with the value that arrived last, not with the range in use: a range below 2 is shown as 260, and a
    // later 260 is still news for the successor.
    const int last = meta.received.isSet(p) ? meta.received.value(p) : range;
    if (value == last)
        return false;
    meta.received.set(p, value);
    range = value < 2 ? 260 : value;
    if (!waterfall->setRange(meta.rangeX, meta.rangeY)) {
        meta.rangeX = meta.rangeY = 2;
        meta.received.unset(StreamFormat::RangeX);
        meta.received.unset(StreamFormat::RangeY);
        throw OomError();
    }
    return true;
}

void WaterfallPlugin::setDataRangeX(int value)
{
    if (!changeRange(StreamFormat::RangeX, meta.rangeX, value))
        return;
    updateGauge();
    GPlugin::setDataRangeX(value);
}

void WaterfallPlugin::setDataRangeY(int value)
{
    if (changeRange(StreamFormat::RangeY, meta.rangeY, value))
        GPlugin::setDataRangeY(value);
}

void WaterfallPlugin::setDataOffsetX(int value)
{
    meta.offsetX = value;
    GPlugin::setDataOffsetX(value);
}

void WaterfallPlugin::setDataOffsetY(int value)
{
    meta.offsetY = value;
    GPlugin::setDataOffsetY(value);
}

void WaterfallPlugin::setDataPhysY(int value)
{
    meta.physY = value;
    GPlugin::setDataPhysY(value);
}

void WaterfallPlugin::setDataPhysX(int value)
{
    const bool changed = value != meta.physX;
    meta.physX = value;
    if (changed)
        updateGauge();
    GPlugin::setDataPhysX(value);
}

void WaterfallPlugin::setDataPhysVal(int value)
{
    if (value > 0) {
        const double f = 1.0 / value;
        if (f != meta.valFactor) {
            meta.valFactor = f;
            configureGradationFields();
            gradEdited();
        }
    }
    GPlugin::setDataPhysVal(value);
}

void WaterfallPlugin::setDataOffsetVal(int value)
{
    if (value != meta.offsetVal) {
        meta.offsetVal = value;
        configureGradationFields();
        gradEdited();
    }
    GPlugin::setDataOffsetVal(value);
}

void WaterfallPlugin::setDataTrigger(GPlugin::DataTrigger trigger)
{
    meta.trigger = trigger;
    const bool scanner = trigger == GPlugin::scanner;
    const bool points = scanner || int(trigger) == originOffsetMove;
    rangeButton->setEnabled(scanner);
    angleButton->setEnabled(scanner);
    for (QToolButton* b : {pointButton, pathButton, gridButton})
        b->setEnabled(points);
    GPlugin::setDataTrigger(trigger);
}

void WaterfallPlugin::setDataRotation(int value)
{
    if (value != meta.rotation) {
        meta.rotation = value;
        meta.sinRot = std::sin(value * radPerRotUnit);
        meta.cosRot = std::cos(value * radPerRotUnit);
        waterfall->setRotation(value);
    }
    GPlugin::setDataRotation(value);
}

void WaterfallPlugin::setDataUnitX(int unit)
{
    if (unit == meta.unitX)
        return;
    meta.unitX = unit;
    updateGauge();
    GPlugin::setDataUnitX(unit);
}

void WaterfallPlugin::setDataUnitVal(int unit)
{
    if (unit != meta.unitVal) {
        meta.unitVal = unit;
        configureGradationFields();
        setGradation(algoNearest(-1 / meta.valFactor), algoNearest(1 / meta.valFactor));
    }
    GPlugin::setDataUnitVal(unit);
}

void WaterfallPlugin::setFixXY(bool fix)
{
    waterfall->setFixXY(fix);
    GPlugin::setFixXY(fix);
}

void WaterfallPlugin::setDataScanSpeed(int value)
{
    meta.scanSpeed = value;
}

// Shows raw values as (raw - value offset) * value factor in the value unit.
void WaterfallPlugin::configureGradationFields()
{
    char prefix = ' ';
    double unitFactor = 1.0;
    const QString unit = algoGetBaseUnit(meta.unitVal, &prefix, &unitFactor);
    double f = meta.valFactor;
    if (prefix == 'X') {
        f *= unitFactor;
        prefix = ' ';
    }
    for (UnitEdit* e : {gradMinEdit, gradMaxEdit}) {
        const int v = e->getValue();
        e->configure(unit, prefix, -1000000000, 1000000000, 6, f, -meta.offsetVal * f);
        e->setValue(v);
    }
}

// ---- frame assembly ----

void WaterfallPlugin::triggerDisplayComplete()
{
    snapshotMgr->executeTrigger(SnapshotMgr::trgDisplayComplete, -1);
}

void WaterfallPlugin::setData(const int* data, int count, int offset)
{
    if (count == 0) {
        if (pieceCount != 0) {
            triggerDisplayComplete();
            pieceCount = 0;
            return;
        }
        GPlugin::setData(data, count, offset);
        return;
    }
    if (count < 0 || offset < 0 || !data) {
        GPlugin::setData(data, count, offset);
        return;
    }
    const qint64 w = meta.rangeX;
    const qint64 h = meta.rangeY;
    const qint64 lines = (meta.order == GPlugin::forBack || meta.order == GPlugin::backFor) ? 2 : 1;
    const qint64 frameSize = lines * w * h;
    qint64 p = offset;
    const int* d = data;
    int left = count;
    while (left > 0) {
        const qint64 line = p / w;
        const qint64 col = p % w;
        const qint64 row = line / lines;
        const qint64 frameNo = row / h;
        const int r = int(row % h);
        const bool odd = frameNo % 2 == 1;
        // Even frames fill from the bottom line up, odd frames from the top down.
        const int y = odd ? r : int(h) - 1 - r;
        if (odd != parity) {
            waterfall->setFull();
            if (pieceCount != 0)
                triggerDisplayComplete();
            pieceCount = 1;
        } else {
            ++pieceCount;
        }
        parity = odd;
        const int n = int(qMin<qint64>(w - col, left));
        bool fwd;
        switch (meta.order) {
        case GPlugin::forFor:
            fwd = true;
            break;
        case GPlugin::forBack:
            fwd = line % 2 == 0;
            break;
        case GPlugin::backFor:
            fwd = line % 2 == 1;
            break;
        default:
            fwd = false;
            break;
        }
        // Backward lines were scanned right to left: they are mirrored into place.
        if (fwd)
            waterfall->setLine(true, y, int(col), d, n, false);
        else
            waterfall->setLine(false, y, int(w - 1 - col), d, n, true);
        p += n;
        d += n;
        left -= n;
        if (p % frameSize == 0 && pieceCount != 0) {
            triggerDisplayComplete();
            pieceCount = 0;
        }
    }
    GPlugin::setData(data, count, offset);
}

void WaterfallPlugin::provokeFullTrigger()
{
    if (pieceCount == 0)
        triggerDisplayComplete();
}

void WaterfallPlugin::postMessage(QString text, int timeout, int kind)
{
    emit statusChanged(text, timeout, kind);
}

// ---- coordinates ----

QPoint WaterfallPlugin::pixelToPhys(QPoint p, bool rotate) const
{
    const double sx = (meta.physX >= 1 && meta.rangeX >= 2) ? double(meta.physX) / meta.rangeX : 1.0;
    const double sy = (meta.physY >= 1 && meta.rangeY >= 1) ? double(meta.physY) / meta.rangeY : 1.0;
    const double dx = (p.x() - (meta.rangeX - 1) * 0.5) * sx;
    const double dy = ((meta.rangeY - 1) * 0.5 - p.y()) * sy;
    const double x = rotate ? dx * meta.cosRot - dy * meta.sinRot : dx;
    const double y = rotate ? dx * meta.sinRot + dy * meta.cosRot : dy;
    return QPoint(physInt(std::trunc(x) + meta.offsetX), physInt(std::trunc(y) + meta.offsetY));
}

QRect WaterfallPlugin::pixelToPhys(QRect r, bool rotate) const
{
    const QRect n = r.normalized();
    const QPoint a = pixelToPhys(n.topLeft(), false);
    const QPoint b = pixelToPhys(n.bottomRight(), false);
    const int w = std::abs(b.x() - a.x());
    const int h = std::abs(b.y() - a.y());
    const QPoint c = pixelToPhys(QPoint((n.left() + n.right()) / 2, (n.top() + n.bottom()) / 2), rotate);
    return QRect(c.x() - w / 2, c.y() - h / 2, w, h);
}

QString WaterfallPlugin::getToolTip(const QPoint& pos) const
{
    const QPoint d = waterfall->pix2ScanCoord(pos);
    const QPoint phys = pixelToPhys(d, true);
    QString text =
        viewName() + QStringLiteral("\nX: ") + formatX(phys.x()) + QStringLiteral("\nY :") + formatX(phys.y());
    int value = 0;
    if (waterfall->getValue(d.x(), d.y(), &value))
        text += QStringLiteral("\nValue: ") + formatVal((double(value) - meta.offsetVal) * meta.valFactor);
    return text;
}

// ---- selection tools ----

QToolButton* WaterfallPlugin::toolButton(Waterfall::SelectionMode mode) const
{
    switch (mode) {
    case Waterfall::RangeSelection:
        return rangeButton;
    case Waterfall::AngleSelection:
        return angleButton;
    case Waterfall::PointSelection:
        return pointButton;
    case Waterfall::PathSelection:
        return pathButton;
    case Waterfall::GridSelection:
        return gridButton;
    default:
        return nullptr;
    }
}

void WaterfallPlugin::selectTool(Waterfall::SelectionMode mode, bool on)
{
    QToolButton* own = toolButton(mode);
    if (own->isChecked() != on) {
        // Called directly rather than by the button: bring the button in line, which calls back here.
        own->setChecked(on);
        return;
    }
    if (on) {
        for (QToolButton* b : {rangeButton, angleButton, pointButton, pathButton, gridButton}) {
            if (b != own && b->isChecked()) {
                const QSignalBlocker block(b);
                b->setChecked(false);
            }
        }
        gridDlg->setVisible(mode == Waterfall::GridSelection);
        accepted.clear(); // a selection made with another tool is not accepted by this one
        acceptButton->setEnabled(false);
        qth_setWidgetColor(frame, selectionColor, false);
        waterfall->setSelectionMode(mode);
        emit statusChanged(QString(), -1, 0);
    } else {
        if (waterfall->selectionMode != mode)
            return; // another tool took over
        if (mode == Waterfall::GridSelection)
            gridDlg->hide();
        acceptButton->setEnabled(false);
        qth_setWidgetColor(frame, Qt::black, false);
        waterfall->setSelectionMode(Waterfall::NoSelection);
    }
}

void WaterfallPlugin::setRgSelect(bool on)
{
    selectTool(Waterfall::RangeSelection, on);
}

void WaterfallPlugin::setAgSelect(bool on)
{
    selectTool(Waterfall::AngleSelection, on);
}

void WaterfallPlugin::setPtSelect(bool on)
{
    selectTool(Waterfall::PointSelection, on);
}

void WaterfallPlugin::setLsSelect(bool on)
{
    selectTool(Waterfall::PathSelection, on);
}

void WaterfallPlugin::setGrSelect(bool on)
{
    selectTool(Waterfall::GridSelection, on);
}

void WaterfallPlugin::onSelection(Waterfall::SelectionMode mode, Waterfall::SelectionList list)
{
    // The clearing signal of a new press keeps the selection that is ready to be accepted.
    if (list.isEmpty())
        return;
    Waterfall::SelectionList data;
    data.reserve(list.size());
    for (const QRect& r : list)
        data.append(QRect(waterfall->pix2ScanCoord(r.topLeft()), waterfall->pix2ScanCoord(r.bottomRight())));
    accepted = data;
    qCDebug(lcDisplays) << "OnSel: in " << list << " out " << data;

    QString text;
    switch (mode) {
    case Waterfall::RangeSelection: {
        const QRect p = pixelToPhys(accepted.first(), true);
        accepted.first() = p;
        text = QStringLiteral("Selection: X: %1 - %2  Y: %3 - %4")
                   .arg(formatX(p.left()), formatX(p.right()), formatX(p.top()), formatX(p.bottom()));
        break;
    }
    case Waterfall::AngleSelection: {
        const QPoint a = accepted.first().topLeft();
        const QPoint b = accepted.first().bottomRight();
        qint64 rot =
            qint64((std::atan2(double(b.y() - a.y()), -double(b.x() - a.x())) + M_PI) / radPerRotUnit) + meta.rotation;
        while (rot > 65534)
            rot -= 65535;
        while (rot < 0)
            rot += 65535;
        newRotation = int(rot);
        const QPoint pa = pixelToPhys(a, false);
        const QPoint pb = pixelToPhys(b, false);
        const double dist = std::hypot(double(pb.x() - pa.x()), double(pb.y() - pa.y()));
        int z0 = 0;
        int z1 = 0;
        waterfall->getValue(a.x(), a.y(), &z0);
        waterfall->getValue(b.x(), b.y(), &z1);
        const double v0 = (double(z0) - meta.offsetVal) * meta.valFactor;
        const double v1 = (double(z1) - meta.offsetVal) * meta.valFactor;
        text = QStringLiteral("Selected: %1°, Dist: %2, Z0: %3, Z1: %4, dZ: %5")
                   .arg(QString::number(newRotation * 360.0 / 65535.0, 'g'), formatX(dist), formatVal(v0),
                        formatVal(v1), formatVal(v1 - v0));
        break;
    }
    case Waterfall::PointSelection: {
        const QRect m = accepted.first();
        const int cx = (m.left() + m.right()) / 2;
        const int cy = (m.top() + m.bottom()) / 2;
        const int x1 = cx - (meta.rangeX - 1) / 2;
        const int y1 = cy - (meta.rangeY - 1) / 2;
        const QRect area(QPoint(x1, y1), QPoint(x1 + meta.rangeX - 1, y1 + meta.rangeY - 1));
        const QRect p = pixelToPhys(area, true);
        accepted.first() = p;
        text = QStringLiteral("Selection: X: %1 Y: %2")
                   .arg(formatX(p.left() + p.width() / 2), formatX(p.top() + p.height() / 2));
        if (sendCoordToPeers) {
            const QString raw = QStringLiteral("%1,%2")
                                    .arg((area.left() + area.right()) / 2)
                                    .arg(meta.rangeY - (area.top() + area.bottom()) / 2);
            sendEventToPeers(QStringLiteral("rawcoord"), raw, true);
        }
        break;
    }
    case Waterfall::PathSelection:
        for (QRect& r : accepted)
            r = pixelToPhys(r, true);
        text = QStringLiteral("Selection: X: %1 Y: %2")
                   .arg(formatX(accepted.last().left() + accepted.last().width() / 2),
                        formatX(accepted.last().top() + accepted.last().height() / 2));
        break;
    case Waterfall::GridSelection: {
        const QRect r = accepted.first();
        accepted = {QRect(pixelToPhys(QPoint(r.left(), r.top()), true), QSize(1, 1)),
                    QRect(pixelToPhys(QPoint(r.right(), r.top()), true), QSize(1, 1)),
                    QRect(pixelToPhys(QPoint(r.left(), r.bottom()), true), QSize(1, 1))};
        break;
    }
    default:
        break;
    }
    emit statusChanged(text, 60000, 0);
    acceptButton->setEnabled(mode != Waterfall::NoSelection);
}

void WaterfallPlugin::acceptSelection()
{
    if (accepted.isEmpty())
        return;
    emit statusChanged(QString(), -1, 0);
    const Waterfall::SelectionMode mode = waterfall->selectionMode;
    switch (mode) {
    case Waterfall::AngleSelection:
        emit angleSelected(newRotation);
        break;
    case Waterfall::RangeSelection:
    case Waterfall::PointSelection:
        emit rangeSelected(accepted.first(), meta.trigger);
        break;
    case Waterfall::GridSelection:
        if (accepted.size() == 3) {
            const PathList pts{accepted[0].topLeft(), (gridPointsX < 2 ? accepted[0] : accepted[1]).topLeft(),
                               (gridPointsY < 2 ? accepted[0] : accepted[2]).topLeft()};
            emit gridSelected(pts, gridPointsX, gridPointsY, meta.trigger);
        }
        break;
    case Waterfall::PathSelection: {
        PathList centres;
        centres.reserve(accepted.size());
        for (const QRect& r : accepted)
            centres.append(QPoint((r.left() + r.right()) / 2, (r.top() + r.bottom()) / 2));
        emit pathSelected(centres, meta.trigger);
        break;
    }
    default:
        break;
    }
    const bool offsetMove = int(meta.trigger) == originOffsetMove;
    if (mode == Waterfall::PathSelection) {
        if (offsetMove)
            pointButton->setEnabled(false);
        return;
    }
    if (mode != Waterfall::GridSelection) {
        for (QToolButton* b : {angleButton, pointButton, pathButton, rangeButton})
            b->setChecked(false);
        acceptButton->setEnabled(false);
    }
    if (offsetMove)
        pointButton->setEnabled(false);
}

void WaterfallPlugin::gridPointsXChanged(int points)
{
    gridPointsX = points;
}

void WaterfallPlugin::gridPointsYChanged(int points)
{
    gridPointsY = points;
}

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

// ---- options ----

void WaterfallPlugin::setOption(QString key, QString value)
{
    bool ok = false;
    const int v = value.trimmed().toInt(&ok);
    if (!ok)
        return;
    const QString k = key.toLower();
    if (k == QLatin1String("datarangex") || k == QLatin1String("datarangey")) {
        // An option must not end the layout that carries it: a frame that does not fit is reported and left out.
        const bool x = k == QLatin1String("datarangex");
        const int w = x ? v : meta.rangeX, h = x ? meta.rangeY : v;
        try {
            if (x)
                setDataRangeX(v);
            else
                setDataRangeY(v);
        } catch (const OomError&) {
            emit statusChanged(QStringLiteral("Not enough memory for a frame of %1 x %2 pixels").arg(w).arg(h), -1, 2);
        }
    } else if (k == QLatin1String("size")) {
        if (!waterfall->setRange(v, v))
            emit statusChanged(QStringLiteral("Not enough memory for a frame of %1 x %1 pixels").arg(v), -1, 2);
        container->setMinimumSize(waterfall->size() + QSize(25, 33));
    } else if (k == QLatin1String("displaypathbutton")) {
        pathButton->setVisible(v != 0);
    } else if (k == QLatin1String("displaygridbutton")) {
        gridButton->setVisible(v != 0);
    } else if (k == QLatin1String("displayscanbuttons")) {
        rangeButton->setVisible(v != 0);
        angleButton->setVisible(v != 0);
    } else if (k == QLatin1String("displaytoolbar")) {
        if ((v != 0) != !selToolbar->isHidden())
            showToolbar(v != 0);
    } else if (k == QLatin1String("displaydirbutton")) {
        dirButton->setVisible(v != 0);
    } else if (k == QLatin1String("defaultdirisfwd")) {
        setDirection(v != 0);
    } else if (k == QLatin1String("sendcoordtopeers")) {
        sendCoordToPeers = v != 0;
        acceptButton->setVisible(!sendCoordToPeers);
    } else if (k == QLatin1String("fixedcolorcoding")) {
        waterfall->setFixedColorCoding(v != 0);
        for (QWidget* w :
             {static_cast<QWidget*>(gradMinEdit), static_cast<QWidget*>(gradMaxEdit), static_cast<QWidget*>(autoButton),
              static_cast<QWidget*>(gauge), static_cast<QWidget*>(gaugeMinLabel), static_cast<QWidget*>(gaugeMaxLabel)})
            w->setVisible(v == 0);
    }
}

// ---- snapshots ----

SnapshotBuffer* WaterfallPlugin::snapshotData(int kind)
{
    auto buffer = std::make_unique<WaterfallSnBuffer>();
    buffer->meta = meta;
    buffer->viewName = viewName();
    buffer->width = waterfall->rangeX;
    buffer->height = waterfall->rangeY;
    if (kind & SnapshotMgr::typeCsvDisplayed) {
        int* fwd = nullptr;
        int* bwd = nullptr;
        char* fwdValid = nullptr;
        char* bwdValid = nullptr;
        waterfall->getBuffers(true, &fwd, &fwdValid);
        waterfall->getBuffers(false, &bwd, &bwdValid);
        if (fwd && bwd) {
            const size_t n = size_t(buffer->width) * size_t(buffer->height);
            try {
                buffer->values.resize(2 * n);
                buffer->valid.resize(2 * n);
            } catch (const std::bad_alloc&) {
                throw OomError();
            }
            std::copy(fwd, fwd + n, buffer->values.begin());
            std::copy(bwd, bwd + n, buffer->values.begin() + n);
            std::copy(fwdValid, fwdValid + n, buffer->valid.begin());
            std::copy(bwdValid, bwdValid + n, buffer->valid.begin() + n);
        }
    }
    buffer->hasFwd = !waterfall->getEmpty(true);
    buffer->hasBwd = !waterfall->getEmpty(false);
    if (kind & SnapshotMgr::typeGraphics) {
        buffer->fwdImage = makeSnapshotImg(true);
        buffer->bwdImage = makeSnapshotImg(false);
    }
    return buffer.release();
}

QImage WaterfallPlugin::makeSnapshotImg(bool fwd)
{
    if (mode3d)
        return QImage();
    const bool shown = waterfall->isForwardDisplayed();
    if (shown != fwd)
        waterfall->setDirection(fwd);
    const QImage picture = displayArea->grab().toImage();
    if (shown != fwd)
        waterfall->setDirection(shown);
    return picture;
}

bool WaterfallPlugin::saveSnapshot(QString name, int kind, const SnapshotBuffer* buffer, QString* message)
{
    const auto* buf = dynamic_cast<const WaterfallSnBuffer*>(buffer);
    if (buffer && !buf) {
        if (message)
            *message = QStringLiteral("Failed to write snapshot to ") + name;
        return false;
    }
    const bool has[2] = {buf ? buf->hasFwd : !waterfall->getEmpty(true),
                         buf ? buf->hasBwd : !waterfall->getEmpty(false)};
    bool ok = true;
    QString written;
    QString failed;
    const int types[2] = {SnapshotMgr::typeGraphics, SnapshotMgr::typeCsvDisplayed};
    for (int type : types) {
        if (!(kind & type))
            continue;
        const QString ext = type == SnapshotMgr::typeGraphics ? QStringLiteral("png") : QStringLiteral("asc");
        for (int d = 0; d < 2; ++d) {
            if (!has[d])
                continue;
            const bool fwd = d == 0;
            const QString suffix = fwd ? QStringLiteral("fwd") : QStringLiteral("bwd");
            const QString file = SnapshotMgr::reserveFilename(name, ext, suffix);
            const bool done = !file.isEmpty() && (type == SnapshotMgr::typeGraphics
                                                      ? saveSnapshotImg(buffer, file, fwd, QStringLiteral("PNG"))
                                                      : saveSnapshotAsc(buffer, file, fwd));
            if (done) {
                written = file;
                continue;
            }
            if (!file.isEmpty())
                QFile::remove(file);
            ok = false;
            if (failed.isEmpty())
                failed = file.isEmpty() ? name + QLatin1Char('-') + suffix : file;
            if (fwd)
                break; // the backward file of this type is not attempted
        }
    }
    if (message) {
        if (!ok)
            *message = QStringLiteral("Failed to write snapshot to ") + failed;
        else if (!written.isEmpty())
            *message = QStringLiteral("Snapshot written to ") + written;
        else
            message->clear();
    }
    return ok;
}

bool WaterfallPlugin::saveSnapshotImg(const SnapshotBuffer* buffer, QString fileName, bool fwd, QString format)
{
    const auto* buf = dynamic_cast<const WaterfallSnBuffer*>(buffer);
    const QImage picture = buf ? (fwd ? buf->fwdImage : buf->bwdImage) : makeSnapshotImg(fwd);
    if (picture.isNull())
        return false;
    return picture.save(fileName, format.toLatin1().constData(), 70);
}

bool WaterfallPlugin::saveSnapshotAsc(const SnapshotBuffer* buffer, QString fileName, bool fwd)
{
    const auto* buf = dynamic_cast<const WaterfallSnBuffer*>(buffer);
    const WaterfallMeta& m = buf ? buf->meta : meta;
    const int w = buf ? buf->width : waterfall->rangeX;
    const int h = buf ? buf->height : waterfall->rangeY;
    const size_t n = size_t(w) * size_t(h);
    const int* values = nullptr;
    const char* valid = nullptr;
    if (buf) {
        if (buf->values.size() >= 2 * n && n > 0) {
            values = buf->values.data() + (fwd ? 0 : n);
            valid = buf->valid.data() + (fwd ? 0 : n);
        }
    } else {
        int* v = nullptr;
        char* ok = nullptr;
        waterfall->getBuffers(fwd, &v, &ok);
        values = v;
        valid = ok;
    }

    QFile file(fileName);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate | QIODevice::Text))
        return false;
    double xFactor = 1.0;
    double valFactor = 1.0;
    const QString xUnit = fileUnit(m.unitX, &xFactor);
    const QString valUnit = fileUnit(m.unitVal, &valFactor);
    const double multiplier = valFactor * m.valFactor;
    const QString view = buf ? buf->viewName : viewName();

    QByteArray out;
    out += "# Orvik frame view snapshot\n";
    out += "# " + QDateTime::currentDateTime().toString(Qt::ISODate).toLatin1() + "\n";
    out += "# display:   " + view.toLatin1() + (fwd ? "fwd" : "bwd") + "\n";
    out += "# x-pixels:  " + QByteArray::number(w) + "\n";
    out += "# y-pixels:  " + QByteArray::number(h) + "\n";
    out += "# x-length:  " + fmtG9(m.physX * xFactor) + "\n";
    out += "# y-length:  " + fmtG9(m.physY * xFactor) + "\n";
    out += "# x-offset:  " + fmtG9(m.offsetX * xFactor) + "\n";
    out += "# y-offset:  " + fmtG9(m.offsetY * xFactor) + "\n";
    out += "# rotation:  " + fmtG9(m.rotation * 360.0 / 65535.0) + "\n";
    out += "# x-unit:    " + xUnit.toLatin1() + "\n";
    out += "# y-unit:    " + xUnit.toLatin1() + "\n";
    out += "# z-unit:    " + valUnit.toLatin1() + "\n";
    out += "# scanspeed: " + QByteArray::number((m.scanSpeed + 500) / 1000) + "\n";
    out += "# Start of Data:\n";

    const bool matrix = GPlugin::prefs()->ascMatrix && *GPlugin::prefs()->ascMatrix;
    const char* sep = matrix ? "  " : "\n";
    bool good = true;
    for (int y = 0; y < h && good; ++y) {
        for (int x = 0; x < w; ++x) {
            const size_t i = size_t(y) * size_t(w) + size_t(x);
            const int v = values && valid && valid[i] ? values[i] : 0;
            out += fmtG9((double(v) - m.offsetVal) * multiplier);
            out += sep;
        }
        if (matrix)
            out += '\n';
        // Written line by line so that a large frame never needs its whole text in memory.
        if (out.size() > (1 << 16)) {
            good = file.write(out) == out.size();
            out.clear();
        }
    }
    if (good && !out.isEmpty())
        good = file.write(out) == out.size();
    file.close();
    return good && file.error() == QFileDevice::NoError;
}
