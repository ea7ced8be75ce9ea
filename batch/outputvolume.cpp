#include "outputvolume.h"

#include "textbridge.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString OutputVolume::FolderPath(const QString& folderText)
{
    return folderText.isEmpty() ? QDir::currentPath() : folderText;
}

QString OutputVolume::NearestFolder(const QString& folderText)
{
    QString path = QDir::cleanPath(QFileInfo(FolderPath(folderText)).absoluteFilePath());
    for (;;) {
        const QFileInfo info(path);
        if (info.exists() || info.isSymLink())
            return info.isDir() ? path : QString();
        const QString parent = QFileInfo(path).path();
        if (parent == path)
            return QString();
        path = parent;
    }
}

std::optional<double> OutputVolume::FreeBytes(const QString& folder)
{
    const QString path = NearestFolder(folder);
    if (path.isEmpty())
        return std::nullopt;
    const QStorageInfo storage(path);
    if (!storage.isValid() || !storage.isReady())
        return std::nullopt;
    return static_cast<double>(storage.bytesAvailable());
}

namespace {

// Whether the folder refuses a new file of this name for its characters: made and removed
// again where it takes it. A folder the user may not write to says EACCES or EROFS, which
// says nothing of names.
bool RefusesName(const QString& folder, const QString& name)
{
    const QByteArray probe = QFile::encodeName(QDir(folder).filePath(name));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.constData());
        return false;
    }
    return errno == EINVAL || errno == EILSEQ || errno == EPERM;
}

} // namespace

bool OutputVolume::TakesOnlyAsciiNames(const QString& folder)
{
    const QString path = NearestFolder(folder);
    if (path.isEmpty())
        return false;
    const QString pid = QString::number(QCoreApplication::applicationPid());
    // Refused for its letters only when a plain name of the same length is taken there.
    return RefusesName(path, QStringLiteral(".vardune-names-%1-\u00e9\u00c9").arg(pid))
        && !RefusesName(path, QStringLiteral(".vardune-names-%1-eE").arg(pid));
}

vardune::BatchWalk::NameRules OutputVolume::NameRules(const QString& folder)
{
    vardune::BatchWalk::NameRules rules;
    rules.portable = TakesOnlyPortableNames(folder);
    rules.ascii = TakesOnlyAsciiNames(folder);
    const QString nearest = NearestFolder(folder);
    rules.maxBytes = vardune::BatchWalk::NameMax(TextBridge::FromQt(nearest.isEmpty() ? FolderPath(folder) : nearest));
    return rules;
}

std::optional<std::uint64_t> OutputVolume::Device(const QString& folder)
{
    struct stat st {};
    if (::stat(QFile::encodeName(FolderPath(folder)).constData(), &st) != 0 || !S_ISDIR(st.st_mode))
        return std::nullopt;
    return static_cast<std::uint64_t>(st.st_dev);
}

bool OutputVolume::TakesOnlyPortableNames(const QString& folder)
{
    const QString path = NearestFolder(folder);
    if (path.isEmpty())
        return false;
    // vfat, msdos, exfat, and their FUSE forms (fuse.fusefat, fuseblk.exfat...).
    const QByteArray type = QStorageInfo(path).fileSystemType().toLower();
    if (type.contains("fat"))
        return true;
    // Another file system may refuse them too (NTFS mounted for Windows names, a share, a
    // FUSE file system): ask the folder itself with a name holding every one of them.
    return RefusesName(path, QStringLiteral(".vardune-names-%1-\"*:<>?\\|").arg(QCoreApplication::applicationPid()));
}

std::string OutputVolume::FoldPath(const std::string& path)
{
    return FoldPath(path, [](const QString& folder) { return RealFolder(folder); });
}

std::string OutputVolume::FoldPath(const std::string& path, const std::function<QString(const QString&)>& realFolder)
{
    const QFileInfo file(TextBridge::ToQt(path));
    return TextBridge::FromQt((realFolder(file.path()) + QLatin1Char('/') + file.fileName()).toCaseFolded());
}

QString OutputVolume::RealFolder(const QString& folder)
{
    const QFileInfo info(folder);
    // The folder exists while a batch writes into it; one that has gone since is taken as
    // written, made absolute and tidied.
    QString canonical = info.canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(info.absoluteFilePath());
    return canonical;
}
