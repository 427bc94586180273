// orvik-viewer: shows live data of an acquisition server on the pages of a layout. Without a layout and a server it
// runs the built-in simulator and the demo layout, so that one command shows live data.

#include "commandline.h"
#include "layoutfile.h"
#include "signalquit.h"
#include "viewerwindow.h"

#include "connection/viewpage.h"
#include "displays/waterfallplugin.h"
#include "recording/discwriterplugin.h"
#include "recording/syncwriterplugin.h"
#include "simserver.h"
#include "snapshot/snapshotmgr.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QDockWidget>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QEventLoop>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
#include <cstdlib>
#include <memory>

namespace {

void print(FILE* out, const QString& text)
{
    std::fprintf(out, "%s\n", qPrintable(text));
    std::fflush(out);
}

bool haveDisplay()
{
#if defined(Q_OS_LINUX) || defined(Q_OS_FREEBSD)
    return !qEnvironmentVariableIsEmpty("DISPLAY") || !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY");
#else
    return true;
#endif
}

// The files of a directory with their modification times, to tell afterwards which ones this run wrote.
QMap<QString, QDateTime> listFiles(const QString& dir)
{
    QMap<QString, QDateTime> files;
    const QFileInfoList entries = QDir(dir).entryInfoList(QDir::Files, QDir::Name);
    for (const QFileInfo& f : entries)
        files.insert(f.absoluteFilePath(), f.lastModified());
    return files;
}

// How long the quit waits for background stores that are still running before it abandons them.
constexpr int storeWaitMs = 30000;

// Lets running background stores finish, with the event loop running (they report back through it). False if some
// were still running when the time ran out.
bool waitForStores(int timeoutMs)
{
    if (ViewerWindow::runningStores() == 0)
        return true;
    print(stderr, QStringLiteral("Waiting for %1 snapshot store(s) to finish").arg(ViewerWindow::runningStores()));
    QElapsedTimer clock;
    clock.start();
    QEventLoop loop;
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, &loop, [&] {
        if (ViewerWindow::runningStores() == 0 || clock.elapsed() >= timeoutMs)
            loop.quit();
    });
    poll.start(20);
    loop.exec();
    return ViewerWindow::runningStores() == 0;
}

// Runs the end of a session: stores, screenshot, report. Returns the exit code.
class Finisher : public QObject
{
public:
    Finisher(ViewerWindow* window, const ViewerOptions& options) : window(window), options(options)
    {
        before = listFiles(snapshotDir());
        failedBefore = SnapshotMgr::failedStores();
    }

    QString snapshotDir() const
    {
        return QDir(window->snapshotDir().isEmpty() ? QDir::currentPath() : window->snapshotDir()).absolutePath();
    }

    void start()
    {
        if (started)
            return;
        started = true;
        if (options.storeOnExit) {
            window->storeAllPagesNow();
            clock.start();
            // Background stores report back through the event loop: poll until they are all done.
            auto* poll = new QTimer(this);
            connect(poll, &QTimer::timeout, this, [this, poll] {
                if (ViewerWindow::runningStores() > 0 && clock.elapsed() < 30000)
                    return;
                poll->stop();
                finish();
            });
            poll->start(20);
        } else {
            finish();
        }
    }

private:
    void finish()
    {
        int code = 0;
        if (options.storeOnExit) {
            if (ViewerWindow::runningStores() > 0) {
                print(stderr, QStringLiteral("error: snapshot stores did not finish within 30 s"));
                code = 1;
            }
            // Each failed store has printed its message naming the file; its file is not there.
            const int failed = SnapshotMgr::failedStores() - failedBefore;
            if (failed > 0) {
                print(stderr, QStringLiteral("error: %1 snapshot store(s) failed").arg(failed));
                code = 1;
            }
            QStringList written;
            const QMap<QString, QDateTime> after = listFiles(snapshotDir());
            for (auto it = after.begin(); it != after.end(); ++it) {
                if (!before.contains(it.key()) || before.value(it.key()) != it.value())
                    written << it.key();
            }
            if (written.isEmpty()) {
                print(stderr, QStringLiteral("error: no snapshot files were written to %1").arg(snapshotDir()));
                code = 1;
            } else {
                print(stdout, QStringLiteral("Snapshot files written to %1:").arg(snapshotDir()));
                for (const QString& f : written)
                    print(stdout, QStringLiteral("  %1").arg(QDir::toNativeSeparators(f)));
            }
        }
        if (!options.screenshot.isEmpty()) {
            QString error;
            if (window->saveScreenshot(options.screenshot, &error)) {
                print(stdout, QStringLiteral("Screenshot written to %1")
                                  .arg(QDir::toNativeSeparators(QFileInfo(options.screenshot).absoluteFilePath())));
            } else {
                print(stderr, QStringLiteral("error: %1").arg(error));
                code = 1;
            }
        }
        if (printHealth)
            for (const QString& line : window->healthSummary())
                print(stdout, line);
        print(stdout, QStringLiteral("Settings kept in %1").arg(QDir::toNativeSeparators(Savable::storageFile())));
        QCoreApplication::exit(code);
    }

public:
    bool printHealth = false; // headless runs end with one line of stream health per channel

private:
    ViewerWindow* window;
    ViewerOptions options;
    QMap<QString, QDateTime> before;
    QElapsedTimer clock;
    int failedBefore = 0;
    bool started = false;
};

} // namespace

