#include "vardolistview.h"

#include <QContextMenuEvent>
#include <QHeaderView>
#include <QTimer>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>

#include <algorithm>
#include <iterator>

VardoListView::VardoListView(QWidget* parent)
    : QTreeView(parent)
{
    setAcceptDrops(true);
    setDropIndicatorShown(false);
}

void VardoListView::setModel(QAbstractItemModel* model)
{
    QTreeView::setModel(model);
    if (!model)
        return;
    const auto due = [this] {
        if (fitDue_)
            return;
        fitDue_ = true;
        QTimer::singleShot(0, this, [this] {
            fitDue_ = false;
            FitColumnsToContents();
        });
    };
    connect(model, &QAbstractItemModel::rowsInserted, this, due);
    connect(model, &QAbstractItemModel::dataChanged, this, due);
}

void VardoListView::FitColumnsToContents()
{
    if (!model())
        return;
    for (int column = 1; column < model()->columnCount(); ++column) {
        if (isColumnHidden(column))
            continue;
        const bool whole = std::find(std::begin(kWholeColumns), std::end(kWholeColumns), column) != std::end(kWholeColumns);
        int wanted = std::max(sizeHintForColumn(column), header()->sectionSizeHint(column));
        if (!whole)
            wanted = std::min(wanted, viewport()->width() / 3);
        if (wanted > columnWidth(column))
            setColumnWidth(column, wanted);
    }
}

void VardoListView::dragEnterEvent(QDragEnterEvent* event)
{
    if (event->source() == fileView_ || event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void VardoListView::dragMoveEvent(QDragMoveEvent* event)
{
    if (event->source() == fileView_ || event->mimeData()->hasUrls())
        event->acceptProposedAction();
}

void VardoListView::dropEvent(QDropEvent* event)
{
    if (fileView_ && event->source() == fileView_) {
        // What was dragged is not read: the file view's selection is what gets added.
        event->acceptProposedAction();
        emit DroppedFromFileView();
        return;
    }
    // A URL carries a path's bytes percent-encoded; its text would lose those that are not
    // UTF-8 ("Caf%E9.wav").
    QByteArrayList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << (url.host().isEmpty() ? QByteArray::fromPercentEncoding(url.path(QUrl::FullyEncoded).toLatin1())
                                           : QFile::encodeName(url.toLocalFile()));
    event->acceptProposedAction();
    if (!paths.isEmpty())
        emit DroppedFiles(paths);
}

void VardoListView::keyPressEvent(QKeyEvent* event)
{
    // Shift+F10 opens the menu as the Menu key does.
    if (event->key() == Qt::Key_F10 && event->modifiers() == Qt::ShiftModifier) {
        QContextMenuEvent menu(QContextMenuEvent::Keyboard, QPoint(), viewport()->mapToGlobal(QPoint()));
        contextMenuEvent(&menu);
        event->accept();
        return;
    }
    if (event->key() == Qt::Key_Delete && (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
        emit DeletePressed();
        event->accept();
        return;
    }
    QTreeView::keyPressEvent(event);
}

void VardoListView::contextMenuEvent(QContextMenuEvent* event)
{
    if (event->reason() == QContextMenuEvent::Mouse) {
        emit ContextMenuAsked(indexAt(event->pos()), event->globalPos());
        return;
    }
    const QModelIndex current = currentIndex();
    const QRect row = visualRect(current);
    emit ContextMenuAsked(current, viewport()->mapToGlobal(row.isValid() ? row.center() : viewport()->rect().center()));
}
