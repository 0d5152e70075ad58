#include "core/image/imagefile.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <fcntl.h>

bool beingWritten(const std::filesystem::path &file)
{
    // Each process's open files, where the system shows them (Linux's /proc): one open for
    // writing on this file is a writer still at work. Looked at only while a change settles.
    std::error_code error;
    const std::filesystem::path target = std::filesystem::canonical(file, error);
    if (error)
        return false;
    const QString wanted = QString::fromStdString(target.string());
    const QStringList processes = QDir(QStringLiteral("/proc")).entryList(QDir::Dirs);
    for (const QString &pid : processes) {
        bool isPid = false;
        pid.toInt(&isPid);
        if (!isPid)
            continue;
        const QDir fds(QStringLiteral("/proc/%1/fd").arg(pid));
        const QStringList entries =
            fds.entryList(QDir::AllEntries | QDir::System | QDir::NoDotAndDotDot);
        for (const QString &fd : entries) {
            if (QFileInfo(fds.filePath(fd)).symLinkTarget() != wanted)
                continue;
            QFile info(QStringLiteral("/proc/%1/fdinfo/%2").arg(pid, fd));
            if (!info.open(QIODevice::ReadOnly))
                continue;
            for (const QByteArray &line : info.readAll().split('\n'))
                if (line.startsWith("flags:") &&
                    (line.mid(6).trimmed().toInt(nullptr, 8) & O_ACCMODE) != O_RDONLY)
                    return true;
        }
    }
    return false;
}
