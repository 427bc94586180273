#include "displays/lineviewplugin.h"

#include "displays/scalegraph.h"
#include "framework/gpluginwidget.h"
#include "framework/logging.h"
#include "framework/mobiletooltip.h"
#include "snapshot/snapshotmgr.h"
#include "utilif/algo.h"
#include "utilif/error.h"
#include "utilif/qthelpers.h"
#include "utilif/substitutablewidget.h"
#include "utilif/unitedit.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QLabel>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QToolButton>
#include <QWheelEvent>
#include <cmath>
#include <memory>
#include <new>

namespace {

const GPlugin::PluginDescriptor lineDisplay2(QStringLiteral("Line Display 2"),
                                             QStringLiteral("Two dimensional y(x) or y(t) display."), 0x1001,
                                             lineViewFactory);
const GPlugin::PluginDescriptor doubleLineDisplay2(QStringLiteral("Double Line Display 2"),
                                                   QStringLiteral("y(x) or y(t) display for two input streams."),
                                                   0x10c1, doubleLineViewFactory);
const GPlugin::PluginDescriptor parametricDisplay(
    QStringLiteral("Parametric Display"),
    QStringLiteral("Displays two data streams as a parametric curve,\ni.e. the set of points x(t),y(t) ."), 0x1041,
    corrViewFactory);

// Curves of ordered data are cut only at this size: a stream whose lines never end (or are announced absurdly long)
// must not take all memory.
constexpr int kHardMaxPoints = 1 << 24;
// A server-side marker position is a fraction of 2^31 of 12.5 MHz worth of ticks.
constexpr double kMarkerScale = 12500000 * 4.656612873077393e-10;

// A small glyph icon for the tool bar buttons.
QIcon glyphIcon(const QString& glyph)
{
    QPixmap pm(16, 16);
    pm.fill(Qt::transparent);
    QPainter p(&pm);
    QFont f = p.font();
    f.setPixelSize(glyph.size() > 1 ? 9 : 13);
    f.setBold(true);
    p.setFont(f);
    p.setPen(QColor(30, 30, 30));
    p.drawText(pm.rect(), Qt::AlignCenter, glyph);
    return QIcon(pm);
}

} // namespace

GPlugin* lineViewFactory(QWidget* parent, QString name)
{
    return new LineViewPlugin(parent, name, false, nullptr, &lineDisplay2);
}

GPlugin* doubleLineViewFactory(QWidget* parent, QString name)
{
    return new LineViewPlugin(parent, name, false, nullptr, &doubleLineDisplay2);
}

GPlugin* corrViewFactory(QWidget* parent, QString name)
{
    return new LineViewPlugin(parent, name, true, nullptr, &parametricDisplay);
}

LineViewPlugin::LineViewPlugin(QWidget* parent, QString name, bool parametric, ViewFactory viewFactory,
                               const PluginDescriptor* descriptor)
    : GPlugin(parent, name, descriptor), parametric(parametric)
{
    const PrefData* prefs = GPlugin::prefs();
    substitute = new SubstituteWidget(nullptr);
    pluginWidget = new GPluginWidget(substitute, name, this, prefs->detachOnTop, true);
    frame = new QWidget(pluginWidget);
    frame->setAutoFillBackground(true);
    qth_setWidgetColor(frame, Qt::black, false);
    auto* frameLayout = new QHBoxLayout(frame);
    frameLayout->setContentsMargins(0, 0, 0, 0);
    view = viewFactory ? viewFactory(frame, parametric) : new LineView(frame, parametric);
    view->setParent(frame);
    view->setSizePolicy(QSizePolicy::MinimumExpanding, QSizePolicy::MinimumExpanding);
    view->setMinimumSize(200, 150);
    view->resize(400, 300);
    frameLayout->addWidget(view);
    frame->installEventFilter(view);
    view->installEventFilter(this);
    new MobileToolTip(this, view);

    scaleGraph = new ScaleGraph(pluginWidget);
    scaleGraph->hide();
    statusLabel = new QLabel(pluginWidget);
    statusLabel->setAutoFillBackground(true);
    qth_setWidgetColor(statusLabel, Qt::darkGray, false);
    statusLabel->hide();
    view->setStatusWidget(statusLabel);

    snapshotMgr = new SnapshotMgr(name, prefs, this, -1, this);
    snapshotMgr->getIndicator(view);

    autoscaleTimer = new QTimer(this);
    autoscaleTimer->setSingleShot(true);
    connect(autoscaleTimer, &QTimer::timeout, this, [this] { autoscaleRgY(false); });

    buildControls();
    buildDialog();
    buildMenu();

    auto* grid = new QGridLayout(pluginWidget);
    qth_setLayoutParams(grid, 0, 0);
    grid->addWidget(frame, 0, 0);
    grid->addWidget(scaleGraph, 0, 1);
    grid->addWidget(statusLabel, 1, 0, 1, 2);
    grid->setRowMinimumHeight(2, prefs->layoutSpacing ? *prefs->layoutSpacing : 0);
    grid->addWidget(toolbar, 3, 0, 1, 2);
    grid->setRowStretch(0, 1000);
    grid->setColumnStretch(0, 1000);

    // The page may delete our widget before us; from then on data only passes through.
    connect(pluginWidget, &QObject::destroyed, this, [this] {
        widgetAlive = false;
        autoscaleTimer->stop();
    });
    connect(view, &LineView::selected, this, &LineViewPlugin::onSelChange);
    connect(view, &LineView::selAccepted, this, &LineViewPlugin::onSelAccept);
    connect(view, &LineView::wheelEventReceived, this, &LineViewPlugin::onWheel);
    view->setContextMenuPolicy(Qt::CustomContextMenu);
    connect(view, &QWidget::customContextMenuRequested, this, &LineViewPlugin::popupMenu);

    updateRgXBoxes();
    onRgXEdit();
    {
        const QSignalBlocker block(this);
        onRgYModeChg(yAuto);
        btnXManual->setChecked(false);
        chkXManual->setChecked(false);
        btnYManual->setChecked(false);
        updateRgXBoxes();
        onRgXEdit();
        setSelectMode(false, LineView::SelNone);
        chkRolling->setChecked(false);
    }
    if (lines.size() < 2) {
        clearDisplay(true);
        setPending(pendClearKeep);
    }
    GPlugin::init();
    autoscaleRgY();
}

