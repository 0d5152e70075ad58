#pragma once

#include "jobs/jobfile.h"
#include "records/boardrecord.h"

#include <QString>

#include <optional>

// What a station was given to run a job, checked before any port is opened: the job's
// signature (FILE.minisig) by a key the station trusts, its trusted comment, its expiry, and its
// version against the highest this station ran of that job.
struct JobRequest
{
    QString jobFile;
    QString trustFile; // the keys the station trusts; "" none
    bool allowOlder = false;
    QString stateFolder; // where the station keeps its jobs' versions and counts
};

struct Approval
{
    Job job;
    QString jobFile;
    QString jobSha256; // of the job file's bytes
    QString keyId;     // the key that signed it, as minisign prints it
    QString trustedComment;
    QString imagePath; // the job's image, beside the job file
    bool allowOlder = false;

    JobStamp stamp() const;
};

// Where a station keeps its jobs' state unless told otherwise: the user's data folder.
QString jobStateFolder();

// The job, approved; none, with one line saying why.
std::optional<Approval> approveJob(const JobRequest &request, QString *why);
// Why the image file read for the job is not the job's; empty when it is.
QString imageProblem(const Approval &approval, qint64 fileSize, const QString &fileSha256);
// Remembers that this station ran the approval's version, as the highest of its job's; false
// with why when that cannot be written.
bool rememberVersion(const QString &stateFolder, const Approval &approval, QString *why);
// The highest version of `name` this station ran; 0 for none.
int highestVersion(const QString &stateFolder, const QString &name);
