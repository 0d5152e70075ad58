#include "cli/interrupt.h"

#include <QSocketNotifier>

#ifdef Q_OS_WIN
#include <QMetaObject>
#include <windows.h>
#else
#include <csignal>
#include <fcntl.h>
#include <unistd.h>
#endif

namespace {

#ifdef Q_OS_WIN
Interrupt *instance = nullptr;

BOOL WINAPI onConsoleEvent(DWORD)
{
    // Runs on a thread of its own: hand over to the event loop.
    if (instance)
        QMetaObject::invokeMethod(instance, &Interrupt::requested, Qt::QueuedConnection);
    return TRUE;
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

Interrupt::Interrupt(QObject *parent) : QObject(parent)
{
#ifdef Q_OS_WIN
    instance = this;
    SetConsoleCtrlHandler(onConsoleEvent, TRUE);
#else
    if (::pipe(wakePipe) != 0)
        return;
    for (int fd : wakePipe)
        ::fcntl(fd, F_SETFD, FD_CLOEXEC);
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
    sigaction(SIGINT, &action, nullptr);
    sigaction(SIGTERM, &action, nullptr);
#endif
}

Interrupt::~Interrupt()
{
#ifdef Q_OS_WIN
    SetConsoleCtrlHandler(onConsoleEvent, FALSE);
    instance = nullptr;
#else
    signal(SIGINT, SIG_DFL);
    signal(SIGTERM, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
#endif
}
