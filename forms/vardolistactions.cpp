#include "vardolistactions.h"

#include "filelistview.h"
#include "module1.h"
#include "vardolistmodel.h"
#include "vardolistview.h"

#include "keptfile.h"
#include "mediafolder.h"
#include "namepattern.h"
#include "numerictext.h"
#include "outputfolder.h"
#include "pathtext.h"
#include "playertidy.h"
#include "playlistcarrier.h"
#include "vardolistfile.h"

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QLineEdit>
#include <QSaveFile>
#include <QThread>

#include <algorithm>
#include <ctime>
#include <optional>
#include <utility>

#include <sys/stat.h>

VardoListActions::VardoListActions(const Controls& controls, QObject* parent)
    : QObject(parent)
    , c_(controls)
{
}

void VardoListActions::ScrollToEnd()
{
    c_.view->scrollTo(c_.list->index(c_.list->rowCount() - 1, 0));
}

void VardoListActions::RestoreList()
{
    const QString path = Module1::VardoListFilePath();
    if (path.isEmpty())
        return;
    // Never more than a list the program could have written, and never waiting on a FIFO or
    // a device that stands at its name.
    const vardune::KeptFile::Reading reading = vardune::KeptFile::Read(Module1::FromQt(path), vardune::VardoListFile::kMaxBytes);
    if (reading.state == vardune::KeptFile::State::Missing)
        return;
    std::optional<std::vector<vardune::VardoEntry>> entries;
    if (reading.state == vardune::KeptFile::State::Read)
        entries = vardune::VardoListFile::Parse(reading.text);
    if (entries) {
        c_.list->Restore(*entries);
        RestorePlaylists();
        return;
    }
    // Kept for whoever wants to look at it, and out of the way of the next save.
    const QString aside = Module1::SetAside(path);
    Module1::MsgBox(c_.window, {QStringLiteral("The Vardo list kept from the last run could not be read: ")
                               + QDir::toNativeSeparators(path)
                               + (reading.why.empty() ? QString() : QStringLiteral(" (") + Module1::ToQt(reading.why) + QLatin1Char(')'))
                               + (!aside.isEmpty() ? QStringLiteral(" was set aside as ") + QDir::toNativeSeparators(aside)
                                                   : QStringLiteral(" could not be set aside and will be replaced"))
                               + QStringLiteral(". The list starts empty."),
                           QStringLiteral("Vardo List Not Restored"), QMessageBox::Warning, QMessageBox::Ok,
                           QMessageBox::NoButton});
}

void VardoListActions::KeepList()
{
    const QString path = Module1::VardoListFilePath();
    if (path.isEmpty())
        return;
    QDir().mkpath(QFileInfo(path).path());
    // Written beside and renamed over the old one: a run that ends half way leaves the old list.
    QSaveFile file(path);
    if (file.open(QIODevice::WriteOnly)) {
        const std::string text = vardune::VardoListFile::Encode(c_.list->List().Entries());
        file.write(text.data(), qint64(text.size()));
        file.commit();
    }
    const QString playlistsPath = Module1::CarriedPlaylistsFilePath();
    if (playlists_.empty()) {
        QFile::remove(playlistsPath);
        return;
    }
    std::vector<vardune::VardoListFile::Playlist> playlists;
    for (const BatchHost::CarriedPlaylist& p : playlists_)
        playlists.push_back({p.path, p.root});
    QSaveFile playlistsFile(playlistsPath);
    if (playlistsFile.open(QIODevice::WriteOnly)) {
        const std::string text = vardune::VardoListFile::EncodePlaylists(playlists);
        playlistsFile.write(text.data(), qint64(text.size()));
        playlistsFile.commit();
    }
}

void VardoListActions::RestorePlaylists()
{
    // Only with the list they belong to; a damaged file carries none, and says nothing: the
    // playlists are found again when their folder is added again. What is no such file at
    // all (a FIFO, a device) is set aside, as a damaged list is, so that the next save can
    // write the file.
    const QString path = Module1::CarriedPlaylistsFilePath();
    const vardune::KeptFile::Reading reading = vardune::KeptFile::Read(Module1::FromQt(path), vardune::VardoListFile::kMaxBytes);
    if (reading.state == vardune::KeptFile::State::Refused) {
        Module1::SetAside(path);
        return;
    }
    const auto playlists = reading.state == vardune::KeptFile::State::Read
        ? vardune::VardoListFile::ParsePlaylists(reading.text)
        : std::nullopt;
    if (!playlists)
        return;
    for (const vardune::VardoListFile::Playlist& p : *playlists)
        RememberPlaylist(p.path, p.root);
}

