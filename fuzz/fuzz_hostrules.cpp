// A device's bytes in every phase of a download, as the host's rules take them.

#include "core/protocol/hostrules.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    if (size < 2)
        return 0;
    // The first byte is the phase (okCount 0 to 3), the second how the rest is cut into reads.
    qint32 okCount = data[0] % 4;
    const std::size_t step = std::size_t(data[1]) % 16 + 1;
    quenlark::Resends resends;
    for (std::size_t at = 2; at < size; at += step) {
        const std::size_t count = size - at < step ? size - at : step;
        const QByteArray read(reinterpret_cast<const char *>(data + at), qsizetype(count));
        const qint32 before = okCount;
        const quenlark::Read meaning = quenlark::takeRead(read, okCount);
        if (okCount < before || okCount > before + 1)
            std::abort();
        if (meaning == quenlark::Read::BlockReply) {
            switch (quenlark::blockReplyKind(read)) {
            case quenlark::BlockReply::Accepted:
                resends.accepted();
                break;
            case quenlark::BlockReply::Resend:
                resends.sendAgain();
                break;
            case quenlark::BlockReply::Bad:
                break;
            }
        }
        // A flood is said in one short line.
        if (quenlark::describeRead(read).size() > 80)
            std::abort();
    }
    return 0;
}
