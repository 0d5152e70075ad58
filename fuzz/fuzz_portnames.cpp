// Port names and addresses as a command line or a slot file gives them.

#include "core/serial/portname.h"
#include "core/serial/remoteport.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString name = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString why;
    const std::optional<RemotePort> remote = RemotePort::parse(name, &why);
    if (remote) {
        // A name it takes has a key, and the key names the same port again.
        const QString key = remote->key();
        if (key.isEmpty())
            std::abort();
        if (RemotePort::isRemote(name) != true)
            std::abort();
    } else if (RemotePort::isRemote(name) && why.isEmpty()) {
        std::abort(); // refused without a word
    }
    return 0;
}