void VardoListActions::AddSelectedEntries()
{
    emit CommandBegun();
    std::vector<std::string> paths;
    for (QString path = c_.files->FirstSelectedItem(); !path.isEmpty(); path = c_.files->NextSelectedItem())
        paths.push_back(Module1::FromQt(path));
    // The files lie in the folder the file view shows: kept folders start there.
    AddEntries(paths, Module1::FromQt(c_.files->CurrentFolder()));
}

VardoListActions::AddCheck VardoListActions::CheckForAdd(const std::string& file, const std::unordered_set<std::string>& pending,
                                    std::string& size) const
{
    // A picture or a playlist beside the music would only fail in every batch.
    if (!vardune::MediaFolder::IsAudioName(vardune::VardoList::GetFileName(file)))
        return AddCheck::NotAudio;
    if (c_.list->List().IsDuplicatedEntry(file) || pending.count(file))
        return AddCheck::Duplicate;
    size = vardune::VardoList::GetFileSize(file);
    return vardune::LeadingNumber(size) != 0 ? AddCheck::Taken : AddCheck::Invalid;
}

int VardoListActions::AddEntries(const std::vector<std::string>& paths, const std::string& root)
{
    int added = 0;
    // Accepted files are appended in runs, so adding thousands stays fast; a run is shown
    // before any message about the next refused file.
    std::vector<std::pair<std::string, std::string>> pending;
    std::unordered_set<std::string> pendingPaths;
    // Files of other types are named together at the end: a drop of a whole album folder's
    // files brings its pictures and playlists too.
    std::vector<std::string> notAudio;
    const auto flush = [&] {
        if (pending.empty())
            return;
        c_.list->Append(pending, root);
        added += static_cast<int>(pending.size());
        pending.clear();
        pendingPaths.clear();
        ScrollToEnd();
    };
    for (const std::string& file : paths) {
        // A playlist added itself goes along, from the folder its neighbours are added from,
        // or its own when dropped on its own.
        struct stat st {};
        if (vardune::PlaylistCarrier::IsPlaylist(file) && ::stat(file.c_str(), &st) == 0 && S_ISREG(st.st_mode)) {
            RememberPlaylist(file, root.empty() ? file.substr(0, file.rfind('/') + 1) : vardune::BatchWalk::NormaliseOutputFolder(root));
            continue;
        }
        std::string size;
        const AddCheck check = CheckForAdd(file, pendingPaths, size);
        if (check == AddCheck::Taken) {
            pending.emplace_back(file, size);
            pendingPaths.insert(file);
            continue;
        }
        if (check == AddCheck::NotAudio) {
            notAudio.push_back(file);
            continue;
        }
        flush();
        ShowRefused({file}, check);
    }
    flush();
    ShowRefused(notAudio, AddCheck::NotAudio);
    return added;
}

void VardoListActions::ShowRefused(const std::vector<std::string>& files, AddCheck why)
{
    if (files.empty())
        return;
    QStringList paths;
    for (const std::string& file : files)
        paths << TextBridge::ShownPath(file);
    const bool duplicate = why == AddCheck::Duplicate;
    const bool notAudio = why == AddCheck::NotAudio;
    QString text;
    if (paths.size() == 1) {
        text = duplicate  ? QStringLiteral("Duplicated file name: ") + paths.front()
               : notAudio ? QStringLiteral("Not an audio file: ") + paths.front()
                                + QStringLiteral(". Vardune converts MP3, WAV, FLAC, Ogg and AIFF files.")
                          : QStringLiteral("Invalid file name: ") + paths.front() + QStringLiteral(" or file size is 0 byte.");
    } else {
        // A folder may hold hundreds: the first ones are named, the rest counted.
        constexpr int kNamed = 10;
        text = (duplicate  ? QStringLiteral("These %1 files are already waiting in the Vardo list:")
                : notAudio ? QStringLiteral("These %1 files are not audio files that Vardune converts (MP3, WAV, FLAC, Ogg, AIFF):")
                           : QStringLiteral("These %1 files are empty or cannot be read:"))
                   .arg(paths.size());
        for (int i = 0; i < paths.size() && i < kNamed; ++i)
            text += QLatin1Char('\n') + paths.at(i);
        if (paths.size() > kNamed)
            text += QStringLiteral("\n\u2026 and %1 more.").arg(paths.size() - kNamed);
    }
    const QString title = duplicate  ? QStringLiteral("Duplicated File Name")
                          : notAudio ? QStringLiteral("Not an Audio File")
                                     : QStringLiteral("Invalid File Name");
    Module1::MsgBox(c_.window, {text, title, QMessageBox::Information, QMessageBox::Ok, QMessageBox::NoButton});
}

