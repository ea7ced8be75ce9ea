#include "chmfile.h"

#include <QFile>

#include <chm_lib.h>

namespace {
// Far above any page or picture of the manual; a damaged directory entry claiming more is
// not believed, so it cannot make us allocate gigabytes.
constexpr LONGUINT64 kLargestObject = 64u * 1024u * 1024u;

bool Resolve(chmFile* file, const QByteArray& objectPath, chmUnitInfo& unit)
{
    if (!file || objectPath.endsWith('/') || objectPath.size() > CHM_MAX_PATHLEN)
        return false;
    return chm_resolve_object(file, objectPath.constData(), &unit) == CHM_RESOLVE_SUCCESS;
}
} // namespace

ChmFile::ChmFile(const QString& path)
    : path_(path)
{
    if (!path.isEmpty())
        file_ = chm_open(QFile::encodeName(path).constData());
}

ChmFile::~ChmFile()
{
    if (file_)
        chm_close(file_);
}

QByteArray ChmFile::ObjectPath(const QString& path)
{
    QString rooted = path;
    rooted.replace(QLatin1Char('\\'), QLatin1Char('/'));
    if (!rooted.startsWith(QLatin1Char('/')))
        rooted.prepend(QLatin1Char('/'));
    return rooted.toUtf8();
}

bool ChmFile::Contains(const QString& objectPath) const
{
    chmUnitInfo unit{};
    return Resolve(file_, ObjectPath(objectPath), unit);
}

std::optional<QByteArray> ChmFile::Read(const QString& objectPath) const
{
    chmUnitInfo unit{};
    if (!Resolve(file_, ObjectPath(objectPath), unit) || unit.length > kLargestObject)
        return std::nullopt;
    QByteArray bytes(static_cast<qsizetype>(unit.length), Qt::Uninitialized);
    LONGUINT64 done = 0;
    while (done < unit.length) {
        const LONGINT64 got = chm_retrieve_object(file_, &unit, reinterpret_cast<unsigned char*>(bytes.data()) + done,
                                                  done, static_cast<LONGINT64>(unit.length - done));
        if (got <= 0)
            return std::nullopt;
        done += static_cast<LONGUINT64>(got);
    }
    return bytes;
}
