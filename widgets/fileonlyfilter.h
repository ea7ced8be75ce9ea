#pragma once
#include <QPersistentModelIndex>
#include <QSortFilterProxyModel>

class QFileSystemModel;

// Lets only the files of the folder shown through, never a folder. The file system model
// under it lists folders, as it must to walk the folder tree, and would otherwise show a folder
// it once walked through (the folder above one that was shown) whatever its own filter says.
class FileOnlyFilter : public QSortFilterProxyModel {
    Q_OBJECT
public:
    explicit FileOnlyFilter(QFileSystemModel* files, QObject* parent = nullptr);

    // The folder whose entries are filtered; the folders above it pass, so it can be shown.
    void SetFolder(const QModelIndex& sourceFolder);

protected:
    bool filterAcceptsRow(int sourceRow, const QModelIndex& sourceParent) const override;

private:
    QFileSystemModel* files_;
    QPersistentModelIndex folder_;
};
