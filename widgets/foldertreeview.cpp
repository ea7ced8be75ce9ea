#include "foldertreeview.h"

#include "filelistview.h"

#include <QContextMenuEvent>
#include <QDir>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QKeyEvent>
#include <QMenu>
#include <QScrollBar>

FolderTreeView::FolderTreeView(QWidget* parent)
    : QTreeView(parent)
    , model_(new QFileSystemModel(this))
    , menu_(new QMenu(this))
{
    menu_->setObjectName(QStringLiteral("FolderMenu"));
    QAction* add = menu_->addAction(QStringLiteral("&Add Folder to Vardo List"));
    add->setObjectName(QStringLiteral("AddFolderToVardoList"));
    add->setToolTip(QStringLiteral("Add the files of this folder and its subfolders that match the Type box"));
    connect(add, &QAction::triggered, this, [this] { emit AddFolderRequested(menuFolder_); });

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
    connect(verticalScrollBar(), &QScrollBar::actionTriggered, this, &FolderTreeView::StopRevealing);
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
    // The tree's own pick, by a click or a key: the row stays where the user has it. Centring
    // it here would move another row under a click still in progress, and the press would
    // highlight that one while the file view shows this one.
    if (index == currentIndex())
        return;
    setCurrentIndex(index);
    scrollTo(index, QAbstractItemView::PositionAtCenter);
    // The folders above it are read in the background: show it again once they are listed.
    revealing_ = QDir::cleanPath(folder);
}

void FolderTreeView::mousePressEvent(QMouseEvent* event)
{
    StopRevealing();
    QTreeView::mousePressEvent(event);
}

void FolderTreeView::keyPressEvent(QKeyEvent* event)
{
    StopRevealing();
    // Shift+F10 opens the menu as the Menu key does.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), viewport()->mapToGlobal(QPoint()));
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void FolderTreeView::wheelEvent(QWheelEvent* event)
{
    StopRevealing();
    QTreeView::wheelEvent(event);
}

void FolderTreeView::contextMenuEvent(QContextMenuEvent* event)
{
    const QModelIndex index = event->reason() == QContextMenuEvent::Mouse ? indexAt(event->pos()) : currentIndex();
    if (!index.isValid())
        return;
    menuFolder_ = model_->filePath(index);
    menu_->popup(event->reason() == QContextMenuEvent::Mouse ? event->globalPos()
                                                             : viewport()->mapToGlobal(visualRect(index).center()));
}
