#include "filelistview.h"

#include "namepattern.h"

#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>

#include <algorithm>

FileListView::FileListView(QWidget* parent)
    : QListView(parent)
    , model_(new QFileSystemModel(this))
{
    model_->setFilter(QDir::Files | QDir::System | QDir::NoDotAndDotDot);
    // Files that do not match are hidden, not greyed.
    model_->setNameFilterDisables(false);
    setModel(model_);
    setSelectionMode(QAbstractItemView::ExtendedSelection);
    setDragEnabled(true);
    setUniformItemSizes(true);
    connect(this, &QListView::activated, this, [this](const QModelIndex& index) {
        emit ItemEvent(model_->filePath(index));
    });
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
    setRootIndex(model_->setRootPath(shown));
    model_->sort(0, Qt::AscendingOrder);
    emit CurrentFolderChanged(shown);
}

QStringList FileListView::SelectedPaths() const
{
    QModelIndexList indexes = selectionModel()->selectedIndexes();
    std::sort(indexes.begin(), indexes.end(),
              [](const QModelIndex& a, const QModelIndex& b) { return a.row() < b.row(); });
    QStringList paths;
    for (const QModelIndex& index : indexes)
        if (index.column() == 0)
            paths << QDir::toNativeSeparators(model_->filePath(index));
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
