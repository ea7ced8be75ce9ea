#pragma once
#include <QTreeView>

class FileListView;
class QFileSystemModel;

// The folder tree: folders only, from the file system's root. Once linked to a file view,
// the folder the user picks becomes the file view's folder, and the tree shows the folder the
// file view was set to.
class FolderTreeView : public QTreeView {
    Q_OBJECT
public:
    explicit FolderTreeView(QWidget* parent = nullptr);

    void SetFileView(FileListView* view);
    void SetScreenUpdate(bool on) { setUpdatesEnabled(on); }
    QFileSystemModel* FolderModel() const { return model_; }

private:
    void Reveal(const QString& folder);

    QFileSystemModel* model_;
    FileListView* fileView_ = nullptr;
    QString revealing_;
};
