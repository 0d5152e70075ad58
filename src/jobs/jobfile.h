#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <QStringList>

#include <optional>

// A production job: what a line's owner approves a station to flash, and how many boards, in
// a small text file signed with minisign. The signature guards the station, not the device:
// the right image, the approved count, every record tied to the approval.
//
//   # Line B's controller, approved by Kim
//   [job]
//   name = line-b-controller
//   version = 7
//   image = controller-2.4.1.hex
//   image-size = 183412
//   image-sha256 = 3f1c...
//   expires = 2027-03-31          (optional)
//   count = 500                   (optional: at most this many boards end ok)
//   [station]                     (optional: what the job fixes)
//   usb = 0403:6001, 10c4:ea60
//   slots-sha256 = 9a0b...
//   tag = WO-1742
struct Job
{
    QString name;
    int version = 0;
    QString image; // the file's name, beside the job file
    qint64 imageSize = 0;
    QString imageSha256; // of the file as it is on the disk, lower-case hex
    QDate expires;       // invalid: none; the job runs through that day
    int count = 0;       // 0: no limit
    QStringList usb;     // "vvvv:pppp"; none: the station's own
    QString slotsSha256; // "" none
    QString tag;         // "" none

    bool operator==(const Job &other) const;
};

namespace jobfile {

// The job `text` says; none, with "LINE: why", when it is not one.
std::optional<Job> parse(const QByteArray &text, QString *why);
QByteArray format(const Job &job);
// A job's name: letters, digits, '.', '-' and '_', as a file name can hold it.
bool isName(const QString &name);

} // namespace jobfile
