#pragma once
#include <QTreeView>

// The Vardo list in report style. Files dragged from the file view ask for the file view's
// selection to be added; files dropped from a file manager are handed over by path.
class VardoListView : public QTreeView {
    Q_OBJECT
public:
    explicit VardoListView(QWidget* parent = nullptr);

    // Where drags of the program's own file view come from.
    void SetFileView(QWidget* fileView) { fileView_ = fileView; }

signals:
    void DroppedFromFileView();
    void DroppedFiles(const QStringList& paths);

protected:
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* fileView_ = nullptr;
};
