#include "commandline.h"

#include <cmath>

namespace {

// Options that take a value, accepted as "--opt value" and "--opt=value".
const char* const valueOptions[] = {"--layout",   "--connect",  "--run-for",   "--screenshot", "--snapshot-dir",
                                    "--settings", "--sim-drop", "--sim-pause", "--sim-stall",  "--replay",
                                    "--layout-from"};

bool takesValue(const QString& name)
{
    for (const char* o : valueOptions) {
        if (name == QLatin1String(o))
            return true;
    }
    return false;
}

} // namespace

bool CommandLine::splitHostPort(const QString& text, QString* host, quint16* port)
{
    const int colon = text.lastIndexOf(QLatin1Char(':'));
    if (colon <= 0)
        return false;
    QString h = text.left(colon);
    if (h.startsWith(QLatin1Char('[')) && h.endsWith(QLatin1Char(']')))
        h = h.mid(1, h.size() - 2);
    else if (h.contains(QLatin1Char(':')))
        return false; // a bare IPv6 address is ambiguous: it needs brackets
    bool ok = false;
    const uint p = text.mid(colon + 1).toUInt(&ok);
    if (!ok || p < 1 || p > 65535 || h.isEmpty())
        return false;
    *host = h;
    *port = quint16(p);
    return true;
}

bool CommandLine::parse(const QStringList& arguments, ViewerOptions* options, QString* error)
{
    ViewerOptions o;
    for (int i = 0; i < arguments.size(); ++i) {
        QString name = arguments.at(i);
        QString value;
        bool hasValue = false;
        const int eq = name.indexOf(QLatin1Char('='));
        if (name.startsWith(QLatin1String("--")) && eq > 0) {
            value = name.mid(eq + 1);
            name = name.left(eq);
            hasValue = true;
        }
        if (takesValue(name) && !hasValue) {
            if (i + 1 >= arguments.size()) {
                *error = QStringLiteral("%1 needs a value").arg(name);
                return false;
            }
            value = arguments.at(++i);
            hasValue = true;
        } else if (!takesValue(name) && hasValue) {
            *error = QStringLiteral("%1 takes no value").arg(name);
            return false;
        }

        if (name == QLatin1String("--layout")) {
            o.layoutFile = value;
        } else if (name == QLatin1String("--layout-from")) {
            o.recipeFile = value;
        } else if (name == QLatin1String("--connect")) {
            if (!splitHostPort(value, &o.connectHost, &o.connectPort)) {
                *error = QStringLiteral("--connect %1: expected HOST:PORT with a port from 1 to 65535").arg(value);
                return false;
            }
        } else if (name == QLatin1String("--run-for")) {
            bool ok = false;
            o.runFor = value.toDouble(&ok);
            if (!ok || !std::isfinite(o.runFor) || o.runFor < 0 || o.runFor > 1e7) {
                *error = QStringLiteral("--run-for %1: expected a number of seconds (0 or more)").arg(value);
                return false;
            }
        } else if (name == QLatin1String("--screenshot")) {
            o.screenshot = value;
        } else if (name == QLatin1String("--snapshot-dir")) {
            o.snapshotDir = value;
        } else if (name == QLatin1String("--settings")) {
            o.settingsFile = value;
        } else if (name == QLatin1String("--sim-drop")) {
            o.simDrops << value;
        } else if (name == QLatin1String("--sim-pause")) {
            o.simPauses << value;
        } else if (name == QLatin1String("--sim-stall")) {
            o.simStall = value;
        } else if (name == QLatin1String("--show-streams")) {
            o.showStreams = true;
        } else if (name == QLatin1String("--replay")) {
            o.replayFile = value;
        } else if (name == QLatin1String("--offscreen")) {
            o.offscreen = true;
        } else if (name == QLatin1String("--store-on-exit")) {
            o.storeOnExit = true;
        } else if (name == QLatin1String("--list-types")) {
            o.listTypes = true;
        } else if (name == QLatin1String("--help") || name == QLatin1String("-h")) {
            o.help = true;
        } else if (name == QLatin1String("--version")) {
            o.version = true;
        } else if (!name.startsWith(QLatin1Char('-')) && o.layoutFile.isEmpty()) {
            o.layoutFile = name; // the layout may also be given as the only plain argument
        } else {
            *error = QStringLiteral("unknown argument \"%1\" (see --help)").arg(arguments.at(i));
            return false;
        }
        if (hasValue && value.isEmpty() && name != QLatin1String("--snapshot-dir")) {
            *error = QStringLiteral("%1 needs a non-empty value").arg(name);
            return false;
        }
    }
    *options = o;
    return true;
}

QString CommandLine::usage()
{
    return QStringLiteral(
        "Usage: orvik-viewer [options] [LAYOUT.json]\n"
        "\n"
        "Shows live data of an acquisition server. Without a layout and without --connect it starts the built-in\n"
        "simulator on a free loopback port and shows the demo layout.\n"
        "\n"
        "  --layout FILE        page layout (JSON); the same as giving FILE as the only argument\n"
        "  --layout-from RECIPE.json\n"
        "                       rebuild the page that made a snapshot set from its recipe (the set's .json file):\n"
        "                       the same chain and display settings, on the current server and channel layout\n"
        "  --connect HOST:PORT  use this server instead of the layout's or the built-in simulator\n"
        "  --offscreen          run without a display (also chosen when no display is available)\n"
        "  --run-for SECONDS    quit after this time\n"
        "  --store-on-exit      before quitting, store a snapshot of every page and wait for the files\n"
        "  --screenshot FILE    before quitting, save the main window as a PNG image\n"
        "  --snapshot-dir DIR   directory of snapshot files (overrides the layout)\n"
        "  --settings FILE      file of the persisted settings (default: the user's configuration)\n"
        "  --replay FILE        replay a binary disc-writer recording offline (no server); with --layout the\n"
        "                       layout's chains get the replay at their head\n"
        "  --list-types         print the plug-in catalogue and exit\n"
        "  --show-streams       open the Streams view (stream health of every channel) at start\n"
        "  --sim-drop CH:N      built-in simulator: leave out every N-th data block of channel CH (repeatable)\n"
        "  --sim-pause CH[:START]\n"
        "                       built-in simulator: send nothing more on channel CH, from the start or after\n"
        "                       START seconds (repeatable)\n"
        "  --sim-stall START:DURATION\n"
        "                       built-in simulator: after START seconds send no data for DURATION seconds\n"
        "  --help, --version\n"
        "\n"
        "Exit codes: 0 success, 1 a run-time failure (files not written), 2 bad arguments or layout.\n");
}
