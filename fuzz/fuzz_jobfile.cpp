// Job files as a person or vantyx-job writes them, damaged anywhere.

#include "jobs/jobfile.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const QByteArray text(reinterpret_cast<const char *>(data), qsizetype(size));
    QString why;
    const std::optional<Job> job = jobfile::parse(text, &why);
    if (!job) {
        if (why.isEmpty())
            std::abort();
        return 0;
    }
    // What vantyx-job would write of it reads back the same job.
    const std::optional<Job> again = jobfile::parse(jobfile::format(*job), &why);
    if (!again || !(*again == *job))
        std::abort();
    return 0;
}