LineViewPlugin::~LineViewPlugin()
{
    // The manager refers to us as its provider: it goes first.
    delete snapshotMgr;
    snapshotMgr = nullptr;
    widgetAlive = false;
    delete pluginWidget.data();
    delete substitute;
}

void LineViewPlugin::buildControls()
{
    toolbar = new QWidget(pluginWidget);
    auto* row = new QHBoxLayout(toolbar);
    row->setContentsMargins(0, 0, 0, 0);
    row->setSpacing(2);
    int side = 0;
    auto make = [&](const QString& glyph, const QString& tip, bool checkable) {
        auto* b = new QToolButton(toolbar);
        b->setIcon(glyphIcon(glyph));
        b->setToolTip(tip);
        b->setCheckable(checkable);
        if (!side)
            side = b->sizeHint().height();
        b->setFixedSize(side, side);
        row->addWidget(b);
        return b;
    };
    btnXManual = make("X", tr("Rescale X range manually."), true);
    btnYManual = make("Y", tr("Rescale Y range manually."), true);
    row->addSpacing(8);
    btnZoomIn = make("+", tr("Zoom in."), false);
    btnZoomOut = make("-", tr("Zoom out."), false);
    btnXEnlarge = make("<>", tr("Enlarge X range."), false);
    btnXReduce = make("><", tr("Reduce X range."), false);
    row->addSpacing(8);
    btnSelRange = make("[]", tr("Select X range."), true);
    btnSelX = make("|", tr("Select X Value."), true);
    btnSelY = make("_", tr("Select Y Value."), true);
    btnAccept = make("ok", tr("Accept selected X range."), false);
    row->addSpacing(8);
    btnStop = make("#", tr("Stop display."), true);
    btnClear = make("C", tr("Clear display."), false);
    btnStopAll = make("##", tr("Stop all displays."), true);
    btnClearAll = make("CC", tr("Clear all displays."), false);
    row->addStretch(1);
    for (QToolButton* b : {btnZoomIn, btnZoomOut, btnXEnlarge, btnXReduce, btnStopAll, btnClearAll})
        b->hide();
    btnSelX->setEnabled(false);
    btnSelY->setEnabled(false);
    btnAccept->setEnabled(false);

    connect(btnXManual, &QToolButton::toggled, this, &LineViewPlugin::onRgXManuChg);
    connect(btnYManual, &QToolButton::toggled, this, &LineViewPlugin::onRgYManuChg);
    connect(btnZoomIn, &QToolButton::clicked, this, &LineViewPlugin::onRgYDec);
    connect(btnZoomOut, &QToolButton::clicked, this, &LineViewPlugin::onRgYInc);
    connect(btnXEnlarge, &QToolButton::clicked, this, &LineViewPlugin::onRgXInc);
    connect(btnXReduce, &QToolButton::clicked, this, &LineViewPlugin::onRgXDec);
    connect(btnSelRange, &QToolButton::toggled, this, &LineViewPlugin::onSelModeRgX);
    connect(btnSelX, &QToolButton::toggled, this, &LineViewPlugin::onSelModePtX);
    connect(btnSelY, &QToolButton::toggled, this, &LineViewPlugin::onSelModePtY);
    connect(btnAccept, &QToolButton::clicked, this, [this] { onSelAccept(0); });
    connect(btnStop, &QToolButton::toggled, this, &LineViewPlugin::onStop);
    connect(btnClear, &QToolButton::clicked, this, [this] { clearDisplay(); });
    connect(btnStopAll, &QToolButton::toggled, this, &LineViewPlugin::onStop);
    connect(btnClearAll, &QToolButton::clicked, this, [this] { clearDisplay(); });
}

