#include "vardolistview.h"

#include <QContextMenuEvent>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QKeyEvent>
#include <QMimeData>

VardoListView::VardoListView(QWidget* parent)
    : QTreeView(parent)
{
    setAcceptDrops(true);
    setDropIndicatorShown(false);
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
