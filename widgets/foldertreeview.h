#pragma once
#include <QTreeView>

class FileListView;
class QFileSystemModel;
class QMenu;

// The folder tree: folders only, from the file system's root. Once linked to a file view,
// the folder the user picks becomes the file view's folder, and the tree shows the folder the
// file view was set to. The highlighted folder is always the one the file view shows.
class FolderTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit FolderTreeView(QWidget* parent = nullptr);

    void SetFileView(FileListView* view);
    void SetScreenUpdate(bool on) { setUpdatesEnabled(on); }
    QFileSystemModel* FolderModel() const { return model_; }
    // The context menu of a folder, and its one command.
    QMenu* FolderMenu() const { return menu_; }

signals:
    // "Add Folder to Vardo List" was chosen on this folder.
    void AddFolderRequested(const QString& folder);

protected:
    void contextMenuEvent(QContextMenuEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;
    void wheelEvent(QWheelEvent* event) override;

private:
    void Reveal(const QString& folder);
    // The user takes the tree over: a folder shown from elsewhere is no longer brought into
    // view as its parents are read, so nothing moves under the user's hand.
    void StopRevealing() { revealing_.clear(); }

    QFileSystemModel* model_;
    QMenu* menu_;
    QString menuFolder_;  // the folder the menu was opened on
    FileListView* fileView_ = nullptr;
    QString revealing_;
};