void VardoListActions::AddFolder(const std::string& folder, const std::function<bool(const std::string&)>& wanted)
{
    std::vector<std::pair<std::string, std::string>> taken;
    std::unordered_set<std::string> takenPaths;
    std::vector<std::string> duplicates, invalid;
    int leftOut = 0;
    int playlists = 0;
    int otherTypes = 0;  // audio files the type box left out
    // Playlists come along whatever the type box shows: they are carried, not converted.
    const auto wantedOrPlaylist = [&wanted, &otherTypes](const std::string& name) {
        if (wanted(name) || vardune::PlaylistCarrier::IsPlaylist(name))
            return true;
        if (vardune::MediaFolder::IsAudioName(name))
            ++otherTypes;
        return false;
    };
    // The folder keeps its own name below the output folder, as copying it would.
    const std::string root = vardune::OutputLayout::RootOfAddedFolder(vardune::PathText::Cleaned(folder));
    for (const std::string& file : vardune::MediaFolder::Files(folder, wantedOrPlaylist)) {
        if (vardune::PlaylistCarrier::IsPlaylist(file)) {
            RememberPlaylist(file, root);
            ++playlists;
            continue;
        }
        std::string size;
        switch (CheckForAdd(file, takenPaths, size)) {
        case AddCheck::Taken:
            taken.emplace_back(file, size);
            takenPaths.insert(file);
            break;
        case AddCheck::NotAudio:
            ++leftOut;
            break;
        case AddCheck::Duplicate:
            duplicates.push_back(file);
            break;
        case AddCheck::Invalid:
            invalid.push_back(file);
            break;
        }
    }
    c_.list->Append(taken, root);
    if (!taken.empty())
        ScrollToEnd();
    ShowRefused(duplicates, AddCheck::Duplicate);
    ShowRefused(invalid, AddCheck::Invalid);
    const int added = static_cast<int>(taken.size());
    QString text = (added == 1 ? QStringLiteral("1 media file was added from ")
                               : QString::number(added) + QStringLiteral(" media files were added from "))
        + TextBridge::ShownPath(folder) + QLatin1Char('.');
    if (leftOut > 0)
        text += (leftOut == 1 ? QStringLiteral(" 1 other file was left out")
                              : QStringLiteral(" %1 other files were left out").arg(leftOut))
            + QStringLiteral(": Vardune converts only audio files (MP3, WAV, FLAC, Ogg, AIFF).");
    if (otherTypes > 0)
        text += QLatin1Char(' ')
            + (otherTypes == 1 ? tr("1 file of another type was not added: choose All audio in Type to take it.")
                               : tr("%1 files of other types were not added: choose All audio in Type to take them.")
                                     .arg(otherTypes));
    if (playlists > 0)
        text += (playlists == 1 ? QStringLiteral(" 1 playlist goes along")
                                : QStringLiteral(" %1 playlists go along").arg(playlists))
            + QStringLiteral(": written for the outputs when a batch ends.");
    Module1::MsgBox(c_.window, {text, QStringLiteral("Folder Added"), QMessageBox::Information, QMessageBox::Ok,
                           QMessageBox::NoButton});
}

void VardoListActions::AddFolderEntries(const QString& folder)
{
    emit CommandBegun();
    const std::vector<std::string> filters = vardune::NameFilters(Module1::FromQt(c_.type->currentText()));
    AddFolder(Module1::FromQt(folder), [filters](const std::string& name) { return vardune::MatchesNameFilters(name, filters); });
}

void VardoListActions::AddDroppedPaths(const QByteArrayList& paths)
{
    emit CommandBegun();
    // Dropped files go in together, in runs as Add takes them; each folder in its turn.
    std::vector<std::string> files;
    for (const QByteArray& dropped : paths) {
        const std::string path = dropped.toStdString();
        struct stat st {};
        if (::stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) {
            files.push_back(path);
            continue;
        }
        AddEntries(std::exchange(files, {}));
        AddFolder(path, [](const std::string&) { return true; });
    }
    AddEntries(files);
}

bool VardoListActions::IsDuplicatedEntry(const QString& path) const
{
    return c_.list->List().IsDuplicatedEntry(Module1::FromQt(path));
}

void VardoListActions::RemoveSelectedEntries()
{
    emit CommandBegun();
    // Read the selection by its ranges: asking row by row is quadratic in the number of
    // separately selected rows.
    const QItemSelection selection = c_.view->selectionModel()->selection();
    if (selection.isEmpty())
        return;
    std::vector<bool> selected(static_cast<std::size_t>(c_.list->rowCount()), false);
    for (const QItemSelectionRange& range : selection)
        for (int row = range.top(); row <= range.bottom(); ++row)
            selected[static_cast<std::size_t>(row)] = true;
    c_.list->RemoveSelected(selected);
}

