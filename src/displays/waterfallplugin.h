#pragma once
// WaterfallPlugin: the "Frame Display", the end of a chain that shows a scan as colour-coded frames.
//
// It assembles the incoming 32-bit values into forward and backward frames of its Waterfall, shows physical
// coordinates and values, sets gradation, zoom and colour coding, and offers the selection tools (range, angle,
// point, path, grid) whose accepted results leave as GPlugin selection signals. As a SnapshotProvider it copies and
// writes its frames as PNG pictures and frame-view ASCII files.
// Properties: the ranges and the x unit are forwarded only when they differ from the value that arrived last (a
// range below 2 is shown as 260 but compared as it arrived); the scan speed is consumed; every other property is
// forwarded unchanged.

#include "displays/waterfall.h"
#include "framework/gplugin.h"
#include "framework/streamformat.h"
#include "snapshot/snapshotprovider.h"
#include "utilif/savable.h"

#include <QPointer>

class ColorGauge;
class GaugeLabel;
class GPluginWidget;
class QAction;
class QActionGroup;
class QLabel;
class QMenu;
class QPushButton;
class QToolButton;
class SnapshotMgr;
class SubstituteWidget;
class UnitEdit;
class WaterfallGridDlg;
class WaterfallSnBuffer;

class WaterfallPlugin : public GPlugin, public SnapshotProvider
{
    Q_OBJECT
public:
    /// The data properties that shape a frame; copied whole into every snapshot buffer.
    struct WaterfallMeta
    {
        GPlugin::DataOrder order = GPlugin::linear;
        GPlugin::DataTrigger trigger = GPlugin::scanner;
        int unitX = 128;
        int unitVal = 128;
        int rangeX = 260;
        int rangeY = 260;
        int offsetX = 0;
        int offsetY = 0;
        int physX = -1; // x length in x units; -1: unknown
        int physY = -1;
        int rotation = 0; // 1/65536 turn
        int offsetVal = 0;
        double sinRot = 0.0;
        double cosRot = 1.0;
        double valFactor = 0.0001; // value units per raw unit
        int scanSpeed = 0;
        /// The property values as they arrived (the fields above hold the values in use, e.g. 260 for a range of 1).
        StreamFormat received;
    };

    /// Radians per unit of the rotation property.
    static constexpr double radPerRotUnit = 9.587526218325454e-5;

    WaterfallPlugin(QWidget* parent, QString name);
    ~WaterfallPlugin() override;

    QWidget* getWidget() override;
    int getStretch() override;
    QString getToolTip(const QPoint& pos) const override;
    void setOption(QString key, QString value) override;
    void init() override;
    void setDataOrder(GPlugin::DataOrder order) override;
    void setDataRangeX(int value) override;
    void setDataRangeY(int value) override;
    void setDataOffsetX(int value) override;
    void setDataOffsetY(int value) override;
    void setDataOffsetVal(int value) override;
    void setDataPhysX(int value) override;
    void setDataPhysY(int value) override;
    void setDataPhysVal(int value) override;
    void setDataTrigger(GPlugin::DataTrigger trigger) override;
    void setDataRotation(int value) override;
    void setDataUnitX(int unit) override;
    void setDataUnitVal(int unit) override;
    void setFixXY(bool fix) override;
    void setDataScanSpeed(int value) override;
    void setData(const int* data, int count, int offset) override;
    SnapshotMgr* getSnapshotManager() const override;
    /// "colorTable" (name), "magnification", "gradationMin", "gradationMax" and "scanForward".
    QVariantMap displayState() const override;
    void applyDisplayState(const QVariantMap& state) override;

    SnapshotBuffer* snapshotData(int kind) override;
    bool saveSnapshot(QString name, int kind, const SnapshotBuffer* buffer, QString* message) override;
    void provokeFullTrigger() override;
    void postMessage(QString text, int timeout, int kind) override;

    bool saveSnapshotAsc(const SnapshotBuffer* buffer, QString fileName, bool fwd);
    bool saveSnapshotImg(const SnapshotBuffer* buffer, QString fileName, bool fwd, QString format);
    /// A picture of the display area showing the given direction.
    QImage makeSnapshotImg(bool fwd);

    /// Data pixel to physical x units (centre of the frame at the offsets, y upward), optionally rotated.
    QPoint pixelToPhys(QPoint p, bool rotate) const;
    QRect pixelToPhys(QRect r, bool rotate) const;
    void magnificate(int m);