void LineViewPlugin::buildDialog()
{
    rangeDialog = new QDialog(pluginWidget);
    rangeDialog->setWindowTitle(tr("Line View Ranges"));
    rangeDialog->setWindowFlags(rangeDialog->windowFlags() & ~Qt::WindowContextHelpButtonHint);
    auto* g = new QGridLayout(rangeDialog);
    qth_setLayoutParams(g, 15, 10);
    g->addWidget(new QLabel(tr("Start"), rangeDialog), 0, 3);
    g->addWidget(new QLabel(tr("Width"), rangeDialog), 0, 4);

    g->addWidget(new QLabel(tr("X Range:"), rangeDialog), 1, 0);
    chkXManual = new QCheckBox(tr("Manual"), rangeDialog);
    chkXManual->setToolTip(tr("Ignore X range from data if available."));
    chkRolling = new QCheckBox(tr("Rolling"), rangeDialog);
    chkRolling->setToolTip(tr("Display rolling X range."));
    edXStart = new DblEdit(rangeDialog);
    edXStart->setToolTip(tr("X range minimum."));
    edXWidth = new DblEdit(rangeDialog);
    edXWidth->setToolTip(tr("X range width."));
    g->addWidget(chkXManual, 1, 1);
    g->addWidget(chkRolling, 1, 2);
    g->addWidget(edXStart, 1, 3);
    g->addWidget(edXWidth, 1, 4);

    g->addWidget(new QLabel(tr("Y Range:"), rangeDialog), 2, 0);
    cbYMode = new QComboBox(rangeDialog);
    cbYMode->setToolTip(tr("Scaling mode for Y range."));
    cbYMode->addItems({tr("Auto"), tr("Fixed Div"), tr("Manual")});
    edYStart = new DblEdit(rangeDialog);
    edYStart->setToolTip(tr("Y range minimum."));
    edYWidth = new DblEdit(rangeDialog);
    edYWidth->setToolTip(tr("Y range Width."));
    g->addWidget(cbYMode, 2, 1, 1, 2);
    g->addWidget(edYStart, 2, 3);
    g->addWidget(edYWidth, 2, 4);

    g->addWidget(new QLabel(tr("Curves:"), rangeDialog), 3, 0);
    spLines = qth_makeSpinBox(1, 128, 1, rangeDialog);
    spLines->setSingleStep(1);
    spLines->setToolTip(tr("Number of curves to be kept in the display."));
    chkAverage = new QCheckBox(tr("Average"), rangeDialog);
    chkAverage->setToolTip(tr("Average over all curves."));
    g->addWidget(spLines, 3, 1);
    g->addWidget(chkAverage, 3, 2);

    g->addWidget(new QLabel(tr("Max Points:"), rangeDialog), 4, 0);
    spMaxPts = qth_makeSpinBox(1, 1048576, maxPoints / 1024, rangeDialog);
    spMaxPts->setSuffix(QStringLiteral("k"));
    spMaxPts->setToolTip(tr("Maximum number of data points in a curve."));
    g->addWidget(spMaxPts, 4, 1);

    auto* close = new QPushButton(tr("Close"), rangeDialog);
    g->addWidget(close, 5, 4);
    connect(close, &QPushButton::clicked, rangeDialog, &QDialog::hide);

    connect(chkXManual, &QCheckBox::toggled, this, &LineViewPlugin::onRgXManuChg);
    connect(chkRolling, &QCheckBox::toggled, this, &LineViewPlugin::onXRollChg);
    connect(edXStart, &DblEdit::changed, this, [this] { onRgXEdit(); });
    connect(edXWidth, &DblEdit::changed, this, [this] { onRgXEdit(); });
    connect(cbYMode, QOverload<int>::of(&QComboBox::activated), this, &LineViewPlugin::onRgYModeChg);
    connect(edYStart, &DblEdit::changed, this, [this] { onRgYEdit(); });
    connect(edYWidth, &DblEdit::changed, this, [this] { onRgYEdit(); });
    connect(spLines, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] { onLineCntChg(); });
    connect(chkAverage, &QCheckBox::toggled, view, &LineView::setAvgMode);
    connect(spMaxPts, QOverload<int>::of(&QSpinBox::valueChanged), this, [this] { onMaxPtsChg(); });
}

