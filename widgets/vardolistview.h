#pragma once
#include <QByteArrayList>
#include <QTreeView>

// The Vardo list in report style. Files dragged from the file view ask for the file view's
// selection to be added; files dropped from a file manager are handed over by path. The
// Delete key asks for the selected entries to be removed.
class VardoListView : public QTreeView {
    Q_OBJECT
public:
    explicit VardoListView(QWidget* parent = nullptr);
    // Entries added, and outcomes written, fit the columns to their texts (once the adding is
    // over).
    void setModel(QAbstractItemModel* model) override;

    // Widens the columns whose texts the entries in sight would cut: the sizes and the rate
    // (kWholeColumns) to their whole text, the names and paths up to a third of the list's
    // width. A column is never made narrower than the user left it.
    void FitColumnsToContents();
    static constexpr int kWholeColumns[] = {3, 5, 6};

    // Where drags of the program's own file view come from.
    void SetFileView(QWidget* fileView) { fileView_ = fileView; }

signals:
    void DroppedFromFileView();
    // The paths as bytes, as the file manager named them: a name need not be UTF-8.
    void DroppedFiles(const QByteArrayList& paths);
    // The Delete key, as users remove what they have selected in a list.
    void DeletePressed();
    // The context menu is asked for on entry (the row under the pointer, or the current row
    // when asked from the keyboard; invalid over no row), to open at a global position.
    void ContextMenuAsked(const QModelIndex& entry, const QPoint& at);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void dragEnterEvent(QDragEnterEvent* event) override;
    void dragMoveEvent(QDragMoveEvent* event) override;
    void dropEvent(QDropEvent* event) override;

private:
    QWidget* fileView_ = nullptr;
    bool fitDue_ = false;  // a fit waits for the entries being added to be laid out
};