    Waterfall* getWaterfall() const { return waterfall; }
    const WaterfallMeta& getMeta() const { return meta; }
    /// The selection as last received (physical units once converted).
    const Waterfall::SelectionList& getAcceptedSelection() const { return accepted; }
    int getMagnification() const { return magnification; }
    /// Directory searched for *.lut and *.col tables; empty (the default) means the application directory.
    static void setTableDirectory(const QString& dir);
    static QString tableDirectory();

public slots:
    void zoomIn();
    void zoomOut();
    void setRgSelect(bool on);
    void setAgSelect(bool on);
    void setPtSelect(bool on);
    void setLsSelect(bool on);
    void setGrSelect(bool on);
    void onSelection(Waterfall::SelectionMode mode, Waterfall::SelectionList list);
    void acceptSelection();
    void setDirection(bool fwd);
    void showToolbar(bool show);
    void set3dMode(bool on);
    void updateZoomLb();
    void updateGauge();
    void gradEdited();
    void setGradation(int min, int max);
    void resetGradation();
    void popupMenu(QPoint pos);
    void setColorCoding(QAction* action);
    void setColorCoding(QString name);
    void matchSizeToContents();
    void savableChanged(QString name, QString value);
    void updateColorMenu();
    void gridPointsXChanged(int points);
    void gridPointsYChanged(int points);
    void encodeMetadata(QWidget** container);
    void renameView();

private:
    friend class WaterfallPluginTest;
    /// Data trigger with which the server moves the scan area by offsets (point, path and grid tools only).
    static constexpr int originOffsetMove = 9;
    void buildWidgets(QWidget* parent);
    /// Sets one frame dimension (260 for values below 2) and the widget's size; throws OomError when the frame
    /// cannot be allocated. False when the value was already set.
    bool changeRange(StreamFormat::Property p, int& range, int value);
    void selectTool(Waterfall::SelectionMode mode, bool on);
    QToolButton* toolButton(Waterfall::SelectionMode mode) const;
    void configureGradationFields();
    void triggerDisplayComplete();
    QString viewName() const;
    QString formatX(double value) const;
    QString formatVal(double value) const;

    WaterfallMeta meta;
    Waterfall* waterfall = nullptr;
    ColorGauge* gauge = nullptr;
    GaugeLabel* scaleBar = nullptr;
    QLabel* scaleBarText = nullptr;
    QLabel* zoomLabel = nullptr;
    QLabel* gaugeMaxLabel = nullptr;
    QLabel* gaugeMinLabel = nullptr;
    UnitEdit* gradMinEdit = nullptr;
    UnitEdit* gradMaxEdit = nullptr;
    QPushButton* autoButton = nullptr;
    QToolButton* rangeButton = nullptr;
    QToolButton* angleButton = nullptr;
    QToolButton* pointButton = nullptr;
    QToolButton* pathButton = nullptr;
    QToolButton* gridButton = nullptr;
    QToolButton* acceptButton = nullptr;
    QToolButton* zoomInButton = nullptr;
    QToolButton* zoomOutButton = nullptr;
    QToolButton* dirButton = nullptr;
    QLabel* dirLabel = nullptr;
    QWidget* selToolbar = nullptr;
    QWidget* frame = nullptr;       // holds the image; its colour shows through the selection mask
    QWidget* displayArea = nullptr; // what a graphic snapshot shows
    QPointer<GPluginWidget> container;
    QPointer<SubstituteWidget> substitute;
    QMenu* menu = nullptr;
    QMenu* colorMenu = nullptr;
    QActionGroup* colorGroup = nullptr;
    QAction* zoomInAction = nullptr;
    QAction* zoomOutAction = nullptr;
    QAction* showToolsAction = nullptr;
    QAction* detachAction = nullptr;
    WaterfallGridDlg* gridDlg = nullptr;
    SnapshotMgr* snapshotMgr = nullptr;

    Savable magSetting;
    Savable colorSetting;
    Savable dirSetting;
    Savable toolsSetting;

    int magnification = 1;
    bool parity = false;
    int pieceCount = 1;
    Waterfall::SelectionList accepted;
    int newRotation = 0;
    int gridPointsX = 5;
    int gridPointsY = 5;
    bool sendCoordToPeers = false;
    bool mode3d = false;

    static QString _tableDir;
};

GPlugin* waterfallFactory(QWidget* parent, QString name);
