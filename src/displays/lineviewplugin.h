#pragma once
// LineViewPlugin: the line display. Turns the words of its chain into curves of a LineView: y(x) for ordered
// (scanned) data, y(t) for data without order, and a point cloud in the parametric variant.
//
// Values are converted to physical units with the data properties (MetaHelpers), placed at an x derived from their
// index, and collected in a ring of line slots with one curve per interleaved channel. Property changes only mark
// pending work, which runs at the next data block. The plug-in auto-scales, scrolls or restarts sweeps, offers a range
// dialog, a tool bar, a context menu and selections that go back to the server as signals, and stores snapshots
// (image and a CSV file).
// Properties: every property is forwarded unchanged, also those the display cannot use.

#include "displays/lineview.h"
#include "displays/lvcurve.h"
#include "displays/metahelpers.h"
#include "framework/gplugin.h"
#include "snapshot/snapshotprovider.h"

#include <QElapsedTimer>
#include <QImage>
#include <QPointer>
#include <QVector>

class QAction;
class QCheckBox;
class QComboBox;
class QDialog;
class QGridLayout;
class QLabel;
class QMenu;
class QSpinBox;
class QTimer;
class QToolButton;
class QWheelEvent;
class DblEdit;
class GPluginWidget;
class ScaleGraph;
class SnapshotMgr;
class SubstituteWidget;

/// The data copy of a line display snapshot. Self-contained: a background store writes only from it.
class LvSnBuffer : public SnapshotBuffer
{
public:
    QString unitX, unitY; // without the flag character
    QVector<LvCurve> curves;
    QImage image;
    QString displayName; // the manager's name when the copy was made
    // The host's preferences as they were when the store was requested: the worker thread never reads them live.
    QString graphicType = QStringLiteral("PNG");
    bool csvColumns = false;
};

class LineViewPlugin : public GPlugin, public SnapshotProvider
{
    Q_OBJECT
public:
    typedef LvMetaHelpers MetaHelpers;
    typedef LineView* (*ViewFactory)(QWidget* parent, bool pointMode);

    /// Pending work bits, run by runPending() in this order.
    enum { pendUpdate = 1, pendClear = 2, pendClearKeep = 4, pendRangeX = 8, pendLineCount = 16 };
    /// The Y range modes of the combo box.
    enum { yAuto = 0, yFixedDiv = 1, yManual = 2, yMaximum = 3 };

    LineViewPlugin(QWidget* parent, QString name, bool parametric, ViewFactory viewFactory,
                   const PluginDescriptor* descriptor = nullptr);
    ~LineViewPlugin() override;

    // GPlugin
    QWidget* getWidget() override;
    int getStretch() override { return 10; }
    QString getToolTip(const QPoint& p) const override;
    void setOption(QString key, QString value) override;
    void init() override;
    void setDataOrder(GPlugin::DataOrder order) override;
    void setDataEncoding(GPlugin::DataEncoding encoding) override;
    void setDataRangeX(int value) override;
    void setDataOffsetX(int value) override;
    void setDataOffsetVal(int value) override;
    void setDataPhysX(int value) override;
    void setDataPhysVal(int value) override;
    void setDataPhysValNumerator(int value) override;
    void setDataTrigger(GPlugin::DataTrigger trigger) override;
    void setDataUnitX(int unit) override;
    void setDataUnitVal(int unit) override;
    void setData(const int* data, int count, int index) override;
    SnapshotMgr* getSnapshotManager() const override { return snapshotMgr; }
    void setDialEvent(int dial, int delta) override;
    /// "yMode" (0 auto, 1 fixed divisions, 2 manual, 3 maximum) with "yStart" and "yHeight" of the Y window.
    QVariantMap displayState() const override;
    void applyDisplayState(const QVariantMap& state) override;

    // SnapshotProvider
    SnapshotBuffer* snapshotData(int what) override;
    bool saveSnapshot(QString base, int what, const SnapshotBuffer* buf, QString* msg) override;
    void provokeFullTrigger() override;
    void postMessage(QString text, int time, int severity) override;

