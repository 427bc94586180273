#pragma once
// The viewer's command line.

#include <QString>
#include <QStringList>

struct ViewerOptions
{
    QString layoutFile;  // empty: the built-in demo layout
    QString recipeFile;  // --layout-from: the page of a snapshot set's recipe replaces the layout's pages
    QString connectHost; // empty: the layout's server, else the in-process simulator
    quint16 connectPort = 0;
    bool offscreen = false;
    double runFor = -1; // seconds; negative: until the window is closed
    bool storeOnExit = false;
    QString screenshot;
    QString snapshotDir;  // overrides the layout's snapshot directory
    QString settingsFile; // empty: the user's configuration file
    bool listTypes = false;
    QString replayFile; // a disc-writer recording to replay offline instead of connecting
    bool help = false;
    bool version = false;
    bool showStreams = false;
    // Faults of the built-in simulator, to see stream health: "CH:N", "CH", "START:DURATION".
    QStringList simDrops;
    QStringList simPauses;
    QString simStall;
};

class CommandLine
{
public:
    /// Parses the arguments (without the program name). False with a message for the user in `*error`.
    static bool parse(const QStringList& arguments, ViewerOptions* options, QString* error);
    /// Splits "HOST:PORT" (also "[v6-address]:PORT"); false if either part is missing or the port is not 1..65535.
    static bool splitHostPort(const QString& text, QString* host, quint16* port);
    static QString usage();
};
