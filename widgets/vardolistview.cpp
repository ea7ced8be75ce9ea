#include "vardolistview.h"

#include <QDragEnterEvent>
#include <QDropEvent>
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
    QStringList paths;
    for (const QUrl& url : event->mimeData()->urls())
        if (url.isLocalFile())
            paths << url.toLocalFile();
    event->acceptProposedAction();
    if (!paths.isEmpty())
        emit DroppedFiles(paths);
}
