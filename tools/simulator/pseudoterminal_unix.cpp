#include "pseudoterminal.h"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#ifdef Q_OS_MACOS
#include <util.h>
#else
#include <pty.h>
#endif
#include <termios.h>
#include <unistd.h>

namespace devicesim {

Pty::Pty()
{
    char name[256] = {};
    if (openpty(&master, &slave, name, nullptr, nullptr) != 0) {
        error = QStringLiteral("cannot create a pseudo-terminal: ") +
                QString::fromLocal8Bit(std::strerror(errno));
        master = slave = -1;
        return;
    }
    // Raw before the host opens it, so nothing it sends is echoed or translated.
    termios tio{};
    tcgetattr(slave, &tio);
    cfmakeraw(&tio);
    cfsetispeed(&tio, B115200);
    cfsetospeed(&tio, B115200);
    tcsetattr(slave, TCSANOW, &tio);
    fcntl(master, F_SETFL, fcntl(master, F_GETFL) | O_NONBLOCK);
    // Not inherited: a host started as a child process would keep the line up after hangUp().
    for (int fd : {master, slave})
        fcntl(fd, F_SETFD, FD_CLOEXEC);
    path = QString::fromLocal8Bit(name);
}

Pty::~Pty()
{
    hangUp();
}

void Pty::hangUp()
{
    for (int *fd : {&master, &slave}) {
        if (*fd >= 0)
            ::close(*fd);
        *fd = -1;
    }
}

} // namespace devicesim
