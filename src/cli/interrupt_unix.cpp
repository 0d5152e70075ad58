#include "cli/interrupt.h"

#include <QSocketNotifier>

#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

int wakePipe[2] = {-1, -1};

void onSignal(int)
{
    // Only async-signal-safe calls here: the event loop reads the pipe.
    const char byte = 1;
    [[maybe_unused]] const ssize_t n = ::write(wakePipe[1], &byte, 1);
}

} // namespace

void Interrupt::installHandlers()
{
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
}

void Interrupt::removeHandlers()
{
    for (int signal : {SIGINT, SIGTERM, SIGHUP, SIGPIPE})
        ::signal(signal, SIG_DFL);
    delete m_notifier;
    m_notifier = nullptr;
    for (int &fd : wakePipe) {
        if (fd >= 0)
            ::close(fd);
        fd = -1;
    }
}