    // Read access for the host and tests.
    LineView* getView() const { return view; }
    const MetaHelpers& getMeta() const { return meta; }
    const QVector<QVector<LvCurve*>>& getLines() const { return lines; }
    int getSlot() const { return slot; }
    int getPending() const { return pending; }
    LvCurve* getReference() const { return reference; }
    bool isStopped() const { return stopped; }
    int getMaxPoints() const { return maxPoints; }
    QWidget* getFrame() const { return frame; }
    QWidget* getToolbar() const { return toolbar; }
    QLabel* getStatusLabel() const { return statusLabel; }
    ScaleGraph* getScaleGraph() const { return scaleGraph; }
    QDialog* getRangeDialog() const { return rangeDialog; }
    QMenu* getMenu() const { return menu; }
    /// A tool bar button by its tool tip ("Stop display.", ...), or null.
    QToolButton* getButton(const QString& toolTip) const;
    int getYMode() const;
    QStringList getYModes() const;
    /// The X and Y edits of the range dialog: start and width.
    QRectF getRangeEdits() const;
    void setRangeEditsX(double start, double width);
    void setRangeEditsY(double start, double width);
    void setLineCount(int n);
    void setRolling(bool on);
    bool isRolling() const;
    void setXManual(bool on);

public slots:
    void checkForPartner(QString name, GPlugin* p) override;
    void onFreeze();
    void clearDisplay(bool keepReference = false);
    void zoomX(double factor, QPoint center);
    void zoomY(double factor, QPoint center);
    void onRgYDec();
    void onRgYInc();
    void onRgYEdit();
    void onRgYManuChg(bool on);
    void onRgYModeChg(int mode);
    void onRgXDec();
    void onRgXInc();
    void onRgXEdit();
    void onRgXManuChg(bool on);
    void onXRollChg(bool roll);
    void onLineCntChg();
    void onMaxPtsChg();
    void onWheel(QWheelEvent* ev);
    void onSelModeRgX(bool on);
    void onSelModePtX(bool on);
    void onSelModePtY(bool on);
    void onSelChange();
    void onSelAccept(int btnNo = 0);
    void onStop(bool stop);
    void runPending();
    void setWindow(const QRectF& win);
    void autoscaleRgY(bool force = false);
    void setSelectMode(bool on, LineView::SelectionMode mode);
    void popupMenu(const QPoint& pos);
    void popupRgDialog();
    void showToolbar(bool show);
    void enlargeStatusbar();
    void shrinkStatusbar();
    bool saveSnapshotCsv(const LvSnBuffer* sbuf, QString fn);
    void renameView();
    void updateRgXBoxes();
    void updateRgYBoxes();
    void processEol(bool eol);

protected:
    bool eventFilter(QObject* obj, QEvent* ev) override;
    void setPending(int bits) { pending |= bits; }
    QVector<LvCurve*> makeSlot(int* colorCounter);
    void addSlotCurves(int count);
    void emptySlot(int s);
    /// A target address/index/scale triple of a selection.
    struct Target
    {
        int address = 0;
        int index = 0;
        double scale = 1.0;
    };
    bool hasXManual() const;
    bool hasYManual() const;
    void buildControls();
    void buildDialog();
    void buildMenu();
    void updateSelectButtons();

    MetaHelpers meta;
    LineView* view = nullptr;
    QWidget* frame = nullptr;
    ScaleGraph* scaleGraph = nullptr;
    QLabel* statusLabel = nullptr;
    QWidget* toolbar = nullptr;
    QDialog* rangeDialog = nullptr;
    QMenu* menu = nullptr;
    SnapshotMgr* snapshotMgr = nullptr;
    QTimer* autoscaleTimer = nullptr;
    QElapsedTimer autoscaleClock;
    QPointer<GPluginWidget> pluginWidget;
    bool widgetAlive = true; // false once the widget (and with it the view) is gone
    SubstituteWidget* substitute = nullptr;

    QVector<QVector<LvCurve*>> lines;
    int slot = 0;
    int indexCounter = 0;
    int pointCount = 1;
    int pendingClear = -1;
    int pending = 0;
    LvCurve* reference = nullptr;
    QRectF prevBounds{0, 0, 0, 0};
    bool prevValid = false;
    double curveStartX = 0;
    bool curveStartSet = false; // curveStartX holds the first x of the stream (data without order)
    double moveXStep = 0.99;
    int maxPoints = 65536;
    int fixedUnitVal = 0, fixedPhysVal = 0;
    double zoomYMin = 0, zoomYMax = 0;
    double initialXMin = -1, initialXWidth = -1;
    bool widthClamped = false;
    bool xFromView = true;
    bool synthIndex = false;
    bool stopped = false;
    bool parametric = false;
    QString stopMaster;
    int verticalAddr = 0;
    Target rangeStart, rangeEnd, pointX, pointY;
    int statusFontSize = 0; // point size of a shown status label; 0 while hidden

    // Controls.
    QToolButton* btnXManual = nullptr;
    QToolButton* btnYManual = nullptr;
    QToolButton* btnZoomIn = nullptr;
    QToolButton* btnZoomOut = nullptr;
    QToolButton* btnXEnlarge = nullptr;
    QToolButton* btnXReduce = nullptr;
    QToolButton* btnSelRange = nullptr;
    QToolButton* btnSelX = nullptr;
    QToolButton* btnSelY = nullptr;
    QToolButton* btnAccept = nullptr;
    QToolButton* btnStop = nullptr;
    QToolButton* btnClear = nullptr;
    QToolButton* btnStopAll = nullptr;
    QToolButton* btnClearAll = nullptr;
    QCheckBox* chkXManual = nullptr;
    QCheckBox* chkRolling = nullptr;
    QCheckBox* chkAverage = nullptr;
    DblEdit* edXStart = nullptr;
    DblEdit* edXWidth = nullptr;
    DblEdit* edYStart = nullptr;
    DblEdit* edYWidth = nullptr;
    QComboBox* cbYMode = nullptr;
    QSpinBox* spLines = nullptr;
    QSpinBox* spMaxPts = nullptr;
    QAction* actToolbar = nullptr;
    QAction* actEnlarge = nullptr;
    QAction* actShrink = nullptr;
    QAction* actDetach = nullptr;
};

GPlugin* lineViewFactory(QWidget* parent, QString name);
/// "Double Line Display 2": the same plug-in as "Line Display 2", carrying its own catalogue record.
GPlugin* doubleLineViewFactory(QWidget* parent, QString name);
GPlugin* corrViewFactory(QWidget* parent, QString name);
