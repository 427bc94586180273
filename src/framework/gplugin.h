#pragma once
// GPlugin: the base of every element of a page's processing chain (displays, filters, writers, routing).
//
// A chain is a singly owned, doubly linked list: each plug-in owns its successor, and deleting the head deletes the
// chain. Data properties (22 integer setters) and data blocks travel downstream; every operation a subclass does not
// override forwards its arguments unchanged to the successor. Selections, status messages and requests travel up as
// signals that the page relays; peers change each other's options with sendEventToPeers.

#include <QList>
#include <QMetaType>
#include <QObject>
#include <QPair>
#include <QPoint>
#include <QRect>
#include <QString>
#include <QStringList>
#include <QVariantMap>
#include <QVector>
#include <QtGlobal>

class QMenu;
class QWidget;
class SnapshotMgr;

typedef qint32 Int32;
typedef QVector<QPoint> PathList;
typedef QVector<int> DataList;

class GPlugin : public QObject
{
    Q_OBJECT
public:
    // A fixed underlying type: the server may send values beyond the named ones (such as origin 9), which must stay
    // well-defined values of these types.
    enum DataOrder : int { linear = 0, triggered = 1, cyclic = 2, forFor = 3, forBack = 4, backBack = 5, backFor = 6 };
    enum DataEncoding : int { Int32Enc = 0, Int16 = 1, coord3d = 2, raw = 3, counter = 4 };
    enum DataTrigger : int { noTrigger = 0, scanner = 1, time = 2, spec0 = 3, spec1 = 4, spec2 = 5, spec3 = 6 };
    Q_ENUM(DataOrder)
    Q_ENUM(DataEncoding)
    Q_ENUM(DataTrigger)

    /// The host's preferences record: pointers to values the host owns and may change at any time, so readers
    /// dereference them at each use.
    struct PrefData
    {
        const QString* graphicType;  // file type of graphic snapshots ("PNG")
        const QString* snapshotDir;  // default directory of snapshot and data files
        const bool* ascMatrix;       // ASC frame exports: matrix layout (one row per line)
        const bool* csvFlag;         // read by the CSV exports of the line displays
        const bool* detachOnTop;     // option of every detachable display widget: detached windows stay on top
        const int* reserved1;        // no reader in the library
        const int* reserved2;        // no reader in the library
        const int* layoutMargin;     // layout margin of plug-in widgets
        const int* layoutSpacing;    // layout spacing of plug-in widgets
    };

    typedef GPlugin* (*Factory)(QWidget* parent, QString name);

    /// The catalogue record of a plug-in type. Constructing one registers it in _typeList.
    struct PluginDescriptor
    {
        PluginDescriptor(QString name, QString description, int flags, Factory factory);
        QString name;
        QString description;
        int flags;
        Factory factory;
    };

    GPlugin(QWidget* parent, QString name, const PluginDescriptor* descriptor);
    ~GPlugin() override;

    // Virtual operations, in slot order.
    virtual QWidget* getWidget();
    virtual int getStretch();
    virtual QString getToolTip(const QPoint& pos) const;
    virtual void setOption(QString key, QString value);
    virtual void init();
    virtual void setDataOrder(GPlugin::DataOrder order);
    virtual void setDataEncoding(GPlugin::DataEncoding encoding);
    virtual void setDataBinning(int binning);
    virtual void setDataRangeX(int value);
    virtual void setDataRangeY(int value);
    virtual void setDataRangeZ(int value);
    virtual void setDataOffsetX(int value);
    virtual void setDataOffsetY(int value);
    virtual void setDataOffsetZ(int value);
    virtual void setDataOffsetVal(int value);
    virtual void setDataPhysX(int value);
    virtual void setDataPhysY(int value);
    virtual void setDataPhysZ(int value);
    virtual void setDataPhysVal(int value);
    virtual void setDataPhysValNumerator(int value);
    virtual void setDataTrigger(GPlugin::DataTrigger trigger);
    virtual void setDataRotation(int value);
    virtual void setDataUnitX(int unit);
    virtual void setDataUnitZ(int unit);
    virtual void setDataUnitVal(int unit);
    virtual void setFixXY(bool fix);
    virtual void setDataScanSpeed(int value);
    /// `count` 32-bit words; the first has position `index` in the current frame.
    virtual void setData(const int* data, int count, int index);
    /// A block whose byte length `count` is not a multiple of four.
    virtual void setDataOdd(const int* data, int count, int index);
    virtual SnapshotMgr* getSnapshotManager() const;
    virtual void setDialEvent(int a, int b);
    virtual void setHighlighted(bool on);
    /// The options that rebuild this plug-in, as pairs of key and value in order. By default the options that its
    /// page gave it (recordOption).
    virtual QList<QPair<QString, QString>> recipeOptions() const;
    /// The state of a display that a view recipe records and restores (colour table, magnification, gradation or
    /// Y range, scan direction); empty for plug-ins without such a state.
    virtual QVariantMap displayState() const;
    /// Restores a state returned by displayState(); entries that are unknown or do not parse are ignored.
    virtual void applyDisplayState(const QVariantMap& state);
    /// Remembers an option the plug-in was built with (the page records each option it applies).
    void recordOption(const QString& key, const QString& value) { givenOptions.append(qMakePair(key, value)); }