void LineViewPlugin::buildMenu()
{
    menu = new QMenu(pluginWidget);
    menu->addAction(tr("Ranges..."), this, &LineViewPlugin::popupRgDialog);
    actToolbar = menu->addAction(tr("Show Toolbar"), this, &LineViewPlugin::showToolbar);
    actToolbar->setCheckable(true);
    actToolbar->setChecked(true);
    actEnlarge = menu->addAction(tr("Enlarge Status Bar"), this, &LineViewPlugin::enlargeStatusbar);
    actShrink = menu->addAction(tr("Shrink Status Bar"), this, &LineViewPlugin::shrinkStatusbar);
    actShrink->setEnabled(false);
    menu->addSeparator();
    menu->addAction(tr("Freeze Curve"), this, &LineViewPlugin::onFreeze);
    menu->addAction(tr("Clear Display"), this, [this] { clearDisplay(); });
    menu->addAction(tr("Rename..."), this, &LineViewPlugin::renameView);
    actDetach = menu->addAction(QString());
}

QWidget* LineViewPlugin::getWidget()
{
    return pluginWidget;
}

QString LineViewPlugin::getToolTip(const QPoint& p) const
{
    const QPointF a = view->pixel2Unit(p);
    const QPointF b = view->pixel2Unit(p + QPoint(2, 2));
    // The resolution is what two pixels are worth, so the digits follow the zoom.
    const QString dname = snapshotMgr->getName().isEmpty() ? name : snapshotMgr->getName();
    return dname + "\nX: " + formatValue(a.x(), meta.unitXText, b.x() - a.x(), 4) +
           "\nY: " + formatValue(a.y(), meta.unitValText, b.y() - a.y(), 4);
}

QToolButton* LineViewPlugin::getButton(const QString& toolTip) const
{
    for (QToolButton* b : toolbar->findChildren<QToolButton*>())
        if (b->toolTip() == toolTip)
            return b;
    return nullptr;
}

int LineViewPlugin::getYMode() const
{
    return cbYMode->currentIndex();
}

QStringList LineViewPlugin::getYModes() const
{
    QStringList l;
    for (int i = 0; i < cbYMode->count(); ++i)
        l << cbYMode->itemText(i);
    return l;
}

QRectF LineViewPlugin::getRangeEdits() const
{
    return QRectF(edXStart->getValue(), edYStart->getValue(), edXWidth->getValue(), edYWidth->getValue());
}

void LineViewPlugin::setRangeEditsX(double start, double width)
{
    const QSignalBlocker b1(edXStart), b2(edXWidth);
    edXStart->setValue(start);
    edXWidth->setValue(width);
}

void LineViewPlugin::setRangeEditsY(double start, double width)
{
    const QSignalBlocker b1(edYStart), b2(edYWidth);
    edYStart->setValue(start);
    edYWidth->setValue(width);
}

void LineViewPlugin::setLineCount(int n)
{
    spLines->setValue(n);
}

void LineViewPlugin::setRolling(bool on)
{
    chkRolling->setChecked(on);
}

bool LineViewPlugin::isRolling() const
{
    return chkRolling->isChecked();
}

void LineViewPlugin::setXManual(bool on)
{
    btnXManual->setChecked(on);
}

bool LineViewPlugin::hasXManual() const
{
    return btnXManual->isChecked();
}

bool LineViewPlugin::hasYManual() const
{
    return btnYManual->isChecked();
}

// ---- data properties ----

void LineViewPlugin::setDataRangeX(int value)
{
    if (meta.accept(StreamFormat::RangeX, value)) {
        setPending(pendUpdate | pendClear | pendRangeX);
    }
    GPlugin::setDataRangeX(value);
}

void LineViewPlugin::setDataOffsetX(int value)
{
    if (meta.accept(StreamFormat::OffsetX, value)) {
        setPending(pendUpdate | pendClear | pendRangeX);
    }
    GPlugin::setDataOffsetX(value);
}

void LineViewPlugin::setDataPhysX(int value)
{
    if (meta.accept(StreamFormat::PhysX, value)) {
        setPending(pendUpdate | pendClear | pendRangeX);
    }
    GPlugin::setDataPhysX(value);
}

void LineViewPlugin::setDataUnitX(int unit)
{
    if (meta.accept(StreamFormat::UnitX, unit)) {
        setPending(pendUpdate | pendClear | pendRangeX);
    }
    GPlugin::setDataUnitX(unit);
}

