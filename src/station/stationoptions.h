#pragma once

#include "core/image/firmwareimage.h"
#include "engine/flash/station.h"
#include "jobs/approval.h"
#include "metrics/metricspublisher.h"
#include "records/boardrecord.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <filesystem>
#include <optional>
#include <utility>

class QCommandLineParser;

// A station's options, one reader for both programs that run a shift: the same names, the same
// checks and the same one-line refusals (each program says them with its name and exit status
// 2), every file told apart by what it is, before any port is opened.
struct StationOptions
{
    QStringList ports;       // --port's
    QString slotsFile;       // "" none
    Station station;         // the slot file's, and --usb's adapters
    QString tag;             // "" none: into every record
    QString log;             // "" none
    QString lineStore;       // --store: the line's PostgreSQL; "" none
    MetricsTargets metrics;  // --metrics, --metrics-file
    int detectTimeoutMs = 0; // 0: for ever
    ImageReading reading = ImageReading::anyFormatUpTo(defaultLargestImage);
    QString image; // as given; "" none
    // A signed production job (--job), approved before any port is opened; none without one.
    std::optional<Approval> approval;
    // Why the job given, or a station's requirement of one, is refused, where the program says
    // it itself (the bench: in its window, no shift); otherwise a refusal of the reader.
    QString jobProblem;
};

enum class StationProgram { CommandLine, Bench };

// How long a board's bootloader may take to answer unless --detect-timeout says otherwise.
constexpr int defaultDetectTimeoutMs = 60000;

// Describes the options to `parser`, in each program's words where they differ.
void addStationOptions(QCommandLineParser &parser, StationProgram program);
// Reads them from `parser`, parsed already; false with one line saying why. `outputs` are the
// program's other files to write, as {option, name} (vantyx-flash's --json), told apart from
// these as these are from each other.
// A job refused is said as the reader's refusal, or kept in `jobProblem` for the program.
enum class JobRefusal { Refuse, Keep };
bool readStationOptions(const QCommandLineParser &parser, StationOptions *options, QString *error,
                        const QList<std::pair<QString, QString>> &outputs = {},
                        JobRefusal jobRefusal = JobRefusal::Refuse);
// Why the image read is not the job's (its size and SHA-256 as a file); empty when it is, or
// without a job.
QString jobImageProblem(const StationOptions &options, const ImageRecord &image);
