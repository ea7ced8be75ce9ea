#include "fileonlyfilter.h"

#include <QFileSystemModel>

FileOnlyFilter::FileOnlyFilter(QFileSystemModel* files, QObject* parent)
    : QSortFilterProxyModel(parent)
    , files_(files)
{
    setSourceModel(files);
}

void FileOnlyFilter::SetFolder(const QModelIndex& sourceFolder)
{
    folder_ = sourceFolder;
    invalidateFilter();
}

bool FileOnlyFilter::filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const
{
    if (sourceParent != folder_)
        return true;
    return !files_->isDir(files_->index(sourceRow, 0, sourceParent));
}
