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

namespace {
int CollectFile(chmFile*, chmUnitInfo* unit, void* context)
{
    auto* files = static_cast<QStringList*>(context);
    // A damaged directory could list without end; the manual has a few dozen files.
    if (files->size() >= 100000)
        return CHM_ENUMERATOR_SUCCESS;
    const QString path = QString::fromUtf8(unit->path, static_cast<qsizetype>(qstrnlen(unit->path, sizeof unit->path)));
    if (!path.endsWith(QLatin1Char('/')))
        files->append(path);
    return CHM_ENUMERATOR_CONTINUE;
}

quint16 Word(const QByteArray& bytes, qsizetype at)
{
    return static_cast<quint16>(static_cast<quint8>(bytes[at]) | (static_cast<quint8>(bytes[at + 1]) << 8));
}
} // namespace

ChmFile::ChmFile(const QString& path)
    : path_(path)
{
    if (path.isEmpty())
        return;
    file_ = chm_open(QFile::encodeName(path).constData());
    // A file cut short still opens, and the pages stored early in it still read: it is
    // refused as a whole, as every page it lost would be.
    if (file_ && !IsWhole()) {
        chm_close(file_);
        file_ = nullptr;
    }
}

bool ChmFile::IsWhole() const
{
    // The header gives where the directory lies and (from version 3) where the stored data
    // starts, else right after the directory; the compressed content, which holds the pages,
    // is the data's last and largest object and must end within the file.
    QFile file(path_);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    const QByteArray header = file.read(0x60);
    if (header.size() < 0x58 || !header.startsWith("ITSF"))
        return false;
    const auto number = [&header](qsizetype at) {
        quint64 value = 0;
        for (int i = 7; i >= 0; --i)
            value = (value << 8) | static_cast<quint8>(header[at + i]);
        return value;
    };
    const quint32 version = static_cast<quint32>(number(4) & 0xFFFFFFFFu);
    const quint64 data = version >= 3 && header.size() >= 0x60 ? number(0x58) : number(0x48) + number(0x50);
    chmUnitInfo unit{};
    if (!Resolve(file_, "::DataSpace/Storage/MSCompressed/Content", unit))
        return true;  // nothing compressed: every page is read, and checked, as it is stored
    const auto size = static_cast<quint64>(file.size());
    return data <= size && unit.start <= size - data && unit.length <= size - data - unit.start;
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

QStringList ChmFile::Files() const
{
    QStringList files;
    if (file_)
        chm_enumerate(file_, CHM_ENUMERATE_NORMAL | CHM_ENUMERATE_FILES, CollectFile, &files);
    return files;
}

QString ChmFile::ContentsFile() const
{
    // The system record: a version, then entries of a 16-bit code, a 16-bit length and that
    // many bytes; code 0 names the table of contents.
    if (const std::optional<QByteArray> system = Read(QStringLiteral("/#SYSTEM"))) {
        for (qsizetype at = 4; at + 4 <= system->size();) {
            const quint16 code = Word(*system, at);
            const quint16 length = Word(*system, at + 2);
            at += 4;
            if (at + length > system->size())
                break;
            if (code == 0) {
                const QByteArray name = system->mid(at, length).split('\0').front();
                if (!name.isEmpty() && Contains(QString::fromUtf8(name)))
                    return QString::fromUtf8(ObjectPath(QString::fromUtf8(name)));
            }
            at += length;
        }
    }
    for (const QString& file : Files())
        if (file.endsWith(QStringLiteral(".hhc"), Qt::CaseInsensitive))
            return file;
    return {};
}
