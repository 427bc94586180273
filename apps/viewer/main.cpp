// orvik-viewer: shows live data of an acquisition server on the pages of a layout. Without a layout and a server it
// runs the built-in simulator and the demo layout, so that one command shows live data.

#include "commandline.h"
#include "layoutfile.h"
#include "viewerwindow.h"

#include "connection/viewpage.h"
#include "recording/discwriterplugin.h"
#include "recording/syncwriterplugin.h"
#include "simserver.h"
#include "utilif/savable.h"

#include <QApplication>
#include <QDateTime>
#include <QDir>
#include <QElapsedTimer>
#include <QFileInfo>
#include <QTimer>

#include <cstdio>
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

// Runs the end of a session: stores, screenshot, report. Returns the exit code.
class Finisher : public QObject
{
public:
    Finisher(ViewerWindow* window, const ViewerOptions& options) : window(window), options(options)
    {
        before = listFiles(snapshotDir());
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
        print(stdout, QStringLiteral("Settings kept in %1").arg(QDir::toNativeSeparators(Savable::storageFile())));
        QCoreApplication::exit(code);
    }

    ViewerWindow* window;
    ViewerOptions options;
    QMap<QString, QDateTime> before;
    QElapsedTimer clock;
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
    QCoreApplication::setApplicationName(QStringLiteral("orvik-viewer"));
    QCoreApplication::setOrganizationName(QStringLiteral("Orvik"));
    if (!options.settingsFile.isEmpty())
        Savable::setStorageFile(QFileInfo(options.settingsFile).absoluteFilePath());
    registerOrvikMetaTypes();

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
    if (!ok) {
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
    std::unique_ptr<SimServer> simulator;
    if (host.isEmpty() && !replay) {
        simulator = std::make_unique<SimServer>();
        if (!simulator->listen(0)) {
            print(
                stderr,
                QStringLiteral("orvik-viewer: cannot start the built-in simulator: %1").arg(simulator->errorString()));
            return 1;
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
    window.show();

    app.setQuitOnLastWindowClosed(false);
    Finisher finisher(&window, options);
    QObject::connect(&window, &ViewerWindow::closed, &finisher, &Finisher::start);
    if (options.runFor >= 0)
        QTimer::singleShot(int(options.runFor * 1000), &finisher, &Finisher::start);
    else if (replay && headless)
        QObject::connect(&window, &ViewerWindow::replayFinished, &finisher, &Finisher::start); // a scripted replay
    const int code = app.exec();
    return code;
}