void LineViewPlugin::setDataUnitVal(int unit)
{
    if (meta.accept(StreamFormat::UnitVal, fixedUnitVal > 0 ? fixedUnitVal : unit)) {
        setPending(pendUpdate | pendClear | pendRangeX);
    }
    GPlugin::setDataUnitVal(unit);
}

void LineViewPlugin::setDataOffsetVal(int value)
{
    if (meta.accept(StreamFormat::OffsetVal, value)) {
        setPending(pendUpdate);
    }
    GPlugin::setDataOffsetVal(value);
}

void LineViewPlugin::setDataPhysVal(int value)
{
    if (meta.accept(StreamFormat::PhysVal, fixedPhysVal > 0 ? fixedPhysVal : value)) {
        setPending(pendUpdate);
    }
    GPlugin::setDataPhysVal(value);
}

void LineViewPlugin::setDataPhysValNumerator(int value)
{
    if (meta.accept(StreamFormat::PhysValNumerator, value)) {
        setPending(pendUpdate);
    }
    GPlugin::setDataPhysValNumerator(value);
}

void LineViewPlugin::setDataOrder(GPlugin::DataOrder order)
{
    if (meta.accept(StreamFormat::Order, int(order))) {
        setPending(pendUpdate | pendClear | pendRangeX | pendLineCount);
    }
    GPlugin::setDataOrder(order);
}

void LineViewPlugin::setDataTrigger(GPlugin::DataTrigger trigger)
{
    meta.accept(StreamFormat::Trigger, int(trigger));
    GPlugin::setDataTrigger(trigger);
}

void LineViewPlugin::setDataEncoding(GPlugin::DataEncoding encoding)
{
    const int oldType = meta.encType, oldChannels = meta.channels, oldMask = meta.channelMask;
    meta.accept(StreamFormat::Encoding, int(encoding));
    meta.update();
    if (meta.encType != oldType || meta.channels != oldChannels || meta.channelMask != oldMask)
        setPending(pendClear);
    GPlugin::setDataEncoding(encoding);
}

void LineViewPlugin::init()
{
    if (lines.size() < 2) {
        clearDisplay(true);
        setPending(pendClearKeep);
    }
    GPlugin::init();
}

void LineViewPlugin::runPending()
{
    const int p = pending;
    if (!p)
        return;
    pending = 0;
    if (p & pendUpdate)
        meta.update();
    if (p & pendClear)
        clearDisplay(false);
    if (p & pendClearKeep)
        clearDisplay(true);
    if (p & pendRangeX) {
        updateRgXBoxes();
        onRgXEdit();
    }
    if (p & (pendClear | pendRangeX))
        updateRgYBoxes();
    if (p & pendLineCount)
        onLineCntChg();
}

// ---- data ----

void LineViewPlugin::setData(const int* data, int count, int index)
{
    if (!widgetAlive) {
        GPlugin::setData(data, count, index);
        return;
    }
    runPending();
    if (pendingClear >= 0) {
        emptySlot(pendingClear);
        pendingClear = -1;
    }
    if (synthIndex) {
        index = indexCounter;
        // Wraps to 0 instead of overflowing after 2^31 words.
        indexCounter = int((quint32(indexCounter) + quint32(std::max(count, 0))) & 0x7fffffffu);
    }
    // Interleaved channels share one x: a group of words per x position.
    const int group = meta.wordsPerValue * meta.channels;
    int n = (data && count > 0) ? count / group : 0;
    const int s = index / group;
    if (s > 0 && n > INT_MAX - s)
        n = INT_MAX - s;

    if (meta.order == GPlugin::triggered) {
        const int end = s + n;
        if (end > meta.pointsPerLine) {
            meta.pointsPerLine = meta.pointsPerCurve = end; // a longer line
            setPending(pendRangeX);
            runPending();
        } else if (end <= meta.lastIndex && meta.lastIndex < meta.pointsPerLine) {
            meta.pointsPerLine = meta.pointsPerCurve = meta.lastIndex; // a new line began after a shorter one
            setPending(pendRangeX);
            runPending();
        }
        meta.lastIndex = end;
    }

    const bool rolling = isRolling();
    double limit = 0;
    if (!rolling)
        limit = meta.hasOrder ? 0.0 : view->getWindow(false).width();

    if (!stopped && n > 0 && !lines.isEmpty()) {
        double xmax = -HUGE_VAL;
        const int channels = meta.channels, wpv = meta.wordsPerValue;
        for (int i = 0; i < n; ++i) {
            bool first = false, last = false;
            double x = meta.idx2X(s + i, xFromView, limit != 0 ? curveStartX + limit : 0.0, &first, &last);
            if (!parametric) {
                processEol(first && pointCount != 0);
                if (!meta.hasOrder && !curveStartSet) {
                    curveStartX = x;
                    curveStartSet = true;
                }
                if (first) {
                    slot = (slot + 1) % lines.size();
                    emptySlot(slot);
                    // The slot marked for clearing is the one this line now fills: clearing it at the next block
                    // would lose the line's start.
                    if (pendingClear == slot)
                        pendingClear = -1;
                    if (!view->isPaintBlocked())
                        view->startCurve();
                    if (limit != 0) {
                        curveStartX = x;
                        curveStartSet = true;
                    }
                }
                x -= curveStartX;
                if (x > xmax)
                    xmax = x;
            }
            const QVector<LvCurve*>& curves = lines.at(slot);
            const int* v = data + size_t(channels) * i * wpv;
            for (int c = 0; c < channels && c < curves.size(); ++c) {
                curves.at(c)->points.append(QPointF(x, meta.int2Y(v + c * wpv)));
                ++pointCount;
            }
            processEol(last);
        }

        if (meta.hasOrder) {
            for (LvCurve* c : lines.at(slot))
                c->truncate(kHardMaxPoints);
        } else {
            for (LvCurve* c : lines.at(slot)) {
                if (c->truncate(unsigned(maxPoints)) > 0) {
                    view->finishCurve(false);
                    break;
                }
            }
            const QRectF win = view->getWindow(false);
            if (rolling && !parametric && !view->isFrozen() && (xmax < win.x() || xmax > win.x() + win.width())) {
                view->finishCurve(false);
                view->scrollTo(xmax - win.width() * moveXStep);
            }
        }
        view->updateCurves();
    }
    GPlugin::setData(data, count, index);
}

