// Image files: raw, Intel HEX and S-record, as found by their content.

#include "core/image/imageformats.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray content(reinterpret_cast<const char *>(data), qsizetype(size));
    // As little memory as a fuzzer's run has: a span over it is refused, not made.
    constexpr qint64 largest = 1 << 20;
    for (const imageformats::Format format :
         {imageformats::detect(content, QStringLiteral("image.hex")),
          imageformats::Format::IntelHex, imageformats::Format::SRecord}) {
        if (format == imageformats::Format::Raw)
            continue;
        QString why;
        const std::optional<imageformats::Converted> converted =
            imageformats::convert(content, format, largest, &why);
        if (converted ? converted->bytes.isEmpty() || converted->bytes.size() > largest
                      : why.isEmpty())
            std::abort();
    }
    return 0;
}
