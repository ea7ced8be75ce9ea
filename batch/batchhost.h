#pragma once
#include "batchwalk.h"
#include "configtable.h"
#include "loudnesslevel.h"
#include "outputlayout.h"

#include <QString>

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

class EncoderPool;
class QObject;
class VardoListModel;

// What a batch takes from whoever runs it: the list of files, the output folder, the
// program's encoder pool, the tags read of each source and the playlists to carry; and where it
// tells each entry's outcome. The main window is one such host, the command line another:
// both run the same batch, so both name and convert every file alike.
class BatchHost {
public:
    // A playlist found in an added folder (or added itself), carried to the outputs when a
    // batch ends. Not an entry of the Vardo list: it is not converted, and its tracks are.
    struct CarriedPlaylist {
        std::string path;  // the playlist file
        std::string root;  // the folder it was added from (its own folder when added itself)
    };

    virtual ~BatchHost() = default;

    // The object whose end ends the host: the batch stops speaking to it then.
    virtual QObject* HostObject() = 0;
    // The settings the batch converts by (the profile, where outputs go, even loudness), as
    // they stand now.
    virtual const vardune::Settings& BatchSettings() const = 0;
    virtual VardoListModel* BatchList() = 0;
    // The output folder as the user wrote it; the batch writes it back with its separator.
    virtual QString OutputFolderText() const = 0;
    virtual void SetOutputFolderText(const QString& folder) = 0;
    // The program's encoders: the job limit, the encoders of every batch and the output
    // names they write now.
    virtual EncoderPool& Pool() = 0;
    // The tags the encoder read of an entry's source, or nullptr while they are not read (or
    // it cannot be read).
    virtual const vardune::OutputLayout::Tags* SourceTags(std::uint64_t entry) const = 0;
    // Whether the encoder has yet to say what it read of an entry's source.
    virtual bool SourceTagsPending(std::uint64_t entry) const = 0;
    // The playing time of an entry's source as the encoder measured it, 0 while unknown: how
    // many cores the file can use.
    virtual double SourceSeconds(std::uint64_t /*entry*/) const { return 0; }
    // Even loudness: what was measured of an entry's source before the batch (while the list
    // was put together), its file unchanged since; nullptr when it has yet to be measured.
    // The optional is empty for a source that could not be measured.
    virtual const std::optional<vardune::LoudnessLevel::Measure>* MeasuredAhead(std::uint64_t /*entry*/) const
    {
        return nullptr;
    }
    // Asks for what the encoder reads of every waiting file (its tags among it), again for a
    // file edited since it was read.
    virtual void ReadEditedSources() = 0;
    virtual const std::vector<CarriedPlaylist>& Playlists() const = 0;
    // Whether the desktop should tell of the batch's end: nobody is looking at the program.
    virtual bool WantsDesktopNotice() const = 0;
    // The desktop is to tell of the batch's end (it wanted to be told, and files were taken up).
    virtual void TellDesktop(const QString& /*summary*/) {}
    // An entry's outcome has been written into the list.
    virtual void EntryRecorded(std::uint64_t /*entry*/, const std::string& /*target*/,
                               const vardune::BatchWalk::Outcome& /*outcome*/)
    {
    }
    // False when the batch must leave the disk as it is (a dry run): no folder is made, no
    // picture or playlist carried.
    virtual bool Writes() const { return true; }
    // True when the host only wants each file's encoder command, to run it elsewhere: the
    // batch decides every name as it would to convert, then hands the command to Planned
    // instead of starting it, and keeps the name taken.
    virtual bool PlansOnly() const { return false; }
    virtual void Planned(std::uint64_t /*entry*/, const std::string& /*source*/, const std::string& /*target*/,
                         const std::string& /*program*/, const std::vector<std::string>& /*arguments*/)
    {
    }
};
