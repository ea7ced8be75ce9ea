#pragma once
#include <QByteArray>
#include <QString>
#include <QStringList>

#include <optional>

struct chmFile;

// A compiled HTML Help file (CHM) opened for reading through CHMLIB: the pages, pictures and
// style sheets stored in it, each found by its path inside the file.
class ChmFile
{
public:
    explicit ChmFile(const QString& path);
    ~ChmFile();
    ChmFile(const ChmFile&) = delete;
    ChmFile& operator=(const ChmFile&) = delete;

    // False when the file is missing, unreadable, not a CHM file, or cut short.
    bool IsOpen() const { return file_ != nullptr; }
    const QString& Path() const { return path_; }

    // Whether a file (not a folder) of that path is stored.
    bool Contains(const QString& objectPath) const;
    // The stored bytes, or nothing when the path holds no file or its bytes cannot be read.
    std::optional<QByteArray> Read(const QString& objectPath) const;

    // The paths of the files stored ("/HTML/page.htm"), folders and the file's own records
    // left out, in the order they are stored.
    QStringList Files() const;
    // The table of contents (the .hhc file) that the file's system record names, else the first
    // one stored; empty when it has none.
    QString ContentsFile() const;

    // The path as CHMLIB looks it up: "/" separators, rooted, so "HTML\page.htm",
    // "HTML/page.htm" and "/HTML/page.htm" all name one page.
    static QByteArray ObjectPath(const QString& path);

private:
    // Whether the file holds all its stored data, as its header and directory say.
    bool IsWhole() const;

    QString path_;
    chmFile* file_ = nullptr;
};
