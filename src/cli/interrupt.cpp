#include "cli/interrupt.h"

#include <QMetaObject>
#include <QSocketNotifier>

#include <chrono>
#include <condition_variable>
#include <mutex>

#ifdef Q_OS_WIN
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

// Shared with the threads requests come from (Windows runs its console handler on a thread
// of its own).
std::mutex lock;
std::condition_variable releasedChanged;
Interrupt *instance = nullptr;
bool released = false;

#ifdef Q_OS_WIN
// The system allows a handler for these events 5 s before it ends the process.
constexpr int closeGraceMs = 4500;

BOOL WINAPI onConsoleEvent(DWORD event)
{
    const bool closing =
        event == CTRL_CLOSE_EVENT || event == CTRL_LOGOFF_EVENT || event == CTRL_SHUTDOWN_EVENT;
    return Interrupt::requestFromAnyThread(closing, closeGraceMs) ? TRUE : FALSE;
}
#else
int wakePipe[2] = {-1, -1};

void onSignal(int)
{
    // Only async-signal-safe calls here: the event loop reads the pipe.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
}
#endif

} // namespace

bool Interrupt::requestFromAnyThread(bool waitForTheEnd, int graceMs)
{
    std::unique_lock<std::mutex> guard(lock);
    if (!instance)
        return false;
    QMetaObject::invokeMethod(instance, &Interrupt::requested, Qt::QueuedConnection);
    if (waitForTheEnd)
        releasedChanged.wait_for(guard, std::chrono::milliseconds(graceMs),
                                 [] { return released; });
    return true;
}

void Interrupt::release()
{
    const std::lock_guard<std::mutex> guard(lock);
    released = true;
    releasedChanged.notify_all();
}

Interrupt::Interrupt(QObject *parent) : QObject(parent)
{
    {
        const std::lock_guard<std::mutex> guard(lock);
        instance = this;
        released = false;
    }
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (::pipe(wakePipe) != 0)
        return;
    for (int &fd : wakePipe) {
        // Never 0 to 2, whatever the process was started with: a line meant for standard
        // error must not land in the pipe and read as Ctrl-C.
        const int moved = ::fcntl(fd, F_DUPFD_CLOEXEC, 3);
        ::close(fd);
        fd = moved;
    }
    m_notifier = new QSocketNotifier(wakePipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, [this] {
        char drain[16];
        [[maybe_unused]] const ssize_t n = ::read(wakePipe[0], drain, sizeof drain);
        emit requested();
    });
    struct sigaction action = {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    // A closed terminal or session (SIGHUP) ends the run as Ctrl-C does: summary and report.
    for (int signal : {SIGINT, SIGTERM, SIGHUP})
        sigaction(signal, &action, nullptr);
    // A reader that went away (a pipe into head) must not kill a board in the middle: the
    // failed write is simply not seen.
    ::signal(SIGPIPE, SIG_IGN);
#endif
}

Interrupt::~Interrupt()
{
    {
        // A request waiting now returns: nothing more will be said.
        const std::lock_guard<std::mutex> guard(lock);
        instance = nullptr;
        released = true;
        releasedChanged.notify_all();
    }
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
#else
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        ::signal(signal, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#endif
}
