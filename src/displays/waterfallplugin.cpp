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

QToolButton* makeButton(QWidget* parent, const QString& text, const QString& tip, bool checkable)
{
    auto* b = new QToolButton(parent);
    b->setText(text);
    b->setToolTip(tip);
    b->setCheckable(checkable);
    b->setAutoRaise(true);
    return b;
}

// Physical coordinates far outside the int range (a huge length over few pixels) saturate instead of wrapping.
int physInt(double v)
{
    return int(qBound(double(INT_MIN), v, double(INT_MAX)));
}

} // namespace

QString WaterfallPlugin::_tableDir;

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
