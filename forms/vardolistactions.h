#pragma once
#include "batchhost.h"

#include <QObject>
#include <QStringList>

#include <cstdint>
#include <functional>
#include <string>
#include <unordered_set>
#include <vector>

class FileListView;
class QComboBox;
class QLineEdit;
class QWidget;
class VardoListModel;
class VardoListView;

// The Vardo list's commands in the main window: files and folders added (from the file view,
// the folder tree, a drop), entries removed, cleared and retried, an output opened or shown,
// the player tidied, and the list with its playlists kept from one run to the next. Each
// refused file, and each question, is a message over the window.
class VardoListActions : public QObject {
    Q_OBJECT
public:
    // The main window's controls the commands work on.
    struct Controls {
        QWidget* window;           // messages and the desktop's openers are its
        VardoListModel* list;
        VardoListView* view;       // the selection, and where added entries come into sight
        FileListView* files;       // the file view's selection and folder
        QComboBox* type;           // the type box: which files a folder gives
        QLineEdit* outputFolder;   // the folder Tidy walks
    };
    VardoListActions(const Controls& controls, QObject* parent);

    void AddSelectedEntries();
    // Adds every file of the folder and its subfolders that matches the type box.
    void AddFolderEntries(const QString& folder);
    // Files and folders dropped from a file manager: a file goes through Add's checks, a
    // folder gives its audio files as AddFolder takes them, whatever the type box shows. The
    // paths are bytes: a name need not be UTF-8.
    void AddDroppedPaths(const QByteArrayList& paths);
    bool IsDuplicatedEntry(const QString& path) const;
    void RemoveSelectedEntries();
    void ClearAllEntries();
    // Sets the selected failed entries waiting again.
    void RetrySelectedEntries();
    // An entry's output: opened with the desktop's program for it, or shown in its folder.
    void OpenOutput(std::uint64_t entry);
    void ShowOutputInFolder(std::uint64_t entry);
    // Offers to remove the outputs Vardune made whose source is no longer among the list's.
    void TidyPlayer();

    // The playlists found in added folders (or added themselves), carried when a batch ends.
    const std::vector<BatchHost::CarriedPlaylist>& Playlists() const { return playlists_; }
    // Remembers a playlist once; a later add of the same file keeps the first root.
    void RememberPlaylist(const std::string& path, const std::string& root);

    // The Vardo list of the last run, read at load; a file that cannot be read as one is set
    // aside, with a message. Kept at unload, written whole or not at all.
    void RestoreList();
    void KeepList();

signals:
    // A command of the list begins (the status bar's line of the last batch goes).
    void CommandBegun();

private:
    // The playlists carried by the list kept from the last run.
    void RestorePlaylists();
    // Checks each path and appends the good ones; each refused one gets its own message.
    // Returns how many were appended.
    // root: the folder they were added from (the file view's), or empty for files on their own.
    int AddEntries(const std::vector<std::string>& paths, const std::string& root = std::string());
    // What Add's checks make of a file: taken (its size text in size), not of an audio type
    // the encoder reads, already waiting, or empty, missing or unreadable. pending holds the
    // paths taken but not yet appended.
    enum class AddCheck { Taken, NotAudio, Duplicate, Invalid };
    AddCheck CheckForAdd(const std::string& file, const std::unordered_set<std::string>& pending,
                         std::string& size) const;
    // The wanted files of a folder and its subfolders, in path order, through Add's checks:
    // one message for those already waiting, one for the empty ones, one that says how many
    // were added and how many other files were left out.
    void AddFolder(const std::string& folder, const std::function<bool(const std::string&)>& wanted);
    void ShowRefused(const std::vector<std::string>& paths, AddCheck why);
    void ScrollToEnd();

    Controls c_;
    std::vector<BatchHost::CarriedPlaylist> playlists_;
};
