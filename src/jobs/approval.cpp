#include "jobs/approval.h"

#include "core/files/filelock.h"
#include "core/files/filenames.h"
#include "core/files/replacedfile.h"
#include "jobs/signature.h"

#include <QCryptographicHash>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStandardPaths>

namespace {

QString versionsFile(const QString &folder)
{
    return QDir(folder).filePath(QStringLiteral("versions"));
}

// "name = version" a line.
QHash<QString, int> readVersions(const QString &folder)
{
    QHash<QString, int> versions;
    QFile file(versionsFile(folder));
    if (!file.open(QIODevice::ReadOnly))
        return versions;
    for (const QByteArray &line : file.readAll().split('\n')) {
        const qsizetype equals = line.indexOf('=');
        if (equals > 0)
            versions.insert(QString::fromUtf8(line.left(equals).trimmed()),
                            line.mid(equals + 1).trimmed().toInt());
    }
    return versions;
}

} // namespace

JobStamp Approval::stamp() const
{
    return JobStamp{job.name, job.version, jobSha256, keyId, allowOlder};
}

QString jobStateFolder()
{
    return QDir(QStandardPaths::writableLocation(QStandardPaths::GenericDataLocation))
        .filePath(QStringLiteral("Brivox/vantyx-jobs"));
}

int highestVersion(const QString &stateFolder, const QString &name)
{
    return readVersions(stateFolder).value(name);
}

std::optional<Approval> approveJob(const JobRequest &request, QString *why)
{
    auto refuse = [why](const QString &reason) {
        *why = reason;
        return std::nullopt;
    };
    if (!signature::available())
        return refuse(QStringLiteral("this build cannot check signatures"));
    QString problem = files::readSourceProblem(QStringLiteral("--job"), request.jobFile);
    if (!problem.isEmpty())
        return refuse(problem);
    QFile jobFile(request.jobFile);
    if (!jobFile.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("--job %1: %2").arg(request.jobFile, jobFile.errorString()));
    const QByteArray bytes = jobFile.read(64 * 1024 + 1);
    const std::optional<Job> job = jobfile::parse(bytes, &problem);
    if (!job)
        return refuse(QStringLiteral("%1:%2").arg(request.jobFile, problem));

    // Signed, by a key the station trusts, the trusted comment too.
    const QString signatureFile = request.jobFile + QStringLiteral(".minisig");
    if (files::kindOf(signatureFile) == files::Kind::Missing)
        return refuse(
            QStringLiteral("%1 is not signed: no %2").arg(request.jobFile, signatureFile));
    problem = files::readSourceProblem(QStringLiteral("the signature"), signatureFile);
    if (!problem.isEmpty())
        return refuse(problem);
    QFile signedBy(signatureFile);
    if (!signedBy.open(QIODevice::ReadOnly))
        return refuse(QStringLiteral("%1: %2").arg(signatureFile, signedBy.errorString()));
    const std::optional<signature::Signature> signature =
        signature::parseSignature(signedBy.read(64 * 1024 + 1), &problem);
    if (!signature)
        return refuse(QStringLiteral("%1: %2").arg(signatureFile, problem));
    if (request.trustFile.isEmpty())
        return refuse(QStringLiteral("no trusted keys to check %1 against: give --trust FILE, "
                                     "or trusted-keys = FILE in the slot file's [station]")
                          .arg(request.jobFile));
    const std::optional<QList<signature::PublicKey>> keys =
        signature::readTrustedKeys(request.trustFile, &problem);
    if (!keys)
        return refuse(problem);
    const signature::PublicKey *signer = nullptr;
    for (const signature::PublicKey &key : *keys)
        if (key.keyId == signature->keyId)
            signer = &key;
    if (!signer)
        return refuse(QStringLiteral("%1 is signed by key %2, which %3 does not hold")
                          .arg(request.jobFile, signature->keyIdText(), request.trustFile));
    if (!signature::verify(bytes, *signature, *signer, &problem))
        return refuse(QStringLiteral("%1: %2").arg(request.jobFile, problem));

    if (job->expires.isValid() && QDate::currentDate() > job->expires)
        return refuse(QStringLiteral("the job %1 expired on %2")
                          .arg(job->name, job->expires.toString(Qt::ISODate)));
    const int highest = highestVersion(request.stateFolder, job->name);
    if (job->version < highest && !request.allowOlder)
        return refuse(QStringLiteral("the job %1 is version %2; this station ran version %3 of "
                                     "it (--allow-older runs an older one)")
                          .arg(job->name)
                          .arg(job->version)
                          .arg(highest));
    Approval approval;
    approval.job = *job;
    approval.jobFile = request.jobFile;
    approval.jobSha256 =
        QString::fromLatin1(QCryptographicHash::hash(bytes, QCryptographicHash::Sha256).toHex());
    approval.keyId = signature->keyIdText();
    approval.trustedComment = signature->trustedComment;
    approval.imagePath = QFileInfo(request.jobFile).dir().filePath(job->image);
    approval.allowOlder = request.allowOlder && job->version < highest;
    return approval;
}

QString imageProblem(const Approval &approval, qint64 fileSize, const QString &fileSha256)
{
    if (fileSize == approval.job.imageSize && fileSha256 == approval.job.imageSha256)
        return QString();
    return QStringLiteral("the image is not the job's: %1 bytes, SHA-256 %2; the job %3 approves "
                          "%4 bytes, SHA-256 %5")
        .arg(fileSize)
        .arg(fileSha256, approval.job.name)
        .arg(approval.job.imageSize)
        .arg(approval.job.imageSha256);
}

bool rememberVersion(const QString &stateFolder, const Approval &approval, QString *why)
{
    if (!QDir().mkpath(stateFolder)) {
        *why = QStringLiteral("cannot make the folder %1").arg(stateFolder);
        return false;
    }
    const files::FileLock lock(versionsFile(stateFolder) + QStringLiteral(".lock"));
    QHash<QString, int> versions = readVersions(stateFolder);
    if (versions.value(approval.job.name) >= approval.job.version)
        return true;
    versions.insert(approval.job.name, approval.job.version);
    QByteArray text;
    QStringList names = versions.keys();
    names.sort();
    for (const QString &name : std::as_const(names))
        text += name.toUtf8() + " = " + QByteArray::number(versions.value(name)) + '\n';
    return files::replaceWhole(versionsFile(stateFolder), text, why);
}