int main(int argc, char** argv)
{
    QStringList arguments;
    for (int i = 1; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    ViewerOptions options;
    QString error;
    if (!CommandLine::parse(arguments, &options, &error)) {
        print(stderr, QStringLiteral("orvik-viewer: %1").arg(error));
        return 2;
    }
    if (options.help) {
        std::fputs(qPrintable(CommandLine::usage()), stdout);
        return 0;
    }
    if (options.version) {
        print(stdout, QStringLiteral("orvik-viewer %1").arg(QStringLiteral(ORVIK_VERSION)));
        return 0;
    }
    const bool headless = options.offscreen || !haveDisplay();
    if (headless && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");

    QApplication app(argc, argv);
    // From here on SIGTERM, SIGINT and SIGHUP quit in order; what arrives before the event loop runs waits for it.
    SignalQuit signalQuit;
    if (!signalQuit.install(&error))
        print(stderr, QStringLiteral("orvik-viewer: warning: %1; a signal will end the viewer at once").arg(error));
    QCoreApplication::setApplicationName(QStringLiteral("orvik-viewer"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
    if (!options.settingsFile.isEmpty())
        Savable::setStorageFile(QFileInfo(options.settingsFile).absoluteFilePath());
    registerOrvikMetaTypes();
    // An installed viewer keeps its colour tables in its data folder; a build folder has them beside the program.
    const QString installedTables =
        QDir(QCoreApplication::applicationDirPath()).absoluteFilePath(QStringLiteral(ORVIK_DATA_FROM_BIN "/colortables"));
    if (QFileInfo(installedTables).isDir())
        WaterfallPlugin::setTableDirectory(QDir::cleanPath(installedTables));

    if (options.listTypes) {
        for (const GPlugin::PluginDescriptor* d : *ViewPage::getPluginTypes())
            print(stdout, QStringLiteral("%1\t%2").arg(d->name, d->description.simplified()));
        return 0;
    }

    ViewerLayout layout;
    const bool replay = !options.replayFile.isEmpty();
    int recordedOrder = -1;
    if (replay && !ViewerWindow::recordedOrder(options.replayFile, &recordedOrder, &error)) {
        print(stderr, QStringLiteral("orvik-viewer: %1").arg(error));
        return 2;
    }
    bool ok = false;
    if (!options.layoutFile.isEmpty())
        ok = LayoutFile::load(options.layoutFile, &layout, &error);
    else if (replay)
        ok = LayoutFile::parse(LayoutFile::replayLayout(recordedOrder), QStringLiteral("<replay layout>"), &layout,
                               &error);
    else
        ok = LayoutFile::parse(LayoutFile::demoLayout(), QStringLiteral("<built-in demo layout>"), &layout, &error);
    if (!ok || (!options.recipeFile.isEmpty() && !LayoutFile::applyRecipe(options.recipeFile, &layout, &error))) {
        print(stderr, QStringLiteral("orvik-viewer: %1").arg(error));
        return 2;
    }
    if (replay)
        LayoutFile::addReplayHead(&layout);
    if (!options.snapshotDir.isEmpty())
        layout.prefs.snapshotDir = options.snapshotDir;
    if (!layout.prefs.snapshotDir.isEmpty() && !QDir().mkpath(layout.prefs.snapshotDir)) {
        print(stderr,
              QStringLiteral("orvik-viewer: cannot create the snapshot directory %1").arg(layout.prefs.snapshotDir));
        return 2;
    }

    // The server: the command line's, else the layout's, else the simulator in this process.
    QString host = options.connectHost;
    quint16 port = options.connectPort;
    if (host.isEmpty() && !layout.host.isEmpty()) {
        host = layout.host;
        port = quint16(layout.port);
    }
    if (!host.isEmpty() && (!options.simDrops.isEmpty() || !options.simPauses.isEmpty() || !options.simStall.isEmpty())) {
        print(stderr, QStringLiteral("orvik-viewer: --sim-drop, --sim-pause and --sim-stall apply to the built-in "
                                     "simulator only, not to the server %1").arg(host));
        return 2;
    }
    std::unique_ptr<SimServer> simulator;
    if (host.isEmpty() && !replay) {
        simulator = std::make_unique<SimServer>();
        if (!simulator->listen(0)) {
            print(
                stderr,
                QStringLiteral("orvik-viewer: cannot start the built-in simulator: %1").arg(simulator->errorString()));
            return 1;
        }
        QString faultError;
        if (!SimServer::applyFaults(simulator.get(), options.simDrops, options.simPauses, options.simStall,
                                    &faultError)) {
            print(stderr, QStringLiteral("orvik-viewer: %1").arg(faultError));
            return 2;
        }
        host = QStringLiteral("127.0.0.1");
        port = simulator->serverPort();
        print(stdout, QStringLiteral("Built-in simulator listening on %1:%2").arg(host).arg(port));
    }

    ViewerWindow window;
    window.setEchoStatus(headless);
    // Without a display nobody can close a message box: the writers' messages go to the status echo only.
    DiscWriterPlugin::setMessageBoxes(!headless);
    SyncWriterPlugin::setMessageBoxes(!headless);
    window.setSnapshotDir(options.snapshotDir);
    if (!window.loadLayout(layout, &error)) {
        print(stderr,
              QStringLiteral("orvik-viewer: %1: %2")
                  .arg(options.layoutFile.isEmpty() ? QStringLiteral("<built-in demo layout>") : options.layoutFile,
                       error));
        return 2;
    }
    if (replay) {
        // Offline: the recording stands in for the server.
        if (!window.startReplay(options.replayFile, &error)) {
            print(stderr, QStringLiteral("orvik-viewer: %1").arg(error));
            return 2;
        }
        print(stdout, QStringLiteral("Replaying %1").arg(QDir::toNativeSeparators(options.replayFile)));
    } else {
        window.connectTo(host, port);
        print(stdout, QStringLiteral("Connecting to %1:%2").arg(host).arg(port));
    }
    if (options.showStreams)
        window.streamsDock()->show();
    if (headless)
        window.resize(1920, 1440); // room for every page of the demo in the screenshot
    window.show();

    app.setQuitOnLastWindowClosed(false);
    Finisher finisher(&window, options);
    finisher.printHealth = headless;
    QObject::connect(&window, &ViewerWindow::closed, &finisher, &Finisher::start);
    if (options.runFor >= 0)
        QTimer::singleShot(int(options.runFor * 1000), &finisher, [&finisher] {
            SignalQuit::beginQuit();
            finisher.start();
        });
    else if (replay && headless)
        QObject::connect(&window, &ViewerWindow::replayFinished, &finisher, [&finisher] { // a scripted replay
            SignalQuit::beginQuit();
            finisher.start();
        });
    int quitSignal = 0;
    QObject::connect(&signalQuit, &SignalQuit::received, &finisher, [&](int signalNumber) {
        if (quitSignal != 0)
            return;
        quitSignal = signalNumber;
        print(stderr, QStringLiteral("orvik-viewer: %1 received, quitting (a second signal ends the viewer at once)")
                          .arg(SignalQuit::name(signalNumber)));
        finisher.start();
    });
    QObject::connect(&window, &ViewerWindow::closed, [] { SignalQuit::beginQuit(); });
    int code = app.exec();
    SignalQuit::beginQuit();

    // The server stops streaming first, so that no new frame starts a store; then the running stores finish.
    window.stopConnection();
    if (!waitForStores(storeWaitMs)) {
        // A thread cannot be torn down while it writes: leave without the destructors. The writers rename a file
        // to its final name only when it is complete; the settings are written out here, as no exit handler runs.
        print(stderr, QStringLiteral("error: %1 snapshot store(s) did not finish within %2 s and were abandoned")
                          .arg(ViewerWindow::runningStores())
                          .arg(storeWaitMs / 1000));
        Savable::flush();
        std::fflush(nullptr);
        std::_Exit(1);
    }
    if (quitSignal != 0 && code == 0)
        code = SignalQuit::exitCode(quitSignal);
    return code;
}
