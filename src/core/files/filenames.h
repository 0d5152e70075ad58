#pragma once

#include <QString>

#include <filesystem>

// Files named by the operator, told apart by what they are, not by how they are spelt: a hard
// link, a symbolic link (one to nothing yet too), "./x", "a/../x" and an absolute path to x are
// one file, made or not.
namespace files {

// The system's path for a name given as text: through UTF-16, so that names outside ASCII open
// on Windows too.
std::filesystem::path pathOf(const QString &name);
// Where `name` comes to, whether or not it exists yet: its folder resolved (links, "..", the
// current folder), then the name itself, followed while it is a symbolic link.
std::filesystem::path resolved(const QString &name);
// Whether two names are one file: by its identity where both exist, else by where each comes to.
bool sameFile(const QString &a, const QString &b);

enum class Kind { Missing, File, Folder, Pipe, Device };
// What `name` is, its links followed.
Kind kindOf(const QString &name);

// Why `name` cannot be a file a program writes, said for `option`; empty when it can: a folder,
// a pipe (opening one nobody reads waits for ever), a missing folder, no permission. A device
// (a terminal, /dev/null) may be written.
QString writeTargetProblem(const QString &option, const QString &name);
// Why `name` cannot be read as the file of `option`; empty when it can: missing, a folder, a
// pipe or a device (opening a pipe nobody writes waits for ever), not readable.
QString readSourceProblem(const QString &option, const QString &name);

// Two paths of this system compared as it compares them: case and all on Unix, without case on
// Windows (filenames_unix.cpp, filenames_win.cpp).
bool samePath(const std::filesystem::path &a, const std::filesystem::path &b);

} // namespace files