void LineViewPlugin::emptySlot(int s)
{
    if (s < 0 || s >= lines.size())
        return;
    for (LvCurve* c : lines.at(s)) {
        c->points.clear();
        c->drawn = 0;
    }
}

void LineViewPlugin::processEol(bool eol)
{
    if (!eol || parametric)
        return;
    autoscaleRgY(false);
    if (pointCount != 0) {
        snapshotMgr->executeTrigger(SnapshotMgr::trgDisplayComplete);
        pointCount = 0;
    }
    view->finishCurve(false);
    pendingClear = lines.isEmpty() ? -1 : (slot + 1) % lines.size();
    if (verticalAddr >= 1) {
        DataList values;
        QString text;
        emit requestParamSnapshot(QStringList{QStringLiteral("x:%1").arg(verticalAddr)}, values, text, QString());
        if (!values.isEmpty())
            view->setVerticalLines({values.first() * kMarkerScale});
    }
}

QVector<LvCurve*> LineViewPlugin::makeSlot(int* colorCounter)
{
    QVector<LvCurve*> slotCurves;
    for (int bit = 0; bit < 16 && slotCurves.size() < meta.channels; ++bit) {
        const int color = (*colorCounter)++;
        if (meta.channelMask & (1 << bit))
            slotCurves.append(view->addCurve(color));
    }
    return slotCurves;
}

void LineViewPlugin::clearDisplay(bool keepReference)
{
    curveStartX = 0;
    curveStartSet = false;
    slot = 0;
    indexCounter = 0;
    if (!keepReference)
        reference = nullptr;
    view->removeCurves(reference);
    lines.clear();
    const int n = meta.hasOrder ? spLines->value() : 1;
    int color = 0;
    for (int s = 0; s < n; ++s)
        lines.append(makeSlot(&color));
}

void LineViewPlugin::onLineCntChg()
{
    const int target = meta.hasOrder ? spLines->value() : 1;
    while (lines.size() < target) {
        QVector<LvCurve*> slotCurves;
        for (int c = 0; c < meta.channels; ++c)
            slotCurves.append(view->addCurve(view->getCurves().size() % 16));
        lines.append(slotCurves);
    }
    while (lines.size() > target) {
        for (LvCurve* c : lines.last())
            view->removeCurve(c);
        lines.removeLast();
    }
    if (slot >= lines.size())
        slot = 0;
}

void LineViewPlugin::onMaxPtsChg()
{
    maxPoints = spMaxPts->value() * 1024;
}

// ---- commands ----

void LineViewPlugin::onFreeze()
{
    if (reference) {
        view->removeCurve(reference);
        reference = nullptr;
    }
    if (slot < lines.size() && lines.at(slot).size() == 1 && !lines.at(slot).first()->points.isEmpty()) {
        reference = view->addCurve(6);
        reference->points = lines.at(slot).first()->points;
        view->setChanged();
    }
}

void LineViewPlugin::onStop(bool stop)
{
    stopped = stop;
    {
        const QSignalBlocker b(btnStop);
        btnStop->setChecked(stop);
    }
    view->freezeWindow(stop);
    view->update();
}

