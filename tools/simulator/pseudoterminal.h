#pragma once

#include <QString>
#include <QtGlobal>

#ifdef Q_OS_UNIX
namespace devicesim {

// A raw pseudo-terminal pair: the device plays on `master` (non-blocking), the host opens
// `path`. The slave stays open here too, so a host's close never hangs the line up; hangUp()
// does, as pulling a USB adapter out would.
class Pty
{
public:
    Pty();
    ~Pty();
    Pty(const Pty &) = delete;
    Pty &operator=(const Pty &) = delete;

    bool isOpen() const { return master >= 0; }
    void hangUp();

    int master = -1;
    int slave = -1;
    QString path;
    QString error; // why it could not be made
};

} // namespace devicesim
#endif
