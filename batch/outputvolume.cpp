#include "outputvolume.h"

#include "textbridge.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QStorageInfo>

#include <cerrno>

#include <fcntl.h>
#include <unistd.h>

QString OutputVolume::FolderPath(const QString& folderText)
{
    return folderText.isEmpty() ? QDir::currentPath() : folderText;
}

std::optional<double> OutputVolume::FreeBytes(const QString& folder)
{
    const QStorageInfo storage(FolderPath(folder));
    if (!storage.isValid() || !storage.isReady() || !QFileInfo(FolderPath(folder)).isDir())
        return std::nullopt;
    return static_cast<double>(storage.bytesAvailable());
}

bool OutputVolume::TakesOnlyPortableNames(const QString& folder)
{
    const QString path = FolderPath(folder);
    // vfat, msdos, exfat, and their FUSE forms (fuse.fusefat, fuseblk.exfat...).
    const QByteArray type = QStorageInfo(path).fileSystemType().toLower();
    if (type.contains("fat"))
        return true;
    // Another file system may refuse them too (NTFS mounted for Windows names, a share, a
    // FUSE file system): ask the folder itself with a name holding every one of them.
    const QByteArray probe = QFile::encodeName(QDir(path).filePath(
        QStringLiteral(".vardune-names-%1-\"*:<>?\\|").arg(QCoreApplication::applicationPid())));
    const int fd = ::open(probe.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0600);
    if (fd >= 0) {
        ::close(fd);
        ::unlink(probe.constData());
        return false;
    }
    // Refused for its name (a folder the user may not write to says EACCES or EROFS).
    return errno == EINVAL || errno == EILSEQ || errno == EPERM;
}

std::string OutputVolume::FoldPath(const std::string& path)
{
    const QFileInfo file(TextBridge::ToQt(path));
    const QFileInfo folder(file.path());
    // The folder exists while a batch writes into it; one that has gone since is taken as
    // written, made absolute and tidied.
    QString canonical = folder.canonicalFilePath();
    if (canonical.isEmpty())
        canonical = QDir::cleanPath(folder.absoluteFilePath());
    return TextBridge::FromQt((canonical + QLatin1Char('/') + file.fileName()).toCaseFolded());
}
