#pragma once
#include <QListView>

class FileOnlyFilter;
class QFileSystemModel;

// The file view: the files of one folder whose names match a wildcard pattern (letter case
// ignored), several selectable; never a folder. Activating an item (double click or Enter)
// raises ItemEvent.
class FileListView : public QListView {
    Q_OBJECT
public:
    explicit FileListView(QWidget* parent = nullptr);

    // One pattern or several separated by ";" ("*.MP3", "*.mp3;*.wav"); "*.*" and an empty
    // text show every file.
    void SetNamePattern(const QString& pattern);
    QString NamePattern() const { return pattern_; }

    // Shows the folder; a folder that no longer exists shows its nearest existing parent. The
    // selection goes with the folder it was made in.
    void SetCurrentFolder(const QString& folder);
    QString CurrentFolder() const { return folder_; }

    // The selected items' full paths in view order; FirstSelectedItem and NextSelectedItem walk
    // them one by one and give an empty text after the last.
    QStringList SelectedPaths() const;
    QString FirstSelectedItem();
    QString NextSelectedItem();

    // The item that shows this path (invalid when it is not shown), and the paths shown, in
    // view order.
    QModelIndex IndexOf(const QString& path) const;
    QStringList ShownPaths() const;

    QFileSystemModel* FileModel() const { return model_; }
    void SetScreenUpdate(bool on) { setUpdatesEnabled(on); }

signals:
    void ItemEvent(const QString& path);
    void CurrentFolderChanged(const QString& folder);

private:
    QString PathOf(const QModelIndex& index) const;

    QFileSystemModel* model_;
    FileOnlyFilter* shown_;
    QString pattern_;
    QString folder_;
    QStringList walk_;
    int walkAt_ = 0;
};