void LineViewPlugin::checkForPartner(QString partnerName, GPlugin* p)
{
    if (!p) {
        emit searchPartner(name, this);
        return;
    }
    if (stopMaster.isEmpty() || partnerName != stopMaster)
        return;
    auto* master = qobject_cast<LineViewPlugin*>(p);
    if (!master || master == this)
        return;
    connect(master->btnStopAll, &QToolButton::toggled, this, &LineViewPlugin::onStop, Qt::UniqueConnection);
    connect(master->btnClearAll, &QToolButton::clicked, this, &LineViewPlugin::clearDisplay, Qt::UniqueConnection);
}

void LineViewPlugin::postMessage(QString text, int time, int severity)
{
    emit statusChanged(text, time, severity);
}

void LineViewPlugin::provokeFullTrigger()
{
    if (pointCount == 0)
        snapshotMgr->executeTrigger(SnapshotMgr::trgDisplayComplete);
}

void LineViewPlugin::popupMenu(const QPoint& pos)
{
    if (pluginWidget)
        pluginWidget->updateDetachMenuItem(actDetach);
    menu->popup(view->mapToGlobal(pos));
}

void LineViewPlugin::popupRgDialog()
{
    rangeDialog->resize(rangeDialog->layout()->sizeHint());
    rangeDialog->show();
    rangeDialog->raise();
}

void LineViewPlugin::showToolbar(bool show)
{
    toolbar->setVisible(show);
    actToolbar->setChecked(show);
}

void LineViewPlugin::enlargeStatusbar()
{
    const int b = std::max(1, pluginWidget->font().pointSize());
    statusFontSize = statusFontSize == 0 ? b : statusFontSize + b / 3;
    QFont f = statusLabel->font();
    f.setPointSize(statusFontSize);
    statusLabel->setFont(f);
    statusLabel->show();
    actEnlarge->setEnabled(statusFontSize < 5 * b / 2);
    actShrink->setEnabled(true);
}

void LineViewPlugin::shrinkStatusbar()
{
    const int b = std::max(1, pluginWidget->font().pointSize());
    if (statusFontSize > b) {
        statusFontSize -= b / 3;
        QFont f = statusLabel->font();
        f.setPointSize(statusFontSize);
        statusLabel->setFont(f);
    } else {
        statusFontSize = 0;
        statusLabel->hide();
    }
    actEnlarge->setEnabled(true);
    actShrink->setEnabled(statusFontSize != 0);
}

void LineViewPlugin::renameView()
{
    snapshotMgr->editName(pluginWidget, tr("Name of the display:"));
}

bool LineViewPlugin::eventFilter(QObject* obj, QEvent* ev)
{
    // The snapshot indicator stays in the view's top right corner.
    if (obj == view && ev->type() == QEvent::Resize) {
        for (QLabel* l : view->findChildren<QLabel*>(QString(), Qt::FindDirectChildrenOnly))
            l->move(view->width() - l->width(), 0);
    }
    return GPlugin::eventFilter(obj, ev);
}

// ---- options ----

