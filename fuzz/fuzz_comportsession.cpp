// A telnet server's bytes, split anywhere, as the RFC 2217 session takes them.

#include "engine/remote/comportsession.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 1)
        return 0;
    // The first byte says where the reads are split: every (n + 1)th byte ends one.
    const std::size_t step = std::size_t(data[0]) + 1;
    ComPortSession session;
    session.opening();
    QByteArray device, reply;
    for (std::size_t at = 1; at < size; at += step) {
        const std::size_t count = size - at < step ? size - at : step;
        session.take(reinterpret_cast<const char *>(data + at), qint64(count), &device, &reply);
        // Never more out than in, beyond the line's settings: a server cannot make the client
        // grow its answers without end.
        if (reply.size() > qsizetype(size) * 3 + 256)
            std::abort();
        if (!session.problem().isEmpty())
            break; // the link ends here
    }
    if (device.size() > qsizetype(size))
        std::abort();
    return 0;
}