    /// Sets the successor (which must not be null) and its predecessor link. A replaced successor is not deleted.
    void setSuccessor(GPlugin* s);
    GPlugin* getSuccessor() const { return successor; }
    GPlugin* getPredecessor() const { return predecessor; }
    QString getName() const { return name; }
    const PluginDescriptor* getDescriptor() const { return descriptor; }

    /// Calls setOption(key, value) on this plug-in, then on each plug-in up (or down) the chain to its end.
    void sendEventToPeers(QString key, QString value, bool upstream);

    static void setPrefs(const PrefData* prefs);
    static const PrefData* prefs() { return _prefs; }

    // Value formatting (the unit arithmetic lives in utilif/algo.h).
    static QString formatValue(double value, QString unit, double resolution, int digits);
    static QString formatValue(double value, int unitCode, double resolution, char prefix, int digits);
    static QString printUnit(int unitCode);

    /// Applies a list of options with the same rules as a page: pairs of key and value, in order.
    void setOptions(const QStringList& keys, const QStringList& values);

    static const PrefData dfltPrefs;
    static const PrefData* _prefs;
    static QList<const PluginDescriptor*>* _typeList;
    static quint32 _initIndicator;

public slots:
    virtual void checkForPartner(QString name, GPlugin* ptr);
    virtual QMenu* getForeignMenu() const;
    virtual void updateCondition(int value);
    void attachWidget(bool attach);

signals:
    void attach(bool attach, GPlugin* plugin);
    void requestLastFrame();
    void pointSelected(Int32 point, Int32 targetAddr, Int32 targetIdx);
    void rangeSelected(QRect range, GPlugin::DataTrigger origin);
    void rangeSelectedTel(Int32 start, Int32 end, Int32 targetAddrStart, Int32 targetIdxStart, Int32 targetAddrEnd,
                          Int32 targetIdxEnd);
    void angleSelected(Int32 range);
    void pathSelected(PathList path, GPlugin::DataTrigger origin);
    void gridSelected(PathList rect, Int32 pointsX, Int32 pointsY, GPlugin::DataTrigger origin);
    void statusChanged(QString text, int displayTime = -1, int severity = 0);
    void searchPartner(QString name, GPlugin* ptr);
    void sendGenericTelegram(void* tel);
    void requestParamSnapshot(QStringList lines, DataList& data, QString& text, QString prefix);

protected:
    GPlugin* successor = nullptr;
    GPlugin* predecessor = nullptr;
    QString name;
    const PluginDescriptor* descriptor = nullptr;
    QList<QPair<QString, QString>> givenOptions;
};

Q_DECLARE_METATYPE(GPlugin::DataOrder)
Q_DECLARE_METATYPE(GPlugin::DataEncoding)
Q_DECLARE_METATYPE(GPlugin::DataTrigger)
Q_DECLARE_METATYPE(GPlugin*)

/// Registers the metatypes used in queued and string-form connections (Int32, PathList, DataList, ...). Idempotent;
/// the library calls it itself when the first plug-in is made.
void registerOrvikMetaTypes();

/// Design mode keyword: "designorvik"/"orvik" -> 1, "disigntebran"/"tebran" -> 2, anything else 0.
int string2DesignMode(QString text);

/// Position of a catalogue name (with its flags) in the catalogue order; types outside it sort after it.
int catalogueRank(const QString& name, int flags);
