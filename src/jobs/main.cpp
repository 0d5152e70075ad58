// vantyx-job: writes a production job for an image, to be signed with minisign, and shows a
// job with its signature's state.

#include "jobs/approval.h"
#include "jobs/jobfile.h"
#include "jobs/signature.h"

#include "core/files/filenames.h"
#include "core/files/replacedfile.h"
#include "core/terminal/terminal.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <cstdio>

namespace {

const char description[] =
    "Writes a production job for a firmware image: a station runs it only once it is signed\n"
    "(minisign -Sm FILE) by a key the station trusts, and flashes at most its count of boards.\n"
    "\n"
    "  vantyx-job new firmware.hex --name line-b --job-version 7 --count 500\n"
    "  minisign -Sm line-b.vjob -t \"approved by Kim for WO-1742\"\n"
    "  vantyx-job show line-b.vjob --trust line-b.pub\n"
    "\n"
    "Exit status: 0 done (show: signed by a trusted key), 1 show: not signed, or not by a\n"
    "trusted key, 2 bad usage, 3 the image or the job cannot be read or written.\n";

int usage(const QString &why)
{
    return terminal::complainOfUsage(why);
}

int cannot(const QString &why)
{
    return terminal::complain(why, 3);
}

int newJob(const QCommandLineParser &parser, const QString &image)
{
    Job job;
    job.name = parser.value(QStringLiteral("name"));
    if (!jobfile::isName(job.name))
        return usage(QStringLiteral("--name takes a name of letters, digits, '.', '-' and '_'"));
    bool ok = false;
    job.version = parser.value(QStringLiteral("job-version")).toInt(&ok);
    if (!ok || job.version < 1)
        return usage(QStringLiteral("--job-version takes a whole number from 1"));
    if (parser.isSet(QStringLiteral("expires"))) {
        job.expires = QDate::fromString(parser.value(QStringLiteral("expires")), Qt::ISODate);
        if (!job.expires.isValid())
            return usage(QStringLiteral("--expires takes a date, as 2027-03-31"));
    }
    if (parser.isSet(QStringLiteral("count"))) {
        job.count = parser.value(QStringLiteral("count")).toInt(&ok);
        if (!ok || job.count < 1)
            return usage(QStringLiteral("--count takes a number of boards from 1"));
    }
    job.usb = parser.values(QStringLiteral("usb"));
    job.tag = parser.value(QStringLiteral("tag"));
    QString problem = files::readSourceProblem(QStringLiteral("the image"), image);
    if (!problem.isEmpty())
        return cannot(problem);
    QFile file(image);
    if (!file.open(QIODevice::ReadOnly))
        return cannot(QStringLiteral("%1: %2").arg(image, file.errorString()));
    QCryptographicHash hash(QCryptographicHash::Sha256);
    if (!hash.addData(&file))
        return cannot(QStringLiteral("%1 cannot be read").arg(image));
    job.image = QFileInfo(image).fileName();
    job.imageSize = file.size();
    job.imageSha256 = QString::fromLatin1(hash.result().toHex());
    if (parser.isSet(QStringLiteral("slots"))) {
        QFile slotFile(parser.value(QStringLiteral("slots")));
        if (!slotFile.open(QIODevice::ReadOnly))
            return cannot(
                QStringLiteral("%1: %2").arg(slotFile.fileName(), slotFile.errorString()));
        job.slotsSha256 = QString::fromLatin1(
            QCryptographicHash::hash(slotFile.readAll(), QCryptographicHash::Sha256).toHex());
    }
    // Checked as a station reads it, before it is written.
    const QByteArray text = jobfile::format(job);
    if (!jobfile::parse(text, &problem))
        return usage(problem.section(QStringLiteral(": "), 1));
    // Beside its image: the job names the image by its file name alone.
    const QString output =
        parser.isSet(QStringLiteral("output"))
            ? parser.value(QStringLiteral("output"))
            : QFileInfo(image).dir().filePath(job.name + QStringLiteral(".vjob"));
    if (QFileInfo(output).absolutePath() != QFileInfo(image).absolutePath())
        return usage(QStringLiteral("the job goes beside its image, in %1")
                         .arg(QFileInfo(image).absolutePath()));
    problem = files::writeTargetProblem(QStringLiteral("--output"), output);
    if (problem.isEmpty() && !files::replaceWhole(output, text, &problem))
        problem = QStringLiteral("%1: %2").arg(output, problem);
    if (!problem.isEmpty())
        return cannot(problem);
    std::printf("%s\nSign it: minisign -Sm %s -t \"approved by ...\"\n", qPrintable(output),
                qPrintable(output));
    return 0;
}

int showJob(const QCommandLineParser &parser, const QString &path)
{
    QFile file(path);
    QString problem = files::readSourceProblem(QStringLiteral("the job"), path);
    if (!problem.isEmpty() || !file.open(QIODevice::ReadOnly))
        return cannot(problem.isEmpty() ? file.errorString() : problem);
    const QByteArray bytes = file.read(64 * 1024 + 1);
    const std::optional<Job> job = jobfile::parse(bytes, &problem);
    if (!job)
        return cannot(QStringLiteral("%1:%2").arg(path, problem));
    std::fputs(jobfile::format(*job).constData(), stdout);
    std::printf("# job file sha256 %s\n",
                QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex().constData());
    JobRequest request;
    request.jobFile = path;
    request.trustFile = parser.value(QStringLiteral("trust"));
    request.stateFolder = jobStateFolder();
    request.allowOlder = true; // the station's own memory is for running, not for showing
    QFile signedBy(path + QStringLiteral(".minisig"));
    if (!signedBy.open(QIODevice::ReadOnly)) {
        std::printf("# not signed: no %s\n", qPrintable(signedBy.fileName()));
        return 1;
    }
    const std::optional<signature::Signature> signature =
        signature::parseSignature(signedBy.readAll(), &problem);
    if (!signature) {
        std::printf("# signature: %s\n", qPrintable(problem));
        return 1;
    }
    std::printf("# signed by key %s, %s form; trusted comment: %s\n",
                qPrintable(signature->keyIdText()), signature->prehashed ? "prehashed" : "legacy",
                qPrintable(signature->trustedComment));
    if (request.trustFile.isEmpty()) {
        std::printf("# give --trust KEYS to check it\n");
        return 1;
    }
    const std::optional<Approval> approval = approveJob(request, &problem);
    if (!approval) {
        std::printf("# not approved: %s\n", qPrintable(problem));
        return 1;
    }
    std::printf("# approved: the signature is good, by a key of %s\n",
                qPrintable(request.trustFile));
    return 0;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("vantyx-job"));
    QCoreApplication::setApplicationVersion(QStringLiteral(FLASHLOADER_VERSION));
    QCommandLineParser parser;
    parser.setApplicationDescription(QString::fromLatin1(description));
    parser.addHelpOption();
    parser.addVersionOption();
    parser.addOptions({
        {QStringLiteral("name"), QStringLiteral("new: the job's name (letters, digits, . - _)."),
         QStringLiteral("name")},
        {QStringLiteral("job-version"),
         QStringLiteral("new: the job's version, a whole number that only grows: a station "
                        "refuses a version lower than one it ran."),
         QStringLiteral("n")},
        {QStringLiteral("expires"), QStringLiteral("new: the last day the job runs (2027-03-31)."),
         QStringLiteral("date")},
        {QStringLiteral("count"),
         QStringLiteral("new: at most this many boards end ok under the job on a station."),
         QStringLiteral("boards")},
        {QStringLiteral("usb"),
         QStringLiteral("new: the adapters the job's stations take (VID:PID); once for each."),
         QStringLiteral("vid:pid")},
        {QStringLiteral("slots"),
         QStringLiteral("new: the slot file the job's stations run with, by its SHA-256."),
         QStringLiteral("file")},
        {QStringLiteral("tag"), QStringLiteral("new: the tag every record of the job carries."),
         QStringLiteral("text")},
        {QStringLiteral("output"),
         QStringLiteral("new: the job file, beside the image (default NAME.vjob there)."),
         QStringLiteral("file")},
        {QStringLiteral("trust"),
         QStringLiteral("show: the public keys to check the signature against."),
         QStringLiteral("file")},
    });
    parser.addPositionalArgument(QStringLiteral("command"),
                                 QStringLiteral("new IMAGE, or show JOB"));
    if (!parser.parse(QCoreApplication::arguments()))
        return usage(parser.errorText());
    if (parser.isSet(QStringLiteral("help"))) {
        std::fputs(qPrintable(parser.helpText()), stdout);
        return 0;
    }
    if (parser.isSet(QStringLiteral("version"))) {
        std::printf("vantyx-job %s\n", FLASHLOADER_VERSION);
        return 0;
    }
    const QStringList arguments = parser.positionalArguments();
    if (arguments.size() != 2)
        return usage(QStringLiteral("give new IMAGE or show JOB"));
    if (arguments.at(0) == QStringLiteral("new"))
        return newJob(parser, arguments.at(1));
    if (arguments.at(0) == QStringLiteral("show"))
        return showJob(parser, arguments.at(1));
    return usage(QStringLiteral("unknown command %1; there are new and show").arg(arguments.at(0)));
}
