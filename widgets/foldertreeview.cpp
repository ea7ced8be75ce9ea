#include "foldertreeview.h"

#include "filelistview.h"

#include <QFileSystemModel>
#include <QDir>
#include <QHeaderView>

FolderTreeView::FolderTreeView(QWidget* parent)
    : QTreeView(parent)
    , model_(new QFileSystemModel(this))
{
    model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
    setModel(model_);
    setRootIndex(model_->setRootPath(QDir::rootPath()));
    for (int column = 1; column < model_->columnCount(); ++column)
        hideColumn(column);
    header()->hide();
    setSelectionMode(QAbstractItemView::SingleSelection);
    connect(model_, &QFileSystemModel::directoryLoaded, this, [this](const QString& loaded) {
        if (revealing_.isEmpty() || !(revealing_ + QLatin1Char('/')).startsWith(QDir::cleanPath(loaded)))
            return;
        const QModelIndex index = model_->index(revealing_);
        if (index.isValid())
            scrollTo(index, QAbstractItemView::PositionAtCenter);
        if (QDir::cleanPath(loaded) == revealing_)
            revealing_.clear();
    });
}

void FolderTreeView::SetFileView(FileListView* view)
{
    fileView_ = view;
    connect(selectionModel(), &QItemSelectionModel::currentChanged, this,
            [this](const QModelIndex& current) {
                if (fileView_ && current.isValid())
                    fileView_->SetCurrentFolder(model_->filePath(current));
            });
    connect(view, &FileListView::CurrentFolderChanged, this, &FolderTreeView::Reveal);
}

void FolderTreeView::Reveal(const QString& folder)
{
    const QModelIndex index = model_->index(QDir::cleanPath(folder));
    if (!index.isValid())
        return;
    if (index != currentIndex())
        setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    // The folders above it are read in the background: show it again once they are listed.
    revealing_ = QDir::cleanPath(folder);
}
