#include "signalquit.h"

#include <QSocketNotifier>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstring>
#include <fcntl.h>
#include <unistd.h>

namespace {

const int handled[] = {SIGTERM, SIGINT, SIGHUP};

int pipeFds[2] = {-1, -1};
// Set by the first signal (or by beginQuit); read by the handler, so lock-free by requirement.
std::atomic<int> quitting{0};
static_assert(std::atomic<int>::is_always_lock_free, "the signal handler needs a lock-free flag");

extern "C" void onQuitSignal(int signalNumber)
{
    if (quitting.exchange(1) != 0) {
        // A quit is already under way and the user insists: the default action, at once (the signal is blocked
        // while this handler runs and is delivered as soon as it returns).
        std::signal(signalNumber, SIG_DFL);
        std::raise(signalNumber);
        return;
    }
    const int saved = errno;
    const unsigned char byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t written = ::write(pipeFds[1], &byte, 1);
    errno = saved;
}

bool setNonBlockingCloseOnExec(int fd)
{
    const int flags = ::fcntl(fd, F_GETFL);
    const int fdFlags = ::fcntl(fd, F_GETFD);
    return flags >= 0 && fdFlags >= 0 && ::fcntl(fd, F_SETFL, flags | O_NONBLOCK) == 0 &&
           ::fcntl(fd, F_SETFD, fdFlags | FD_CLOEXEC) == 0;
}

} // namespace

SignalQuit::SignalQuit(QObject* parent) : QObject(parent) {}

SignalQuit::~SignalQuit()
{
    if (!installed)
        return;
    for (int s : handled)
        std::signal(s, SIG_DFL);
    delete notifier;
    ::close(pipeFds[0]);
    ::close(pipeFds[1]);
    pipeFds[0] = pipeFds[1] = -1;
}

bool SignalQuit::install(QString* error)
{
    if (installed || pipeFds[0] >= 0) {
        if (error)
            *error = QStringLiteral("the signal handlers are installed already");
        return false;
    }
    if (::pipe(pipeFds) != 0 || !setNonBlockingCloseOnExec(pipeFds[0]) || !setNonBlockingCloseOnExec(pipeFds[1])) {
        if (error)
            *error = QStringLiteral("cannot create the signal pipe: %1").arg(QString::fromLocal8Bit(strerror(errno)));
        for (int& fd : pipeFds) {
            if (fd >= 0)
                ::close(fd);
            fd = -1;
        }
        return false;
    }
    notifier = new QSocketNotifier(pipeFds[0], QSocketNotifier::Read, this);
    connect(notifier, &QSocketNotifier::activated, this, &SignalQuit::readPipe);

    struct sigaction action = {};
    action.sa_handler = onQuitSignal;
    action.sa_flags = SA_RESTART;
    sigemptyset(&action.sa_mask);
    for (int s : handled)
        sigaddset(&action.sa_mask, s); // one handler at a time: the second one sees the first one's flag
    for (int s : handled) {
        if (::sigaction(s, &action, nullptr) != 0) {
            if (error)
                *error = QStringLiteral("cannot handle %1: %2").arg(name(s), QString::fromLocal8Bit(strerror(errno)));
            for (int t : handled)
                std::signal(t, SIG_DFL);
            installed = true; // the destructor closes the pipe
            return false;
        }
    }
    installed = true;
    return true;
}

void SignalQuit::beginQuit()
{
    quitting.store(1);
}

QString SignalQuit::name(int signalNumber)
{
    switch (signalNumber) {
    case SIGTERM:
        return QStringLiteral("SIGTERM");
    case SIGINT:
        return QStringLiteral("SIGINT");
    case SIGHUP:
        return QStringLiteral("SIGHUP");
    default:
        return QStringLiteral("signal %1").arg(signalNumber);
    }
}

void SignalQuit::readPipe()
{
    unsigned char bytes[16];
    const ssize_t n = ::read(pipeFds[0], bytes, sizeof bytes);
    for (ssize_t i = 0; i < n; ++i)
        emit received(bytes[i]);
}
