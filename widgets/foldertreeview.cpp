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
    if (!index.isValid() || index == currentIndex())
        return;
    setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
}
