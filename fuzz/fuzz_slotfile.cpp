// Slot files as a person edits them.

#include "engine/flash/slotfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QString text = QString::fromUtf8(reinterpret_cast<const char *>(data), qsizetype(size));
    QString why;
    const std::optional<Station> station = slotfile::parse(text, &why);
    if (!station) {
        if (why.isEmpty())
            std::abort();
        return 0;
    }
    // What the editor would write of it reads back the same.
    const QString written = slotfile::format(*station);
    const std::optional<Station> again = slotfile::parse(written, &why);
    if (!again || slotfile::format(*again) != written)
        std::abort();
    return 0;
}
