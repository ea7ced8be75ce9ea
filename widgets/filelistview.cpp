#include "filelistview.h"

#include "fileonlyfilter.h"
#include "namepattern.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>

#include <algorithm>

FileListView::FileListView(QWidget* parent)
    : QListView(parent)
    , model_(new QFileSystemModel(this))
    , shown_(new FileOnlyFilter(model_, this))
{
    // The model reads folders too, as it must to walk to the folder shown; the filter in
    // front of it keeps them out of the view.
    model_->setFilter(QDir::AllDirs | QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    // Files that do not match are hidden, not greyed.
    model_->setNameFilterDisables(false);
    setModel(shown_);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setUniformItemSizes(true);
    connect(this, &QListView::activated, this, [this](const QModelIndex& index) { emit ItemEvent(PathOf(index)); });
}

void FileListView::SetNamePattern(const QString& pattern)
{
    pattern_ = pattern;
    QStringList filters;
    for (const std::string& filter : vardune::NameFilters(pattern.toStdString()))
        filters << QString::fromStdString(filter);
    model_->setNameFilters(filters);
}

void FileListView::SetCurrentFolder(const QString& folder)
{
    QString shown = folder;
    // A folder that vanished since the last run: show the nearest one that still exists.
    while (!QFileInfo(shown).isDir()) {
        const QString parent = QFileInfo(shown).absolutePath();
        if (parent.isEmpty() || parent == shown) {
            shown = QDir::homePath();
            break;
        }
        shown = parent;
    }
    // The same folder spelt another way ("/music/" and "/music") is no change, and keeps the
    // spelling it was given first.
    if (QDir::cleanPath(shown) == QDir::cleanPath(folder_))
        return;
    folder_ = shown;
    // Files chosen in the folder left behind are not what Add takes from this one.
    selectionModel()->clear();
    const QModelIndex root = model_->setRootPath(shown);
    shown_->SetFolder(root);
    setRootIndex(shown_->mapFromSource(root));
    model_->sort(0, Qt::AscendingOrder);
    emit CurrentFolderChanged(shown);
}

QString FileListView::PathOf(const QModelIndex& index) const
{
    return QDir::toNativeSeparators(model_->filePath(shown_->mapToSource(index)));
}

QStringList FileListView::SelectedPaths() const
{
    QModelIndexList indexes = selectionModel()->selectedIndexes();
    std::sort(indexes.begin(), indexes.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList paths;
    for (const QModelIndex& index : indexes)
        if (index.column() == 0)
            paths << PathOf(index);
    return paths;
}

QString FileListView::FirstSelectedItem()
{
    walk_ = SelectedPaths();
    walkAt_ = 0;
    return NextSelectedItem();
}

QString FileListView::NextSelectedItem()
{
    return walkAt_ < walk_.size() ? walk_.at(walkAt_++) : QString();
}

QModelIndex FileListView::IndexOf(const QString& path) const
{
    // Looked up among the rows shown: asking the file system model for a path would make it
    // list that path whatever its filters say.
    const QString wanted = QDir::toNativeSeparators(QDir::cleanPath(path));
    for (int row = 0; row < shown_->rowCount(rootIndex()); ++row) {
        const QModelIndex index = shown_->index(row, 0, rootIndex());
        if (PathOf(index) == wanted)
            return index;
    }
    return {};
}

QStringList FileListView::ShownPaths() const
{
    QStringList paths;
    for (int row = 0; row < shown_->rowCount(rootIndex()); ++row)
        paths << PathOf(shown_->index(row, 0, rootIndex()));
    return paths;
}
