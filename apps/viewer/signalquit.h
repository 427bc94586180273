#pragma once
// SignalQuit: turns SIGTERM, SIGINT and SIGHUP into a Qt signal on the GUI thread, so that the viewer can quit in
// order (stores finished, stop telegram sent) instead of dying in the middle of a write. The handler only writes
// the signal number into a pipe that a QSocketNotifier watches. Once a quit has begun, by a signal or otherwise,
// the next signal ends the program at once with the signal's default action.

#include <QObject>
#include <QString>

class QSocketNotifier;

class SignalQuit : public QObject
{
    Q_OBJECT
public:
    explicit SignalQuit(QObject* parent = nullptr);
    /// Puts the default actions back.
    ~SignalQuit() override;

    /// Installs the handlers (one instance at a time). False with a message in `*error` if the platform refused.
    bool install(QString* error);
    /// A quit is under way: from now on a signal ends the program at once.
    static void beginQuit();
    /// The exit code of a quit caused by `signalNumber`: 128 plus the number, as shells report it.
    static int exitCode(int signalNumber) { return 128 + signalNumber; }
    /// "SIGTERM", "SIGINT", "SIGHUP" (or the number).
    static QString name(int signalNumber);

signals:
    /// The first SIGTERM, SIGINT or SIGHUP arrived (delivered through the event loop).
    void received(int signalNumber);

private:
    void readPipe();

    QSocketNotifier* notifier = nullptr;
    bool installed = false;
};