void LineViewPlugin::setOption(QString key, QString value)
{
    const QString k = key.toLower();
    if (k == QLatin1String("stopmaster")) {
        stopMaster = value;
        return;
    }
    const QStringList parts = value.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QVector<double> dbls;
    for (const QString& p : parts) {
        bool ok = false;
        const double d = p.toDouble(&ok);
        if (ok)
            dbls.append(d);
    }
    bool intOk = false;
    const int n = parts.isEmpty() ? 0 : parts.first().toInt(&intOk, 0);
    bool dblOk = false;
    const double d = parts.isEmpty() ? 0.0 : parts.first().toDouble(&dblOk);

    auto setTargetAddr = [&](Target& t) {
        if (intOk)
            t.address = n;
    };
    auto setTargetIdx = [&](Target& t) {
        if (intOk)
            t.index = n;
    };
    auto showButtons = [&](std::initializer_list<QToolButton*> buttons) {
        if (intOk)
            for (QToolButton* b : buttons)
                b->setVisible(n != 0);
    };

    if (k == QLatin1String("selectpointaddress") || k == QLatin1String("selectpointxaddress")) {
        setTargetAddr(pointX);
        btnSelX->setEnabled(pointX.address > 0);
    } else if (k == QLatin1String("selectpointindex") || k == QLatin1String("selectpointxindex")) {
        setTargetIdx(pointX);
    } else if (k == QLatin1String("selectpointyaddress")) {
        setTargetAddr(pointY);
        btnSelY->setEnabled(pointY.address > 0);
    } else if (k == QLatin1String("selectpointyindex")) {
        setTargetIdx(pointY);
    } else if (k == QLatin1String("selectrangestartaddress") || k == QLatin1String("selectrangeendaddress")) {
        setTargetAddr(k == QLatin1String("selectrangestartaddress") ? rangeStart : rangeEnd);
        btnSelRange->setEnabled(rangeStart.address > 0 && rangeEnd.address > 0);
    } else if (k == QLatin1String("selectrangestartindex")) {
        setTargetIdx(rangeStart);
    } else if (k == QLatin1String("selectrangeendindex")) {
        setTargetIdx(rangeEnd);
    } else if (k == QLatin1String("displaytoolbar")) {
        if (intOk)
            showToolbar(n != 0);
    } else if (k == QLatin1String("displaystatusline")) {
        for (int i = 0; intOk && i < std::min(n, 16); ++i)
            enlargeStatusbar();
    } else if (k == QLatin1String("displayxrangebuttons") || k == QLatin1String("displayrangebuttons")) {
        showButtons({btnZoomIn, btnZoomOut, btnXEnlarge, btnXReduce});
    } else if (k == QLatin1String("displaystopbuttons")) {
        showButtons({btnStop, btnClear});
    } else if (k == QLatin1String("displaymultibuttons")) {
        showButtons({btnStopAll, btnClearAll});
    } else if (k == QLatin1String("displayselectbuttons")) {
        showButtons({btnSelRange, btnSelX, btnSelY, btnAccept});
    } else if (k == QLatin1String("storelocal")) {
        if (intOk)
            snapshotMgr->setFlag(SnapshotMgr::flagStoreLocal, n != 0);
    } else if (k == QLatin1String("storeretrigger")) {
        if (intOk)
            snapshotMgr->setFlag(SnapshotMgr::flagStoreRetrigger, n != 0);
    } else if (k == QLatin1String("synthindex")) {
        if (intOk)
            synthIndex = n != 0;
    } else if (k == QLatin1String("histogrammode")) {
        if (intOk)
            view->setStepMode(n != 0);
    } else if (k == QLatin1String("maxdatapoints")) {
        // At least two points, at most what the spin box can show.
        if (intOk && n >= 2) {
            maxPoints = std::min(n, spMaxPts->maximum() * 1024);
            const QSignalBlocker b(spMaxPts);
            spMaxPts->setValue(maxPoints / 1024);
        }
    } else if (k == QLatin1String("verticaladdr")) {
        if (intOk)
            verticalAddr = n;
    } else if (k == QLatin1String("displayyscale")) {
        if (intOk)
            scaleGraph->setVisible(n != 0);
    } else if (k == QLatin1String("fixedphysval")) {
        if (intOk) {
            fixedPhysVal = n;
            setDataPhysVal(n);
        }
    } else if (k == QLatin1String("fixedunitval")) {
        if (intOk) {
            fixedUnitVal = n;
            setDataUnitVal(n);
        }
    } else if (k == QLatin1String("fixedyscale")) {
        if (dblOk) {
            onRgYModeChg(yManual);
            if (dbls.size() >= 2)
                setRangeEditsY(dbls.at(0), dbls.at(1));
            else
                setRangeEditsY(-d / 2, d);
            onRgYEdit();
        }
    } else if (k == QLatin1String("initialxrange")) {
        if (dblOk) {
            initialXMin = dbls.size() >= 2 ? dbls.at(0) : 0.0;
            initialXWidth = dbls.size() >= 2 ? dbls.at(1) : d;
            setRangeEditsX(initialXMin, initialXWidth);
            onRgXEdit();
        }
    } else if (k == QLatin1String("selectxscale")) {
        if (dblOk)
            pointX.scale = d;
    } else if (k == QLatin1String("selectyscale")) {
        if (dblOk)
            pointY.scale = d;
    } else if (k == QLatin1String("zoomymin")) {
        if (dblOk) {
            zoomYMin = d;
            scaleGraph->setAbsMin(d);
            if (cbYMode->count() == 3)
                cbYMode->addItem(tr("Maximum"));
        }
    } else if (k == QLatin1String("zoomymax")) {
        if (dblOk) {
            zoomYMax = d;
            scaleGraph->setAbsMax(d);
        }
    } else if (k == QLatin1String("selectrangexscale")) {
        if (dblOk)
            rangeStart.scale = rangeEnd.scale = d;
    } else if (k == QLatin1String("movexstep")) {
        if (dblOk)
            moveXStep = d;
    } else if (k == QLatin1String("horizontallines")) {
        view->setHorizontalLines(dbls);
    } else if (k == QLatin1String("verticallines")) {
        view->setVerticalLines(dbls);
    }
}
