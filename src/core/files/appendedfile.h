#pragma once

#include <QByteArray>
#include <QString>

namespace files {

// A file that grows by whole lines, each on the disk before append() returns: a record log. A
// line is appended whole or not at all (a write that fails is cut back off), and a file whose
// last line was left partial by an earlier failure (a full disk, a power cut) has that line
// ended first, so that no record is ever glued to half of another (appendedfile_unix.cpp,
// appendedfile_win.cpp).
class AppendedFile
{
public:
    AppendedFile() = default;
    ~AppendedFile();
    AppendedFile(const AppendedFile &) = delete;
    AppendedFile &operator=(const AppendedFile &) = delete;

    // Opens `name` for appending, made when missing; false with the system's reason.
    bool open(const QString &name, QString *why);
    void close();
    bool isOpen() const { return m_fd >= 0; }
    QString name() const { return m_name; }
    // Appends `line` (ending in a line break) and syncs it; false with the system's reason.
    bool append(const QByteArray &line, QString *why);
    // How many partial lines were ended with a line break since open(); the front ends say so.
    int partialLinesEnded() const { return m_partialLinesEnded; }

private:
    // Ends a partial last line of a file, if it has one; false when that write failed.
    bool endPartialLine(QString *why);

    int m_fd = -1;
    QString m_name;
    bool m_regular = false; // a file, not a device: its end can be read and cut back
    bool m_mayBePartial = false;
    int m_partialLinesEnded = 0;
};

} // namespace files
