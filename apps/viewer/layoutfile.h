#pragma once
// The viewer's layout: which server to use, its channels and data groups, the preferences record, and the pages
// with their plug-in chains. Read from a JSON file (or the built-in demo) in one go: a layout is either complete
// and valid or refused with a message that names the file, the place and the fault.

#include "connection/datagroup.h"

#include <QByteArray>
#include <QList>
#include <QMap>
#include <QString>
#include <QStringList>
#include <QVariantMap>

/// One element of a page's chain: catalogue type, instance name and options (applied in this order), and initial
/// values of its persisted settings (used where the settings file has none yet).
struct ChainEntry
{
    QString type;
    QString name;
    QStringList keys;
    QStringList values;
    QStringList settingKeys;
    QStringList settingValues;
    QVariantMap display; // a display state to restore after the options (from a view recipe)
};

struct PageLayout
{
    QString name;
    int channel = -1; // -1: keep what the page restores from the settings
    int group = -1;   // -1: follow the channel's group
    bool leftAligned = false;
    int selectMode = 3;
    bool showSource = false;
    bool showSampleTime = false;
    bool showAverage = false;
    bool snapshotButtons = true;
    QList<ChainEntry> chain;
};

/// The values the library's preferences record points to, plus the background-storage switch.
struct HostPrefs
{
    QString graphicType = QStringLiteral("PNG");
    QString snapshotDir;
    bool ascMatrix = false;
    bool csvFlag = false;
    bool detachOnTop = false;
    int reserved1 = 0;
    int reserved2 = 0;
    int layoutMargin = 3;
    int layoutSpacing = 3;
    bool backgroundStorage = true;
};

struct ViewerLayout
{
    QString host; // empty: no server named (the command line or the embedded simulator decides)
    int port = 0;
    bool lossless = false;
    int channelCount = 0;
    int unsubscribed = 0;
    QMap<int, DataGroup> groups;
    QString signalList; // captions of the signal numbers, "0=Topography,1=Current" or one per line

    HostPrefs prefs;

    QString title;
    bool tabs = false; // pages in tabs instead of a grid
    int columns = 2;   // grid columns
    QList<PageLayout> pages;
};

class LayoutFile
{
public:
    /// Largest channel count a layout may ask for (each channel owns a frame buffer).
    static constexpr int maxChannels = 1024;
    /// Largest number of pages a layout may have: far beyond any laboratory's, small enough to start in seconds.
    static constexpr int maxPages = 10000;

    /// Parses `json`; `source` names the file in messages. On failure `*error` says where and what, and `*layout`
    /// is left unchanged.
    static bool parse(const QByteArray& json, const QString& source, ViewerLayout* layout, QString* error);
    /// Reads and parses a file.
    static bool load(const QString& path, ViewerLayout* layout, QString* error);
    /// Replaces the pages of `layout` with the page of the view recipe `path` (chain, options and display states;
    /// its channel when the layout has it). The server and channels stay the layout's. False with `*error` naming
    /// the file and the fault; `*layout` is unchanged then.
    static bool applyRecipe(const QString& path, ViewerLayout* layout, QString* error);
    /// The built-in demo layout for the embedded simulator, built from the plug-in types that exist in this build.
    static QByteArray demoLayout();
    /// The layout of an offline replay: one page whose chain is a "Disc Writer" replaying into the display that
    /// suits the recorded data order (a frame display for scans, orders 3 to 6; a line display otherwise).
    static QByteArray replayLayout(int order);
    /// Puts a "Disc Writer" (instance "Replay") at the head of every page's chain that does not start with one.
    static void addReplayHead(ViewerLayout* layout);
    /// The registered catalogue names, in catalogue order without repeats.
    static QStringList knownTypes();
};
