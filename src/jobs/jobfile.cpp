#include "jobs/jobfile.h"

#include <QRegularExpression>

#include <algorithm>

bool Job::operator==(const Job &other) const
{
    return name == other.name && version == other.version && image == other.image &&
           imageSize == other.imageSize && imageSha256 == other.imageSha256 &&
           expires == other.expires && count == other.count && usb == other.usb &&
           slotsSha256 == other.slotsSha256 && tag == other.tag;
}

namespace jobfile {

namespace {

bool isSha256(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{64}$"));
    return pattern.match(text).hasMatch();
}

bool isUsbId(const QString &text)
{
    static const QRegularExpression pattern(QStringLiteral("^[0-9a-f]{4}:[0-9a-f]{4}$"));
    return pattern.match(text).hasMatch();
}

bool hasControl(const QString &text)
{
    return std::any_of(text.cbegin(), text.cend(),
                       [](QChar c) { return c.category() == QChar::Other_Control; });
}

} // namespace

bool isName(const QString &name)
{
    static const QRegularExpression pattern(QStringLiteral("^[A-Za-z0-9._-]{1,64}$"));
    return pattern.match(name).hasMatch() && name != QStringLiteral(".") &&
           name != QStringLiteral("..");
}

std::optional<Job> parse(const QByteArray &text, QString *why)
{
    constexpr qsizetype largest = 64 * 1024; // a job is a dozen lines
    if (text.size() > largest) {
        *why = QStringLiteral("larger than a job file can be");
        return std::nullopt;
    }
    const QString content = QString::fromUtf8(text);
    if (content.toUtf8() != text) {
        *why = QStringLiteral("not UTF-8 text");
        return std::nullopt;
    }
    Job job;
    QString section;
    QStringList seen;
    const QStringList lines = content.split(QLatin1Char('\n'));
    for (int i = 0; i < lines.size(); ++i) {
        auto fail = [&](const QString &reason) {
            *why = QStringLiteral("%1: %2").arg(i + 1).arg(reason);
            return std::nullopt;
        };
        const QString line = lines.at(i).trimmed();
        if (line.isEmpty() || line.startsWith(QLatin1Char('#')))
            continue;
        if (hasControl(line))
            return fail(QStringLiteral("a control character"));
        if (line.startsWith(QLatin1Char('['))) {
            if (line != QStringLiteral("[job]") && line != QStringLiteral("[station]"))
                return fail(
                    QStringLiteral("unknown section %1; there are [job] and [station]").arg(line));
            section = line.mid(1, line.size() - 2);
            continue;
        }
        const qsizetype equals = line.indexOf(QLatin1Char('='));
        if (equals < 0)
            return fail(QStringLiteral("expected NAME = VALUE"));
        const QString key = line.left(equals).trimmed();
        const QString value = line.mid(equals + 1).trimmed();
        if (section.isEmpty())
            return fail(QStringLiteral("%1 is outside a section").arg(key));
        const QString where = section + QLatin1Char('.') + key;
        if (seen.contains(where))
            return fail(QStringLiteral("%1 is given twice").arg(key));
        seen << where;
        bool ok = true;
        if (where == QStringLiteral("job.name")) {
            if (!isName(value))
                return fail(QStringLiteral("name: letters, digits, '.', '-' and '_' only"));
            job.name = value;
        } else if (where == QStringLiteral("job.version")) {
            job.version = value.toInt(&ok);
            if (!ok || job.version < 1)
                return fail(QStringLiteral("version: a whole number from 1"));
        } else if (where == QStringLiteral("job.image")) {
            if (!isName(value))
                return fail(QStringLiteral("image: a file's name beside the job, no folder"));
            job.image = value;
        } else if (where == QStringLiteral("job.image-size")) {
            job.imageSize = value.toLongLong(&ok);
            if (!ok || job.imageSize < 1)
                return fail(QStringLiteral("image-size: a number of bytes"));
        } else if (where == QStringLiteral("job.image-sha256")) {
            if (!isSha256(value))
                return fail(QStringLiteral("image-sha256: 64 lower-case hex digits"));
            job.imageSha256 = value;
        } else if (where == QStringLiteral("job.expires")) {
            job.expires = QDate::fromString(value, Qt::ISODate);
            if (!job.expires.isValid())
                return fail(QStringLiteral("expires: a date, as 2027-03-31"));
        } else if (where == QStringLiteral("job.count")) {
            job.count = value.toInt(&ok);
            if (!ok || job.count < 1)
                return fail(QStringLiteral("count: a number of boards from 1"));
        } else if (where == QStringLiteral("station.usb")) {
            for (const QString &id : value.split(QLatin1Char(','), Qt::SkipEmptyParts)) {
                if (!isUsbId(id.trimmed().toLower()))
                    return fail(QStringLiteral("usb: %1 is not VID:PID").arg(id.trimmed()));
                job.usb << id.trimmed().toLower();
            }
        } else if (where == QStringLiteral("station.slots-sha256")) {
            if (!isSha256(value))
                return fail(QStringLiteral("slots-sha256: 64 lower-case hex digits"));
            job.slotsSha256 = value;
        } else if (where == QStringLiteral("station.tag")) {
            if (value.isEmpty())
                return fail(QStringLiteral("tag: a text"));
            job.tag = value;
        } else {
            return fail(QStringLiteral("unknown setting %1 in [%2]").arg(key, section));
        }
    }
    for (const auto &[given, key] : {std::pair<bool, const char *>{!job.name.isEmpty(), "name"},
                                     {job.version > 0, "version"},
                                     {!job.image.isEmpty(), "image"},
                                     {job.imageSize > 0, "image-size"},
                                     {!job.imageSha256.isEmpty(), "image-sha256"}})
        if (!given) {
            *why = QStringLiteral("no %1 in [job]").arg(QLatin1String(key));
            return std::nullopt;
        }
    return job;
}

QByteArray format(const Job &job)
{
    QString text = QStringLiteral("# A production job: valid once signed (minisign -Sm FILE).\n"
                                  "[job]\nname = %1\nversion = %2\nimage = %3\nimage-size = %4\n"
                                  "image-sha256 = %5\n")
                       .arg(job.name)
                       .arg(job.version)
                       .arg(job.image)
                       .arg(job.imageSize)
                       .arg(job.imageSha256);
    if (job.expires.isValid())
        text += QStringLiteral("expires = %1\n").arg(job.expires.toString(Qt::ISODate));
    if (job.count > 0)
        text += QStringLiteral("count = %1\n").arg(job.count);
    if (!job.usb.isEmpty() || !job.slotsSha256.isEmpty() || !job.tag.isEmpty()) {
        text += QStringLiteral("[station]\n");
        if (!job.usb.isEmpty())
            text += QStringLiteral("usb = %1\n").arg(job.usb.join(QStringLiteral(", ")));
        if (!job.slotsSha256.isEmpty())
            text += QStringLiteral("slots-sha256 = %1\n").arg(job.slotsSha256);
        if (!job.tag.isEmpty())
            text += QStringLiteral("tag = %1\n").arg(job.tag);
    }
    return text.toUtf8();
}

} // namespace jobfile
