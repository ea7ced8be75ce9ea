#pragma once
#include <QProcess>
#include <QString>
#include <QStringList>

// Mounts a FAT image with fusefat: 0 once the folder is a mount point, anything else when it
// is not. fusefat says success even where FUSE refused it (an ordinary user without access
// to /dev/fuse): the folder stays a plain folder on the disk below, which a test must not take
// for a card.
inline int MountFat(const QString& image, const QString& folder)
{
    return QProcess::execute(QStringLiteral("sh"),
                             {QStringLiteral("-c"), QStringLiteral("fusefat -o rw+ \"$0\" \"$1\" && mountpoint -q \"$1\""),
                              image, folder});
}
