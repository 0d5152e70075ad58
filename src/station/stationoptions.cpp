#include "station/stationoptions.h"

#include "core/files/filenames.h"
#include "core/serial/portname.h"
#include "core/serial/remoteport.h"
#include "engine/flash/slotfile.h"
#include "engine/link/portlinks.h"
#include "store/linestore.h"

#include <QCommandLineParser>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QHash>
#include <QRegularExpression>
#include <QSqlDatabase>

#include <algorithm>
#include <cmath>

namespace {

QString option(const char *name)
{
    return QString::fromLatin1(name);
}

bool hasControl(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

// "16M", "512K", "65536", "2MiB": bytes; 0 when it is no size.
qint64 sizeOf(const QString &text)
{
    static const QRegularExpression pattern(
        QStringLiteral("^\\s*(\\d{1,10})\\s*(k|kib|m|mib)?\\s*$"),
        QRegularExpression::CaseInsensitiveOption);
    const QRegularExpressionMatch match = pattern.match(text);
    if (!match.hasMatch())
        return 0;
    const qint64 number = match.captured(1).toLongLong();
    const QString unit = match.captured(2).toLower();
    return unit.startsWith(QLatin1Char('m'))   ? number << 20
           : unit.startsWith(QLatin1Char('k')) ? number << 10
                                               : number;
}

// The files a station reads and writes, by option, for telling them apart.
struct NamedFile
{
    QString option;
    QString name;
    QString what; // for an input: "the image", "the slot file"
};

// Why one of `outputs` would be one of `inputs`, or another output, under another name.
QString sameFileProblem(const QList<NamedFile> &inputs, const QList<NamedFile> &outputs)
{
    for (qsizetype i = 0; i < outputs.size(); ++i) {
        const NamedFile &output = outputs.at(i);
        for (const NamedFile &input : inputs)
            if (files::sameFile(output.name, input.name))
                return QStringLiteral("%1 would overwrite %2 %3")
                    .arg(output.option, input.what, input.name);
        for (qsizetype j = 0; j < i; ++j)
            if (files::sameFile(output.name, outputs.at(j).name))
                return QStringLiteral("%1 and %2 name the same file")
                    .arg(outputs.at(j).option, output.option);
    }
    return QString();
}

QString sha256Of(const QString &path)
{
    QFile file(path);
    QCryptographicHash hash(QCryptographicHash::Sha256);
    return file.open(QIODevice::ReadOnly) && hash.addData(&file)
               ? QString::fromLatin1(hash.result().toHex())
               : QString();
}

// --job, --trust, --allow-older and the slot file's job settings: the job approved, and what it
// fixes taken over the command line's (or refused where they differ).
bool readJobOptions(const QCommandLineParser &parser, StationOptions *options,
                    QList<NamedFile> *inputs, QString *error)
{
    const auto refuse = [error](const QString &why) {
        *error = why;
        return false;
    };
    Station &station = options->station;
    const bool given = parser.isSet(option("job"));
    if (!given) {
        if (station.requireJob)
            return refuse(QStringLiteral("this station runs signed jobs only (require-job in %1): "
                                         "give --job FILE")
                              .arg(options->slotsFile));
        if (parser.isSet(option("allow-older")))
            return refuse(QStringLiteral("--allow-older goes with --job"));
        return true;
    }
    JobRequest request;
    request.jobFile = parser.value(option("job"));
    request.allowOlder = parser.isSet(option("allow-older"));
    request.stateFolder = jobStateFolder();
    request.trustFile = parser.value(option("trust"));
    if (request.trustFile.isEmpty() && !station.trustedKeys.isEmpty()) // beside the slot file
        request.trustFile = QFileInfo(options->slotsFile).dir().filePath(station.trustedKeys);
    options->approval = approveJob(request, error);
    if (!options->approval)
        return false;
    const Job &job = options->approval->job;
    if (options->image.isEmpty())
        options->image = options->approval->imagePath;
    if (!job.usb.isEmpty()) {
        QStringList taken = station.adapters, fixed = job.usb;
        taken.sort();
        fixed.sort();
        if (!taken.isEmpty() && taken != fixed)
            return refuse(QStringLiteral("the job %1 fixes the adapters to %2")
                              .arg(job.name, job.usb.join(QStringLiteral(", "))));
        station.adapters = job.usb;
    }
    if (!job.tag.isEmpty()) {
        if (!options->tag.isEmpty() && options->tag != job.tag)
            return refuse(QStringLiteral("the job %1 fixes the tag to %2").arg(job.name, job.tag));
        options->tag = job.tag;
    }
    if (!job.slotsSha256.isEmpty() &&
        (options->slotsFile.isEmpty() || sha256Of(options->slotsFile) != job.slotsSha256))
        return refuse(QStringLiteral("the job %1 runs with the slot file whose SHA-256 is %2; "
                                     "give it with --slots")
                          .arg(job.name, job.slotsSha256));
    *inputs << NamedFile{QString(), request.jobFile, QStringLiteral("the job")};
    return true;
}

} // namespace

QString jobImageProblem(const StationOptions &options, const ImageRecord &image)
{
    if (!options.approval)
        return QString();
    return imageProblem(*options.approval, QFileInfo(image.path).size(),
                        image.fileSha256.isEmpty() ? image.sha256 : image.fileSha256);
}

void addStationOptions(QCommandLineParser &parser, StationProgram program)
{
    const bool bench = program == StationProgram::Bench;
    parser.addOptions({
        {option("port"),
         bench ? QStringLiteral("A port to take besides the USB serial ports the system lists (a "
                                "pseudo-terminal, rfc2217://HOST:PORT, socket://HOST:PORT); give "
                                "it once for each port. Ports on other machines are flashed by "
                                "hand.")
               : QStringLiteral("A serial port to flash; give it once for each port. A port on "
                                "another machine, served by ser2net or the like: "
                                "rfc2217://HOST:PORT (telnet with the COM-PORT-OPTION) or "
                                "socket://HOST:PORT (raw TCP, the line set by the server)."),
         QStringLiteral("name")},
        {option("log"),
         bench ? QStringLiteral("Append each board's record to this file (JSON Lines, as "
                                "vantyx-flash --log), instead of a file a day in the user's data "
                                "folder.")
               : QStringLiteral("Append a line of JSON to this file as each board finishes, on "
                                "the disk as soon as it ends: when and where, the image's "
                                "SHA-256, the result. For a shift of --watch."),
         QStringLiteral("file")},
        {option("detect-timeout"),
         QStringLiteral("Seconds a board's bootloader may take to answer once its port is open "
                        "(default %1); 0 waits for ever.")
             .arg(defaultDetectTimeoutMs / 1000),
         QStringLiteral("seconds")},
        {option("max-image-size"),
         QStringLiteral("The largest image sent, as 16M, 512K or bytes (default %1): a HEX or "
                        "S-record file whose data spans more, or a larger file, is refused.")
             .arg(QStringLiteral("%1M").arg(defaultLargestImage >> 20)),
         QStringLiteral("size")},
        {option("slots"),
         bench ? QStringLiteral("The bench's slot file (as Name slots writes it): each slot's "
                                "name and its port, and the adapters taken. A port no slot names "
                                "is shown unassigned and flashed only by hand.")
               : QStringLiteral("The bench's slot file: each slot's name and its port (on Linux "
                                "its /dev/serial/by-path name), and the adapters it takes. Its "
                                "ports are flashed as --port ones; with --all or --watch, a "
                                "listed port no slot names is said unassigned and not flashed."),
         QStringLiteral("file")},
        {option("usb"),
         bench ? QStringLiteral("Take only ports of this USB adapter (hex VID:PID); give it once "
                                "for each kind. Others are shown greyed and never opened.")
               : QStringLiteral("Take only listed ports of this USB adapter (hex VID:PID, as "
                                "--list says); give it once for each kind. Other listed ports "
                                "are never opened."),
         QStringLiteral("vid:pid")},
        {option("tag"),
         QStringLiteral("A batch, a work order or an operator: into every record%1.")
             .arg(bench ? QString() : QStringLiteral(" and the report")),
         QStringLiteral("text")},
        {option("metrics"),
         QStringLiteral("Serve the %1's metrics at http://HOST:PORT/metrics in Prometheus' text "
                        "format (HOST 127.0.0.1 unless given).")
             .arg(bench ? QStringLiteral("shift") : QStringLiteral("run")),
         QStringLiteral("[host:]port")},
        {option("metrics-file"),
         QStringLiteral("Write the same metrics to this file, replaced whole after each board "
                        "(for node_exporter's textfile collector)."),
         QStringLiteral("file")},
        {option("store"),
         QStringLiteral("Forward every record to the line's store, PostgreSQL at "
                        "postgresql://USER@HOST:PORT/DATABASE, from the station's own (an SQLite "
                        "file beside the daily records): a server away is caught up with later."),
         QStringLiteral("url")},
        {option("job"),
         QStringLiteral("Run a production job (vantyx-job new): only once its signature "
                        "(FILE.minisig) is a trusted key's, with its image, at most its count "
                        "of boards. The image is the job's, beside it."),
         QStringLiteral("file")},
        {option("trust"),
         QStringLiteral("The public keys jobs are checked against (minisign .pub files, or a key "
                        "a line); or trusted-keys = FILE in the slot file's [station]."),
         QStringLiteral("file")},
        {option("allow-older"),
         QStringLiteral("Run a job of a lower version than this station ran (said in every "
                        "record).")},
    });
    parser.addPositionalArgument(QStringLiteral("image"),
                                 QStringLiteral("The firmware image: raw bytes (.bin), Intel HEX "
                                                "or S-record, found by its content."));
}

bool readStationOptions(const QCommandLineParser &parser, StationOptions *options, QString *error,
                        const QList<std::pair<QString, QString>> &outputs, JobRefusal jobRefusal)
{
    const auto refuse = [error](const QString &why) {
        *error = why;
        return false;
    };
    const QStringList positional = parser.positionalArguments();
    if (positional.size() > 1)
        return refuse(QStringLiteral("one image only; unexpected: ") + positional.at(1));
    options->image = positional.value(0);

    double seconds = defaultDetectTimeoutMs / 1000.0;
    if (parser.isSet(option("detect-timeout"))) {
        bool ok = false;
        seconds = parser.value(option("detect-timeout")).toDouble(&ok);
        // Not a number, infinite, or so small that it would round to 0 (for ever).
        if (!ok || !std::isfinite(seconds) || seconds < 0 || seconds > 86400 ||
            (seconds > 0 && std::lround(seconds * 1000) == 0))
            return refuse(
                QStringLiteral("--detect-timeout takes seconds, from 0 (for ever) to 86400"));
    }
    options->detectTimeoutMs = int(std::lround(seconds * 1000));

    if (parser.isSet(option("max-image-size"))) {
        constexpr qint64 largest = qint64(2047) << 20;
        const qint64 size = sizeOf(parser.value(option("max-image-size")));
        if (size < 256 || size > largest)
            return refuse(QStringLiteral("--max-image-size takes a size from 256 bytes to 2047M, "
                                         "as 16M, 512K or 65536"));
        options->reading.largest = size;
    }

    QList<NamedFile> inputs;
    if (!options->image.isEmpty())
        inputs << NamedFile{QString(), options->image, QStringLiteral("the image")};
    if (parser.isSet(option("slots"))) {
        options->slotsFile = parser.value(option("slots"));
        if (options->slotsFile.isEmpty())
            return refuse(QStringLiteral("--slots takes a file name"));
        const QString problem = files::readSourceProblem(option("--slots"), options->slotsFile);
        if (!problem.isEmpty())
            return refuse(problem);
        const std::optional<Station> station = slotfile::read(options->slotsFile, error);
        if (!station)
            return false;
        if (!station->hasSlots())
            return refuse(QStringLiteral("%1 names no slots").arg(options->slotsFile));
        options->station = *station;
        inputs << NamedFile{QString(), options->slotsFile, QStringLiteral("the slot file")};
    }
    const QStringList adapters = parser.values(option("usb"));
    for (const QString &adapter : adapters) {
        if (!slotfile::isUsbId(adapter))
            return refuse(
                QStringLiteral("--usb takes VID:PID in hex, as 0403:6001; not %1").arg(adapter));
        if (!options->station.adapters.contains(adapter.toLower()))
            options->station.adapters << adapter.toLower();
    }
    options->tag = parser.value(option("tag"));
    if (parser.isSet(option("tag")) && options->tag.trimmed().isEmpty())
        return refuse(QStringLiteral("--tag takes a text"));
    // A tag reaches terminals and windows: no escape sequence rides in on it.
    if (hasControl(options->tag))
        return refuse(QStringLiteral("--tag takes a text without control characters"));

    if (!readJobOptions(parser, options, &inputs, error)) {
        if (jobRefusal == JobRefusal::Refuse)
            return false;
        options->jobProblem = *error;
        error->clear();
    }

    if (parser.isSet(option("store"))) {
        options->lineStore = parser.value(option("store"));
        if (!LineStoreUrl::parse(options->lineStore, error))
            return refuse(QStringLiteral("--store: ") + *error);
        if (!QSqlDatabase::isDriverAvailable(QStringLiteral("QPSQL")) ||
            !QSqlDatabase::isDriverAvailable(QStringLiteral("QSQLITE")))
            return refuse(QStringLiteral("--store: this build has no database driver"));
    }

    options->metrics.listen = parser.value(option("metrics"));
    if (parser.isSet(option("metrics"))) {
        QString host;
        quint16 port = 0;
        if (!parseMetricsAddress(options->metrics.listen, &host, &port, error))
            return refuse(QStringLiteral("--metrics: ") + *error);
    }

    // What the program writes: each a file it may write, none of them another, or an input.
    QList<NamedFile> written;
    const std::pair<const char *, QString *> outputOptions[] = {
        {"log", &options->log}, {"metrics-file", &options->metrics.file}};
    for (const auto &[name, value] : outputOptions) {
        *value = parser.value(option(name));
        if (!parser.isSet(option(name)))
            continue;
        const QString shown = QStringLiteral("--") + option(name);
        if (value->isEmpty())
            return refuse(QStringLiteral("%1 takes a file name").arg(shown));
        const QString problem = files::writeTargetProblem(shown, *value);
        if (!problem.isEmpty())
            return refuse(problem);
        written << NamedFile{shown, *value, QString()};
    }
    for (const auto &[shown, name] : outputs)
        written << NamedFile{shown, name, QString()};
    const QString same = sameFileProblem(inputs, written);
    if (!same.isEmpty())
        return refuse(same);

    options->ports = parser.values(option("port"));
    QHash<QString, QString> seen; // one job per port: two would fight over it
    for (const QString &port : std::as_const(options->ports)) {
        if (port.isEmpty())
            return refuse(QStringLiteral("--port takes a port name"));
        if (hasControl(port))
            return refuse(QStringLiteral("--port takes a port name without control characters"));
        if (RemotePort::isRemote(port)) {
            QString why;
            if (!RemotePort::parse(port, &why))
                return refuse(QStringLiteral("--port %1: %2").arg(port, why));
            if (!reachesRemotePorts())
                return refuse(
                    QStringLiteral("--port %1: this build has no network ports").arg(port));
        }
        // Named twice, or two names of one port.
        const QString other = seen.value(portKey(port));
        if (!other.isEmpty())
            return refuse(other == port
                              ? QStringLiteral("port %1 named twice").arg(port)
                              : QStringLiteral("%1 and %2 are the same port").arg(other, port));
        seen.insert(portKey(port), port);
    }
    return true;
}
