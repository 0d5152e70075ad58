#include "core/files/filenames.h"

#include <QFileInfo>

namespace files {

std::filesystem::path pathOf(const QString &name)
{
    return std::filesystem::path(name.toStdU16String());
}

std::filesystem::path resolved(const QString &name)
{
    namespace fs = std::filesystem;
    std::error_code error;
    fs::path path = fs::absolute(pathOf(name), error);
    if (error)
        return pathOf(name).lexically_normal();
    // A link may point to a link: followed as the system would, as far as it would.
    for (int hops = 0; hops < 40; ++hops) {
        const fs::path leaf = path.filename();
        if (leaf.empty() || leaf == "." || leaf == "..")
            return fs::weakly_canonical(path, error).lexically_normal();
        const fs::path folder = fs::weakly_canonical(path.parent_path(), error);
        if (error)
            return path.lexically_normal();
        path = folder / leaf;
        if (!fs::is_symlink(fs::symlink_status(path, error)))
            break;
        const fs::path target = fs::read_symlink(path, error);
        if (error)
            break;
        path = target.is_absolute() ? target : folder / target;
    }
    return path.lexically_normal();
}

bool sameFile(const QString &a, const QString &b)
{
    std::error_code error;
    if (std::filesystem::equivalent(pathOf(a), pathOf(b), error))
        return true;
    return samePath(resolved(a), resolved(b));
}

Kind kindOf(const QString &name)
{
    std::error_code error;
    switch (std::filesystem::status(pathOf(name), error).type()) {
    case std::filesystem::file_type::not_found:
    case std::filesystem::file_type::none:
        return Kind::Missing;
    case std::filesystem::file_type::regular:
        return Kind::File;
    case std::filesystem::file_type::directory:
        return Kind::Folder;
    case std::filesystem::file_type::fifo:
    case std::filesystem::file_type::socket:
        return Kind::Pipe;
    default:
        return Kind::Device;
    }
}

QString writeTargetProblem(const QString &option, const QString &name)
{
    switch (kindOf(name)) {
    case Kind::Folder:
        return QStringLiteral("%1: %2 is a folder").arg(option, name);
    case Kind::Pipe:
        return QStringLiteral("%1: %2 is a pipe, not a file").arg(option, name);
    case Kind::Device:
        return QString();
    case Kind::File:
        return QFileInfo(name).isWritable()
                   ? QString()
                   : QStringLiteral("%1: %2 cannot be written").arg(option, name);
    case Kind::Missing:
        break;
    }
    // Made at the first write: its folder must be there as the system reads the name (a/../x
    // needs a), and take it.
    std::error_code error;
    const std::filesystem::path parent =
        std::filesystem::absolute(pathOf(name), error).parent_path();
    const QString folder = QString::fromStdU16String(parent.u16string());
    const QFileInfo where(folder);
    if (!std::filesystem::is_directory(parent, error))
        return QStringLiteral("%1: no folder %2").arg(option, folder);
    if (!where.isWritable())
        return QStringLiteral("%1: %2 cannot be written").arg(option, name);
    return QString();
}

QString readSourceProblem(const QString &option, const QString &name)
{
    switch (kindOf(name)) {
    case Kind::Missing:
        return QStringLiteral("%1: no such file %2").arg(option, name);
    case Kind::Folder:
        return QStringLiteral("%1: %2 is a folder").arg(option, name);
    case Kind::Pipe:
    case Kind::Device:
        return QStringLiteral("%1: %2 is a pipe or a device, not a file").arg(option, name);
    case Kind::File:
        break;
    }
    return QFileInfo(name).isReadable() ? QString()
                                        : QStringLiteral("%1: %2 cannot be read").arg(option, name);
}

} // namespace files