void VardoListActions::ClearAllEntries()
{
    emit CommandBegun();
    const auto answer = Module1::MsgBox(c_.window, {QStringLiteral("Do yo really want to delete all enties?"),
                                               QStringLiteral("Confirm Delete All"), QMessageBox::Question,
                                               QMessageBox::Ok | QMessageBox::Cancel, QMessageBox::Cancel});
    if (answer == QMessageBox::Ok) {
        c_.list->Clear();
        playlists_.clear();
    }
}

void VardoListActions::RememberPlaylist(const std::string& path, const std::string& root)
{
    for (const BatchHost::CarriedPlaylist& known : playlists_)
        if (known.path == path)
            return;
    playlists_.push_back({path, root});
}

namespace {

// Runs work on a thread of its own while the window goes on painting (but takes no input),
// and returns when it is done: a walk over a large output tree does not freeze the window.
void RunOffWindow(const std::function<void()>& work)
{
    QThread* thread = QThread::create(work);
    QEventLoop loop;
    QObject::connect(thread, &QThread::finished, &loop, &QEventLoop::quit);
    QApplication::setOverrideCursor(Qt::WaitCursor);
    thread->start();
    if (!thread->isFinished())
        loop.exec(QEventLoop::ExcludeUserInputEvents);
    thread->wait();
    QApplication::restoreOverrideCursor();
    delete thread;
}

} // namespace

namespace {

QString Files(std::size_t count)
{
    return count == 1 ? VardoListActions::tr("1 file") : VardoListActions::tr("%1 files").arg(count);
}

} // namespace

void VardoListActions::TidyPlayer()
{
    emit CommandBegun();
    using Tidy = vardune::PlayerTidy;
    const QString title = QStringLiteral("Tidy the Player");
    const auto say = [&](const QString& text, QMessageBox::Icon icon, const QString& details = QString()) {
        Module1::MsgBox(c_.window, {text, title, icon, QMessageBox::Ok, QMessageBox::NoButton, {}, details});
    };
    const std::string folder = Module1::FromQt(c_.outputFolder->text());
    if (folder.empty() || vardune::OutputFolder::Inspect(folder).state != vardune::OutputFolder::State::Ready) {
        say(tr("There is no output folder to tidy. Choose one with Output Path first."), QMessageBox::Information);
        return;
    }
    // A source is in the list while it is one of its files or lies in the folder of one.
    std::vector<std::string> folders;
    std::vector<std::string> files;
    for (const vardune::VardoEntry& e : c_.list->List().Entries()) {
        folders.push_back(e.sourcePath);
        files.push_back(e.sourcePath + e.sourceName);
    }
    // A temporary file an encoder still writes changes as it goes, and holds its lock.
    const std::time_t cutoff = std::time(nullptr) - 60;
    std::optional<Tidy> tidy;
    Tidy::Scan scan;
    // Resolving the list's folders and walking the output folder read the disk: off the window.
    RunOffWindow([&] {
        tidy.emplace(folders, files);
        scan = tidy->Look(folder, cutoff);
    });
    const auto listed = [](const std::vector<Tidy::Item>& items) {
        QString text;
        for (const Tidy::Item& item : items)
            text += Module1::ToQt(item.path) + QStringLiteral("  (") + tr(Tidy::WhyText(item.why)) + QStringLiteral(")\n");
        return text;
    };
    QString unreachable;
    if (scan.unreachable > 0)
        unreachable = QStringLiteral("\n\n")
                      + (scan.unreachable == 1 ? tr("1 file made from a source that cannot be reached now (a disk not mounted?) stays.")
                                                 : tr("%1 files made from sources that cannot be reached now (a disk not mounted?) stay.")
                                                       .arg(scan.unreachable));
    QString record;
    if (scan.record == vardune::WrittenRecord::State::Missing)
        record = tr("The output folder holds no record of what Vardune wrote there, so none of its files can be proven "
                    "Vardune's and none is removed. Each batch keeps that record from now on.");
    else if (scan.record == vardune::WrittenRecord::State::Damaged)
        record = tr("The record of what Vardune wrote in the output folder is damaged, so none of its files can be proven "
                    "Vardune's and none is removed. The next batch begins a new record.");
    else if (scan.record == vardune::WrittenRecord::State::Newer)
        record = tr("The record of what Vardune wrote in the output folder comes from a later version of Vardune, so none "
                    "of its files is removed here.");
    if (scan.unwanted.empty() && scan.outOfList.empty()) {
        say((record.isEmpty() ? tr("Nothing to tidy: every file Vardune made in the output folder comes from a source "
                                   "still there, and none was replaced.")
                              : record)
                + unreachable,
            QMessageBox::Information);
        return;
    }
    std::vector<Tidy::Item> chosen;
    if (!scan.unwanted.empty()) {
        const QString text = tr("%1 in the output folder, made by Vardune, no longer wanted: sources gone, outputs replaced by newer "
                                "ones, or left unfinished by an encoder that was stopped (each listed under Details). Remove?")
                                 .arg(Files(scan.unwanted.size()))
                             + (record.isEmpty() ? QString() : QStringLiteral("\n\n") + record) + unreachable;
        if (Module1::MsgBox(c_.window, {text, title, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                                        QMessageBox::No, {}, listed(scan.unwanted)})
            == QMessageBox::Yes)
            chosen = scan.unwanted;
    }
    // Outputs whose sources still exist go only on a word of their own, never by default.
    if (!scan.outOfList.empty()) {
        const QString text = tr("%1 in the output folder made by Vardune from sources that still exist but are no longer in the "
                                "Vardo list (each listed under Details). Remove as well?")
                                 .arg(Files(scan.outOfList.size()))
                             + (scan.unwanted.empty() ? unreachable : QString());
        if (Module1::MsgBox(c_.window, {text, title, QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                                        QMessageBox::No, {}, listed(scan.outOfList)})
            == QMessageBox::Yes)
            chosen.insert(chosen.end(), scan.outOfList.begin(), scan.outOfList.end());
    }
    if (chosen.empty())
        return;
    Tidy::Removal result;
    RunOffWindow([&] { result = tidy->Remove(folder, scan, chosen, cutoff); });
    QString done = tr("%1 removed.").arg(Files(result.removed.size()));
    if (!result.foldersRemoved.empty())
        done += QLatin1Char(' ') + (result.foldersRemoved.size() == 1 ? tr("1 folder left empty removed.")
                                                                  : tr("%1 folders left empty removed.").arg(result.foldersRemoved.size()));
    const std::size_t playlists = result.playlistsWritten.size() + result.playlistsRemoved.size();
    if (playlists > 0)
        done += QLatin1Char(' ') + (playlists == 1 ? tr("1 playlist written again without them.")
                                               : tr("%1 playlists written again without them.").arg(playlists));
    QString details;
    for (const std::string& path : result.removed)
        details += tr("removed: ") + Module1::ToQt(path) + QLatin1Char('\n');
    for (const auto& [path, why] : result.kept)
        details += tr("kept: ") + Module1::ToQt(path) + QStringLiteral(" (") + Module1::ToQt(why) + QStringLiteral(")\n");
    if (!result.kept.empty())
        done += QStringLiteral("\n\n") + tr("%1 kept: changed since listed (each under Details).").arg(Files(result.kept.size()));
    say(done, result.kept.empty() ? QMessageBox::Information : QMessageBox::Warning, details);
}

void VardoListActions::RetrySelectedEntries()
{
    emit CommandBegun();
    std::vector<std::uint64_t> failed;
    for (const QModelIndex& row : c_.view->selectionModel()->selectedRows()) {
        const vardune::VardoEntry& e = c_.list->List().At(static_cast<std::size_t>(row.row()));
        if (e.state == vardune::EntryState::Failed)
            failed.push_back(e.id);
    }
    // In list order, so of two failed entries for one file the first waits again.
    std::sort(failed.begin(), failed.end());
    std::vector<std::string> refused;
    for (std::uint64_t id : failed)
        if (!c_.list->Retry(id)) {
            const vardune::VardoEntry& e = c_.list->List().At(static_cast<std::size_t>(c_.list->List().Find(id)));
            refused.push_back(e.sourcePath + e.sourceName);
        }
    // A file that waits in another entry already is converted there.
    ShowRefused(refused, AddCheck::Duplicate);
}

void VardoListActions::OpenOutput(std::uint64_t entry)
{
    emit CommandBegun();
    const long row = c_.list->List().Find(entry);
    if (row >= 0)
        Module1::OpenFile(c_.window, Module1::ToQt(c_.list->List().At(static_cast<std::size_t>(row)).targetPath));
}

void VardoListActions::ShowOutputInFolder(std::uint64_t entry)
{
    emit CommandBegun();
    const long row = c_.list->List().Find(entry);
    if (row >= 0)
        Module1::ShowInFolder(c_.window, Module1::ToQt(c_.list->List().At(static_cast<std::size_t>(row)).targetPath));
}

