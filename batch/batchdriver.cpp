#include "batchdriver.h"

#include "encoderpool.h"
#include "encoderprogram.h"
#include "loudnesspass.h"
#include "outputvolume.h"
#include "textbridge.h"
#include "vardolistmodel.h"

#include "encodercommand.h"
#include "encoderleftover.h"
#include "folderpicture.h"
#include "numerictext.h"
#include "outputplan.h"
#include "pictureheader.h"
#include "playlistcarrier.h"
#include "sourcemark.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>

#include <algorithm>
#include <filesystem>
#include <cerrno>
#include <cstring>

#include <cstdio>
#include <cstdlib>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// The measuring pass's share of a file in the batch's progress and time left: decoding and
// measuring a source takes about a fifth of the time of encoding it (bench/level.sh).
constexpr double kMeasureShare = 0.2;
// The progress entry of a file's measuring, apart from its encoding's.
constexpr std::uint64_t kMeasuring = std::uint64_t(1) << 63;

bool IsAscii(const std::string& text)
{
    return std::all_of(text.begin(), text.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

// A folder picture up to this, in bytes and pixels a side, is copied as it is; a larger one
// is shrunk by the encoder, as embedded covers are.
constexpr qint64 kMaxPictureBytes = 300 * 1000;
constexpr unsigned kMaxPictureSide = 600;

// Puts bytes at path without ever replacing a file there: written to a temporary file in the
// same folder and moved into place only while nothing stands at path. False when something
// does, or the folder refuses.
bool WriteNew(const std::string& path, const QByteArray& bytes)
{
    const std::string folder = path.substr(0, path.rfind('/') + 1);
    std::string temporary = folder + ".vardune-XXXXXX";
    const int fd = mkstemp(temporary.data());
    if (fd < 0)
        return false;
    qint64 done = 0;
    while (done < bytes.size()) {
        const ssize_t n = write(fd, bytes.constData() + done, static_cast<std::size_t>(bytes.size() - done));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        done += n;
    }
    const bool written = done == bytes.size() && fsync(fd) == 0;
    if (close(fd) != 0 || !written) {
        unlink(temporary.c_str());
        return false;
    }
    fchmodat(AT_FDCWD, temporary.c_str(), 0644, 0);
    // Moved only where nothing stands; a file system that cannot say so (no such move, no
    // hard links: FAT through some drivers) gets a look first, which is as much as it allows.
    bool placed = renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0;
    if (!placed && errno != EEXIST) {
        if (link(temporary.c_str(), path.c_str()) == 0)
            placed = true;
        else if (errno != EEXIST) {
            struct stat st {};
            placed = lstat(path.c_str(), &st) != 0 && errno == ENOENT && rename(temporary.c_str(), path.c_str()) == 0;
        }
    }
    unlink(temporary.c_str());
    return placed;
}

// The file's real path (links resolved), as carried playlists name sources; as it stands when
// it cannot be resolved.
std::string RealPath(const std::string& path)
{
    char* real = realpath(path.c_str(), nullptr);
    if (!real)
        return path;
    std::string result(real);
    std::free(real);
    return result;
}

} // namespace

BatchDriver::BatchDriver(BatchHost* main, BatchBoard* board, QObject* parent)
    : QObject(parent)
    , main_(main, main->HostObject())
    , board_(board, board ? board->BoardObject() : nullptr)
    , walk_(main->Pool().Names().Folding())
    , refresh_(new QTimer(this))
    , clockTick_(new QTimer(this))
{
    // Percent lines come many times a second from every encoder; the rows and the board are
    // redrawn only as often as a reader can follow.
    refresh_->setSingleShot(true);
    refresh_->setInterval(250);
    connect(refresh_, &QTimer::timeout, this, &BatchDriver::ShowPercents);
    // The time left moves on while no encoder has news, too.
    clockTick_->setInterval(1000);
    connect(clockTick_, &QTimer::timeout, this, &BatchDriver::ShowBatchProgress);
    pool_ = &main->Pool();
    pool_->Join(this);
    walk_.SetSomeoneElses(
        [this](const std::string& output, const std::string& source) { return reader_.SomeoneElses(output, source); });
}

BatchDriver::~BatchDriver()
{
    if (pool_)
        pool_->Leave(this);
}

void BatchDriver::EncoderEnded()
{
    if (pool_)
        pool_->Resume();
}

int BatchDriver::Running() const
{
    return static_cast<int>(jobs_.size()) + (pass_ ? pass_->Running() : 0);
}

bool BatchDriver::MayStart() const
{
    return main_ && board_ && board_->Going() && !folderFull_ && !stopping_;
}

int BatchDriver::StopEncoders()
{
    stopping_ = true;
    int asked = 0;
    for (const Job& job : jobs_)
        if (job.process && job.process->state() != QProcess::NotRunning) {
            job.process->terminate();
            ++asked;
        }
    for (QProcess* process : std::as_const(pictures_))
        if (process->state() != QProcess::NotRunning) {
            process->terminate();
            ++asked;
        }
    return asked;
}

void BatchDriver::VardoMediaFile()
{
    const vardune::VardoList& list = main_->BatchList()->List();
    walk_.Start(list, board_ ? board_->FilesChosen() : std::nullopt);
    std::vector<std::pair<std::uint64_t, double>> files;
    for (const std::uint64_t id : walk_.Ids())
        files.emplace_back(id, vardune::LeadingNumber(list.At(static_cast<std::size_t>(list.Find(id))).sourceSize));
    levelling_ = vardune::LoudnessLevel::ModeFrom(main_->BatchSettings().evenLoudness);
    if (levelling_ != vardune::LoudnessLevel::Mode::Off)
        for (std::size_t i = 0, n = files.size(); i < n; ++i)
            files.emplace_back(files[i].first | kMeasuring, files[i].second * kMeasureShare);
    // The names the folder takes are learned before the first file is named, so the batch names
    // every output as its forecast and a dry run did.
    names_ = OutputVolume::NameRules(main_->OutputFolderText());
    layout_ = vardune::OutputLayout::FromSettings(main_->BatchSettings().outputLayout, main_->BatchSettings().namePattern);
    startQuality_ = main_->BatchSettings().profile.quality;
    // The folder's device: a card pulled mid-batch leaves the bare mount point, on another
    // disk, where nothing may be written.
    folder_ = vardune::BatchWalk::NormaliseOutputFolder(TextBridge::FromQt(main_->OutputFolderText()));
    if (main_->Writes())
        device_ = OutputVolume::Device(TextBridge::ToQt(folder_));
    progress_.Start(files);
    clock_.start();
    began_ = std::time(nullptr);
    clockTick_->start();
    limit_ = main_->Pool().Limit();
    if (board_) {
        board_->BatchStarted(TextBridge::ToQt(vardune::BatchWalk::CounterText(walk_.Total())));
    }
    if (levelling_ != vardune::LoudnessLevel::Mode::Off) {
        MeasureLoudness();
        return;
    }
    Proceed();
}

void BatchDriver::MeasureLoudness()
{
    measuring_ = true;
    const vardune::VardoList& list = main_->BatchList()->List();
    std::vector<std::pair<std::uint64_t, std::string>> sources;
    for (const std::uint64_t id : walk_.Ids()) {
        // Measured while the list was put together: nothing left to do for it.
        if (const auto* ahead = main_->MeasuredAhead(id)) {
            measures_[id] = *ahead;
            progress_.Update(id | kMeasuring, 100, 0);
            continue;
        }
        const vardune::VardoEntry& entry = list.At(static_cast<std::size_t>(list.Find(id)));
        sources.emplace_back(id, entry.sourcePath + entry.sourceName);
    }
    if (sources.empty()) {
        QTimer::singleShot(0, this, &BatchDriver::LoudnessMeasured);
        return;
    }
    if (board_)
        board_->ShowStatus(QStringLiteral("Measuring loudness\u2026"));
    // As many at once as the pool has places free (other batches' encoders may still run).
    pass_ = new LoudnessPass(std::move(sources), std::max(1, limit_ - main_->Pool().Busy()),
        vardune::EncoderCommand::SoundOptions(main_->BatchSettings().profile), this);
    connect(pass_, &LoudnessPass::Measured, this, [this](std::uint64_t id) {
        progress_.Update(id | kMeasuring, 100, clock_.elapsed() / 1000.0);
        if (!MayStart() && pass_) {
            // The board was closed: nothing more is measured, nothing starts.
            measuring_ = false;
            pass_->deleteLater();
            pass_ = nullptr;
            QTimer::singleShot(0, this, &BatchDriver::Proceed);
            return;
        }
        if (!refresh_->isActive())
            refresh_->start();
    });
    connect(pass_, &LoudnessPass::Finished, this, &BatchDriver::LoudnessMeasured, Qt::QueuedConnection);
    pass_->Start();
}

void BatchDriver::LoudnessMeasured()
{
    if (!main_ || !measuring_)
        return;
    measuring_ = false;
    if (pass_) {
        for (const auto& [id, measure] : pass_->Measures())
            measures_[id] = measure;
    }
    // Each file's gain: its own, or its album's (its folder's files with the same album tag).
    const vardune::VardoList& list = main_->BatchList()->List();
    std::vector<std::uint64_t> ids;
    std::vector<vardune::LoudnessLevel::Source> sources;
    for (const auto& [id, measure] : measures_) {
        const long position = list.Find(id);
        if (position < 0)
            continue;
        ids.push_back(id);
        sources.push_back({list.At(static_cast<std::size_t>(position)).sourcePath, measure ? &*measure : nullptr});
    }
    const std::vector<vardune::LoudnessLevel::Level> levels = vardune::LoudnessLevel::Levels(levelling_, sources);
    for (std::size_t i = 0; i < ids.size(); ++i)
        levels_[ids[i]] = levels[i];
    measures_.clear();
    if (pass_)
        pass_->deleteLater();
    pass_ = nullptr;
    Proceed();
}

void BatchDriver::Proceed()
{
    if (layout_.Layout() == vardune::OutputLayout::Kind::NamesFromTags) {
        main_->ReadEditedSources();  // every waiting file's facts are asked for, edited ones again
        WaitForTags();
        return;
    }
    Fill();
}

void BatchDriver::WaitForTags()
{
    if (main_ && MayStart()) {
        const vardune::VardoList& list = main_->BatchList()->List();
        for (const std::uint64_t id : walk_.Ids()) {
            if (list.Find(id) >= 0 && main_->SourceTagsPending(id)) {
                if (board_)
                    board_->ShowStatus(QStringLiteral("Reading tags\u2026"));
                QTimer::singleShot(100, this, &BatchDriver::WaitForTags);
                return;
            }
        }
    }
    Fill();
}

vardune::EncodingProfile BatchDriver::Profile() const
{
    // A choice confirmed in Options during the batch reaches the next file; the bitrate chosen
    // to make the selection fit holds while the quality stays the one the batch began with.
    vardune::EncodingProfile profile = main_->BatchSettings().profile;
    if (board_ && board_->ChosenBitrate() > 0 && profile.quality == startQuality_)
        profile.bitrate = board_->ChosenBitrate();
    return profile;
}

void BatchDriver::Fill()
{
    // Encoders that cannot be started fail their entries one after the other, here, without
    // waiting for anything, and outputs up to date are done so too. A long run of those gives
    // the event loop its turn every few dozen milliseconds, so the window and the board follow.
    const std::string markProfile = vardune::EncoderCommand::MarkProfile(Profile());
    QElapsedTimer slice;
    slice.start();
    // A file waiting to start takes a core back from an encoder that was lent more than one.
    while (!walkOver_ && MayStart()
           && (Running() == 0 || main_->Pool().Busy() < limit_
               || (walk_.Current() < walk_.Total() && main_->Pool().TakeBack()))) {
        if (slice.elapsed() >= 40) {
            QTimer::singleShot(0, this, &BatchDriver::Resume);
            break;
        }
        const auto id = walk_.Next(main_->BatchList()->List());
        if (!id) {
            walkOver_ = true;
            break;
        }
        const vardune::VardoList& list = main_->BatchList()->List();
        const vardune::VardoEntry& entry = list.At(static_cast<std::size_t>(list.Find(*id)));
        const std::string source = entry.sourcePath + entry.sourceName;
        const QString number = TextBridge::ToQt(vardune::BatchWalk::CounterText(walk_.Current()));
        board_->ShowSource(number, TextBridge::ShownPath(source));
        shown_ = *id;
        numbers_[*id] = number;

        // The separator goes into the box itself, so the stored output folder keeps it.
        const std::string folder = vardune::BatchWalk::NormaliseOutputFolder(TextBridge::FromQt(main_->OutputFolderText()));
        if (TextBridge::ToQt(folder) != main_->OutputFolderText())
            main_->SetOutputFolderText(TextBridge::ToQt(folder));
        folder_ = folder;
        std::string target = TargetFor(entry, folder);
        // An output up to date is what the encoder would leave as it is: it is not started.
        // Levelled, it is up to date only at the same gain. Its folders are there.
        const auto level = levels_.find(*id);
        const std::string suffix = level == levels_.end() ? std::string() : vardune::LoudnessLevel::ProfileSuffix(level->second);
        const bool upToDate = reader_.UpToDate(target, entry.sourcePath + entry.sourceName, markProfile + suffix);
        if (!upToDate && FolderLost()) {
            // Nothing more is written there: the entry stays waiting, as every one after it.
            LoseFolder();
            break;
        }
        std::string why;
        bool nameRefused = false;
        bool made = upToDate || !main_->Writes() || MakeFolders(folder, target, why, nameRefused);
        if (!made && nameRefused && !names_.ascii && !IsAscii(target.substr(folder.size()))) {
            // The card refused a folder's name for its letters: this entry, and every later
            // one of the batch, gets ASCII names, as when it refuses a file's name.
            names_.ascii = true;
            target = TargetFor(entry, folder);
            made = MakeFolders(folder, target, why, nameRefused);
        }
        board_->ShowTarget(TextBridge::ToQt(target));
        if (!made) {
            Refuse(*id, target, why);
            continue;
        }
        // The first time the batch touches a folder, what encoders killed outright left in it
        // goes (a plan's too: it may follow a run that was killed).
        if (main_->Writes()) {
            const std::string targetFolder = target.substr(0, target.rfind('/') + 1);
            if (clearedFolders_.insert(targetFolder).second)
                vardune::EncoderLeftover::Clear(targetFolder, began_);
        }

        // The name is taken from here until its encoder has ended, for every batch.
        main_->Pool().Names().Take(target);
        // One made from this source before it moved is up to date too, but its mark is to be
        // named after the source's new path: by the encoder, which writes nothing else. A plan
        // and a dry run only say it is up to date.
        if (upToDate && !main_->PlansOnly() && reader_.Moved(target, entry.sourcePath + entry.sourceName)) {
            main_->BatchList()->SetConverting(*id, true);
            if (MediaConvert(source, target, *id) != 0)
                Record({nullptr, *id, target}, -1, 0, QString());
            continue;
        }
        if (upToDate) {
            // Its size as just looked at: a re-run over ten thousand outputs looks once.
            Record({nullptr, *id, target}, 0, 0,
                   QStringLiteral("fastencc: ") + QString::fromLatin1(vardune::BatchWalk::kUpToDateNote),
                   " " + std::to_string(static_cast<long long>(reader_.At(target).bytes)));
            continue;
        }

        main_->BatchList()->SetConverting(*id, true);
        if (MediaConvert(source, target, *id) != 0)
            Record({nullptr, *id, target}, -1, 0, QString());
    }
    ShowBatchProgress();
    if (jobs_.empty() && pictures_.isEmpty() && (walkOver_ || !MayStart()))
        EndBatch();
}

int BatchDriver::MediaConvert(const std::string& Source, const std::string& Target, std::uint64_t entry)
{
    const vardune::EncodingProfile profile = Profile();
    // The paths go to the encoder byte for byte: a name need not be UTF-8.
    std::vector<std::string> arguments = vardune::EncoderCommand::Arguments(Source, Target, profile);
    const auto level = levels_.find(entry);
    if (level != levels_.end())
        for (const std::string& argument : vardune::LoudnessLevel::Arguments(level->second))
            arguments.push_back(argument);
    const QString program = EncoderProgram::Path();
    // The cores it starts with: those the files after it cannot use. A file that may outlast
    // them is started so that it can take more as they end. A plan run elsewhere gives each
    // encoder one core: the engine that runs it decides how many run at once.
    const double seconds = PlayingTime(entry);
    if (!waitingSeconds_) {
        double waiting = 0;
        const auto& ids = walk_.Ids();
        for (std::size_t i = static_cast<std::size_t>(std::max(0, walk_.Current())); i < ids.size(); ++i)
            waiting += PlayingTime(ids[i]);
        waitingSeconds_ = waiting;
    }
    const vardune::CoreShare::Start share = main_->PlansOnly()
        ? vardune::CoreShare::Start {}
        : vardune::CoreShare::ForStart(limit_ - main_->Pool().Busy(), limit_, walk_.Total() - walk_.Current(), seconds,
                                       *waitingSeconds_);
    waitingSeconds_ = std::max(0.0, *waitingSeconds_ - seconds);
    // One encoder is asked for as two, then told to work on one: only so does it listen.
    const int startedWith = share.segmented ? std::max(2, share.threads) : 1;
    arguments.push_back("-threads");
    arguments.push_back(std::to_string(startedWith));
    if (main_->PlansOnly()) {
        // Run elsewhere: the name stays taken for the rest of the batch, as while it encodes.
        main_->Planned(entry, Source, Target, QFile::encodeName(program).toStdString(), arguments);
        return 0;
    }

    // One that can take more or fewer cores is told so on its standard input, and told that it
    // is (a plan's commands never are: their standard input is the engine's that runs them).
    if (share.segmented)
        arguments.push_back("-threads-stdin");
    auto* process = new QProcess(this);
    EncoderProgram::SetCommand(*process, arguments);
    // Its percent lines come on standard output; its error line says why a file failed.
    if (!share.segmented)
        process->setStandardInputFile(QProcess::nullDevice());
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] { ReadProgress(process); });
    connect(process, &QProcess::finished, this,
            [this, process](int exitCode, QProcess::ExitStatus status) { EncoderFinished(process, exitCode, status); });
    connect(process, &QProcess::errorOccurred, this,
            [this, process](QProcess::ProcessError error) { EncoderError(process, error); });
    // The start is reported by signal: the window never waits for an encoder to come up.
    process->start();
    if (process->state() == QProcess::NotRunning && process->error() == QProcess::FailedToStart) {
        process->disconnect(this);
        process->deleteLater();
        return -1;
    }
    Job job {process, entry, Target};
    job.source = TextBridge::ShownPath(Source);
    clock_gettime(CLOCK_REALTIME, &job.started);
    job.threads = share.threads;
    job.segmented = share.segmented;
    job.seconds = seconds;
    if (share.segmented && share.threads != startedWith)
        process->write(QByteArrayLiteral("threads ") + QByteArray::number(share.threads) + '\n');
    jobs_.push_back(job);
    return 0;
}

double BatchDriver::PlayingTime(std::uint64_t entry) const
{
    if (const double measured = main_->SourceSeconds(entry); measured > 0)
        return measured;
    // Not read yet (a batch started as the files were added): reckoned from the size as an
    // MP3 of 128 kbit/s. Too long a guess costs little: the encoder does not split a file
    // shorter than a segment.
    const vardune::VardoList& list = main_->BatchList()->List();
    const long position = list.Find(entry);
    return position < 0 ? 0.0 : vardune::LeadingNumber(list.At(static_cast<std::size_t>(position)).sourceSize) / 16000.0;
}

int BatchDriver::BusyCores() const
{
    int busy = pass_ ? pass_->Running() : 0;
    for (const Job& job : jobs_)
        busy += job.threads;
    return busy;
}

bool BatchDriver::WaitsToStart() const
{
    return !walkOver_ && !ended_ && MayStart() && walk_.Current() < walk_.Total();
}

std::vector<vardune::CoreShare::Running> BatchDriver::Shares() const
{
    std::vector<vardune::CoreShare::Running> shares;
    for (const Job& job : jobs_)
        shares.push_back({job.threads, vardune::CoreShare::SegmentsLeft(job.seconds, job.percent), job.segmented});
    return shares;
}

void BatchDriver::SetShares(const std::vector<int>& threads)
{
    std::size_t i = 0;
    for (Job& job : jobs_) {
        if (i >= threads.size())
            break;
        const int wanted = threads[i++];
        if (wanted == job.threads || !job.segmented || !job.process)
            continue;
        job.threads = wanted;
        job.process->write(QByteArrayLiteral("threads ") + QByteArray::number(wanted) + '\n');
    }
}

std::list<BatchDriver::Job>::iterator BatchDriver::FindJob(const QProcess* process)
{
    for (auto it = jobs_.begin(); it != jobs_.end(); ++it)
        if (it->process == process)
            return it;
    return jobs_.end();
}

void BatchDriver::ReadProgress(QProcess* process)
{
    const auto job = FindJob(process);
    if (job == jobs_.end())
        return;
    int percent = -1;
    while (process->canReadLine()) {
        bool ok = false;
        const int value = process->readLine().trimmed().toInt(&ok);
        if (ok && value >= 0 && value <= 100)
            percent = value;
    }
    // Anything but whole lines stays for the next read; a line that never ends is not ours.
    if (process->bytesAvailable() > 64)
        process->readAllStandardOutput();
    if (percent < 0)
        return;
    job->percent = percent;
    progress_.Update(job->entry, percent, clock_.elapsed() / 1000.0);
    if (!refresh_->isActive())
        refresh_->start();
}

void BatchDriver::ShowPercents()
{
    if (main_)
        for (const Job& job : jobs_)
            main_->BatchList()->SetPercent(job.entry, job.percent);
    ShowBatchProgress();
}

void BatchDriver::EncoderFinished(QProcess* process, int exitCode, QProcess::ExitStatus status)
{
    const auto job = FindJob(process);
    if (job == jobs_.end())
        return;
    QString errorLine;
    // It names the source by its bytes: those that are not UTF-8 show as "\xE9", as in the list.
    const QStringList lines = TextBridge::ShownPath(process->readAllStandardError().toStdString())
                                  .split(QLatin1Char('\n'), Qt::SkipEmptyParts);
    // The entry's tool tip says the gain applied after whatever else the encoder said last.
    QStringList said = lines;
    QString levelled;
    for (qsizetype i = said.size() - 1; i >= 0; --i)
        if (said[i].startsWith(QLatin1String("fastencc: levelled by "))) {
            levelled = said[i].trimmed().mid(10);
            said.removeAt(i);
        }
    if (!said.isEmpty())
        errorLine = said.last().trimmed().left(500);
    if (!levelled.isEmpty())
        errorLine = errorLine.isEmpty() ? QStringLiteral("fastencc: ") + levelled : errorLine + QStringLiteral("; ") + levelled;
    if (status == QProcess::CrashExit) {
        exitCode = exitCode == 0 ? 1 : exitCode;
        if (stopping_)
            errorLine = QStringLiteral("stopped before it was finished: nothing was written");
        else if (errorLine.isEmpty())
            errorLine = QStringLiteral("the encoder stopped unexpectedly");
    }
    // The output folder gone, or its card pulled, fails the file whatever the encoder could
    // tell of it: an output written to a card being unmounted is found nowhere, one whose
    // encoder started as it went lies on the disk under the bare mount point.
    if (FolderLost()) {
        if (status == QProcess::NormalExit && exitCode == 0)
            RemoveStrayOutput(*job);
        status = QProcess::NormalExit;
        exitCode = vardune::BatchWalk::kFolderUnwritableStatus;
        errorLine.clear();
        LoseFolder();
    }
    if (status == QProcess::NormalExit
        && (exitCode == vardune::BatchWalk::kFolderFullStatus || exitCode == vardune::BatchWalk::kFolderUnwritableStatus))
        folderFull_ = true;
    if (status == QProcess::NormalExit && exitCode == vardune::BatchWalk::kFolderFullStatus)
        roomRanOut_ = true;
    if (status != QProcess::NormalExit || !StartUnderAnotherName(*job, exitCode))
        Record(*job, 0, exitCode, errorLine);
    jobs_.erase(job);
    // Not deleted here: this handler runs inside the process object's own signal.
    process->deleteLater();
    Fill();
    ShowConverting();
    EncoderEnded();
}

void BatchDriver::ShowConverting()
{
    if (!board_ || jobs_.empty())
        return;
    for (const Job& job : jobs_)
        if (job.entry == shown_)
            return;
    const Job& longest = jobs_.front();
    shown_ = longest.entry;
    const auto number = numbers_.find(longest.entry);
    board_->ShowSource(number == numbers_.end() ? QString() : number->second, longest.source);
    board_->ShowTarget(TextBridge::ToQt(longest.target));
}

bool BatchDriver::StartUnderAnotherName(const Job& job, int exitStatus)
{
    using vardune::BatchWalk;
    if ((exitStatus != BatchWalk::kTargetTakenStatus && exitStatus != BatchWalk::kNameRefusedStatus) || !main_
        || job.renamings >= 3)
        return false;
    const vardune::VardoList& list = main_->BatchList()->List();
    const long position = list.Find(job.entry);
    if (position < 0)
        return false;
    const vardune::VardoEntry& entry = list.At(static_cast<std::size_t>(position));
    if (exitStatus == BatchWalk::kNameRefusedStatus) {
        // Other encoders may have started under names of the old rules meanwhile: each
        // refusal is judged by the name it refused. Not ASCII: ASCII names from now on; ASCII
        // but not portable: portable names too; else the characters are not why.
        if (!IsAscii(job.target.substr(job.target.rfind('/') + 1)))
            names_.ascii = true;
        else if (!names_.portable)
            names_.portable = true;
        else
            return false;
    }
    const std::string source = entry.sourcePath + entry.sourceName;
    const std::string target = TargetFor(entry, folder_);
    if (target == job.target)
        return false;
    main_->Pool().Names().Release(job.target);
    main_->Pool().Names().Take(target);
    if (board_)
        board_->ShowTarget(TextBridge::ToQt(target));
    if (MediaConvert(source, target, job.entry) != 0) {
        Record({nullptr, job.entry, target}, -1, 0, QString());
        return true;
    }
    jobs_.back().renamings = job.renamings + 1;
    return true;
}

std::string BatchDriver::TargetFor(const vardune::VardoEntry& entry, const std::string& folder)
{
    // The tags come from the encoder's reading for the forecast; a source it has not read
    // (or could not) is named by the fallbacks.
    const vardune::OutputLayout::Tags* tags
        = layout_.Layout() == vardune::OutputLayout::Kind::OneFolder ? nullptr : main_->SourceTags(entry.id);
    reader_.Forget();
    return vardune::OutputPlan::Target(walk_, entry, folder, names_, layout_, main_->Pool().Names(), tags);
}

bool BatchDriver::FolderLost() const
{
    return device_ && OutputVolume::Device(TextBridge::ToQt(folder_)) != device_;
}

void BatchDriver::RemoveStrayOutput(const Job& job)
{
    const vardune::VardoList& list = main_->BatchList()->List();
    const long position = list.Find(job.entry);
    struct stat st {};
    if (position < 0 || !device_ || lstat(job.target.c_str(), &st) != 0 || !S_ISREG(st.st_mode)
        || static_cast<std::uint64_t>(st.st_dev) == *device_
        || st.st_ctim.tv_sec < job.started.tv_sec
        || (st.st_ctim.tv_sec == job.started.tv_sec && st.st_ctim.tv_nsec < job.started.tv_nsec))
        return;
    const vardune::VardoEntry& entry = list.At(static_cast<std::size_t>(position));
    if (vardune::SourceMark::MadeFrom(job.target, entry.sourcePath + entry.sourceName))
        unlink(job.target.c_str());
}

void BatchDriver::LoseFolder()
{
    folderLost_ = true;
    folderFull_ = true;
}

bool BatchDriver::MakeFolders(const std::string& folder, const std::string& target, std::string& why,
                              bool& nameRefused)
{
    nameRefused = false;
    const std::size_t slash = target.rfind('/');
    if (slash == std::string::npos || slash + 1 <= folder.size())
        return true;
    // Level by level, so the one that cannot be made is named, with the system's reason.
    std::string path = folder;
    std::size_t from = folder.size();
    while (from <= slash) {
        const std::size_t end = target.find('/', from);
        path += target.substr(from, end - from);
        const std::string shown = target.substr(folder.size(), end - folder.size());
        from = end + 1;
        struct stat st {};
        if (stat(path.c_str(), &st) == 0) {
            if (S_ISDIR(st.st_mode)) {
                path += '/';
                continue;
            }
            why = "the folder " + shown + " cannot be made: a file of that name is in the way";
            return false;
        }
        if (mkdir(path.c_str(), 0777) != 0 && !(errno == EEXIST && stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode))) {
            const int error = errno;
            // A card that takes ASCII names only refuses other letters (EILSEQ, EINVAL, or
            // EPERM through FUSE), as the encoder finds for file names.
            nameRefused = error == EILSEQ || error == EINVAL || error == EPERM;
            why = "the folder " + shown + " cannot be made: " + std::strerror(error);
            return false;
        }
        path += '/';
    }
    return true;
}

void BatchDriver::Refuse(std::uint64_t entry, const std::string& target, const std::string& why)
{
    main_->BatchList()->SetConverting(entry, false);
    vardune::BatchWalk::Outcome outcome;
    outcome.note = why;
    progress_.Finish(entry, false, 0);
    main_->BatchList()->Record(entry, target, outcome);
    main_->EntryRecorded(entry, target, outcome);
}

void BatchDriver::EncoderError(QProcess* process, QProcess::ProcessError error)
{
    // A crash also ends in finished; only a start that failed ends here.
    if (error != QProcess::FailedToStart)
        return;
    const auto job = FindJob(process);
    if (job == jobs_.end())
        return;
    Record(*job, -1, 0, QString());
    jobs_.erase(job);
    process->disconnect(this);
    process->deleteLater();
    Fill();
    ShowConverting();
    EncoderEnded();
}

void BatchDriver::Resume()
{
    if (!ended_)
        Fill();
}

void BatchDriver::Record(const Job& job, int started, int exitStatus, const QString& errorLine,
                         const std::optional<std::string>& knownSize)
{
    if (!main_)
        return;
    main_->Pool().Names().Release(job.target);
    VardoListModel* model = main_->BatchList();
    model->SetConverting(job.entry, false);
    const vardune::VardoList& list = model->List();
    const long position = list.Find(job.entry);
    const std::string targetSize = started != 0 || exitStatus != 0 ? std::string(" ")
                                   : knownSize                    ? *knownSize
                                                                  : vardune::VardoList::GetFileSize(job.target);
    // Removed while its encoder ran: there is nothing to write into.
    const std::string sourceSize = position < 0 ? std::string(" ") : list.At(static_cast<std::size_t>(position)).sourceSize;
    const auto outcome = vardune::BatchWalk::Judge(started, exitStatus, TextBridge::FromQt(errorLine), targetSize, sourceSize);
    progress_.Finish(job.entry, outcome.state == vardune::EntryState::Done, vardune::LeadingNumber(targetSize),
                     outcome.upToDate);
    if (position >= 0 && outcome.state == vardune::EntryState::Done) {
        const vardune::VardoEntry& entry = list.At(static_cast<std::size_t>(position));
        outputs_[entry.sourcePath + entry.sourceName] = job.target;
        // The source's real path as the plan's reader resolves it: by its folder's, known
        // already, and the one look at the file the batch took (a re-run over ten thousand
        // files resolves a hundred folders, not every path's every level).
        const std::string sourcePath = entry.sourcePath + entry.sourceName;
        const auto resolved = reader_.Source(sourcePath);
        KeepRecord(vardune::WrittenRecord::Kind::Output, job.target, resolved ? resolved->path : RealPath(sourcePath));
        if (main_->Writes())
            CarryFolderPicture(entry, job.target);
    }
    if (position >= 0)
        model->Record(job.entry, job.target, outcome);
    main_->EntryRecorded(job.entry, job.target, outcome);
}

void BatchDriver::CarryFolderPicture(const vardune::VardoEntry& entry, const std::string& target)
{
    using Kind = vardune::OutputLayout::Kind;
    const std::size_t slash = target.rfind('/');
    if (layout_.Layout() == Kind::OneFolder || slash == std::string::npos || folderLost_)
        return;
    const std::string outputFolder = target.substr(0, slash + 1);
    // Kept folders match a source folder only below the folder it was added from; outputs
    // straight in the output folder (names from tags, files added from a file view) may mix
    // albums there.
    if ((layout_.Layout() == Kind::KeepFolders && entry.root.empty()) || outputFolder == folder_)
        return;
    if (!picturedFolders_.insert(outputFolder).second || FolderLost())
        return;
    // The source folder's files by their bytes: its name, or a picture's, need not be UTF-8.
    std::vector<std::string> names;
    std::error_code error;
    for (std::filesystem::directory_iterator it(entry.sourcePath, error), end; !error && it != end; it.increment(error))
        if (std::error_code kind; it->is_regular_file(kind))
            names.push_back(it->path().filename().string());
    const auto picked = vardune::FolderPicture::Pick(names);
    if (!picked)
        return;
    const std::string source = entry.sourcePath + *picked;
    // A small JPEG or PNG, plainly so by its header, is copied as it is; anything else is the
    // encoder's to decode, by the rule it shrinks embedded covers with, away from the batch.
    QByteArray bytes;
    if (const int fd = ::open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK); fd >= 0) {
        QFile file;
        if (file.open(fd, QIODevice::ReadOnly, QFileDevice::AutoCloseHandle))
            bytes = file.read(kMaxPictureBytes + 1);
        else
            ::close(fd);
    }
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.constData());
    const auto header = vardune::PictureHeader::Read(data, static_cast<std::size_t>(bytes.size()));
    const bool small = bytes.size() <= kMaxPictureBytes
                       && vardune::PictureHeader::PlainlyWithin(data, static_cast<std::size_t>(bytes.size()), kMaxPictureSide);
    const bool jpeg = header && header->kind == vardune::PictureHeader::Kind::Jpeg;
    const std::string output = outputFolder + vardune::FolderPicture::OutputName(*picked, !small || jpeg);
    struct stat st {};
    // A picture the user put there, or an earlier batch wrote, stays as it is.
    if (lstat(output.c_str(), &st) == 0)
        return;
    if (!small) {
        ShrinkPicture(source, output);
        return;
    }
    if (WriteNew(output, bytes))
        KeepRecord(vardune::WrittenRecord::Kind::Picture, output, RealPath(entry.sourcePath + *picked));
}

void BatchDriver::ShrinkPicture(const std::string& source, const std::string& output)
{
    auto* process = new QProcess(this);
    EncoderProgram::SetCommand(*process, {"--picture", source, output});
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    process->setStandardErrorFile(QProcess::nullDevice());
    // A picture that cannot be decoded is left out, as a cover the encoder cannot read is.
    const auto ended = [this, process, source, output] {
        if (!pictures_.remove(process))
            return;
        if (process->exitStatus() == QProcess::NormalExit && process->exitCode() == 0)
            KeepRecord(vardune::WrittenRecord::Kind::Picture, output, RealPath(source));
        process->disconnect(this);
        process->deleteLater();
        Fill();
    };
    connect(process, &QProcess::finished, this, ended);
    connect(process, &QProcess::errorOccurred, this, [ended](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            ended();
    });
    pictures_.insert(process);
    process->start();
}

void BatchDriver::KeepRecord(vardune::WrittenRecord::Kind kind, const std::string& path, const std::string& source)
{
    if (!main_ || !main_->Writes() || folder_.empty())
        return;
    if (!record_)
        record_ = std::make_unique<vardune::RecordKeeper>(folder_);
    record_->Wrote(kind, path, source);
    replaced_ += record_->Supersede(kind, source, path).size();
}

QStringList BatchDriver::CarryPlaylists()
{
    QStringList said;
    // Nothing is carried to a folder that is gone: it would be made again on another disk.
    if (!main_ || outputs_.empty() || !main_->Writes() || main_->Playlists().empty() || folderLost_ || FolderLost())
        return said;
    // Playlists name sources by their real paths (resolved here, once, for a batch that
    // carries some).
    std::map<std::string, std::string> made;
    for (const auto& [source, output] : outputs_)
        made[RealPath(source)] = output;
    // A playlist is written again when this batch made one of its tracks; its other tracks are
    // those still done in the list from earlier batches (a retried track does not leave out
    // the rest of its album), their outputs in place.
    std::map<std::string, std::string> outputs;
    bool listRead = false;
    const auto everyOutput = [&]() -> const std::map<std::string, std::string>& {
        if (!listRead) {
            listRead = true;
            struct stat st {};
            for (const vardune::VardoEntry& entry : main_->BatchList()->List().Entries())
                if (entry.state == vardune::EntryState::Done && !entry.targetPath.empty()
                    && stat(entry.targetPath.c_str(), &st) == 0 && S_ISREG(st.st_mode))
                    outputs[RealPath(entry.sourcePath + entry.sourceName)] = entry.targetPath;
            for (const auto& [source, output] : made)
                outputs[source] = output;
        }
        return outputs;
    };
    for (const BatchHost::CarriedPlaylist& source : main_->Playlists()) {
        const QString name = QFileInfo(TextBridge::ToQt(source.path)).fileName();
        const auto playlist = vardune::PlaylistCarrier::Read(source.path);
        if (!playlist)
            continue;
        const std::string planned = vardune::PlaylistCarrier::OutputPath(source.path, source.root, layout_, names_, folder_);
        // None of its tracks were written: nothing is carried, and nothing said.
        if (vardune::PlaylistCarrier::Carry(*playlist, made, planned).written == 0)
            continue;
        const std::string path = vardune::PlaylistCarrier::FreePath(planned, source.path);
        if (path.empty()) {
            said << QStringLiteral("Playlist %1: not written, no free name").arg(name);
            continue;
        }
        const auto carried = vardune::PlaylistCarrier::Carry(*playlist, everyOutput(), path);
        std::string error;
        std::string why;
        bool refused = false;
        if (!MakeFolders(folder_, path, why, refused) || !vardune::PlaylistCarrier::Write(path, carried.text, &error))
            said << QStringLiteral("Playlist %1: not written, %2").arg(name, TextBridge::ToQt(why.empty() ? error : why));
        else {
            said << QStringLiteral("Playlist %1: %2").arg(name, TextBridge::ToQt(carried.Summary()));
            KeepRecord(vardune::WrittenRecord::Kind::Playlist, path, RealPath(source.path));
        }
    }
    return said;
}

void BatchDriver::ShowBatchProgress()
{
    if (progress_.Percent() != shownPercent_) {
        shownPercent_ = progress_.Percent();
        emit ProgressChanged(shownPercent_);
    }
    if (board_)
        board_->ShowBatchLine(TextBridge::ToQt(progress_.Line(clock_.elapsed() / 1000.0)));
}

void BatchDriver::EndBatch()
{
    if (ended_)
        return;
    ended_ = true;
    clockTick_->stop();
    // Whoever is elsewhere learns how the batch went; whoever watches sees it in the list.
    // Asked before the board closes, which takes the activation with it.
    const bool watched = !main_ || !main_->WantsDesktopNotice();
    if (board_)
        board_->EndBoard();
    const bool tookUp = progress_.Done() + progress_.UpToDate() + progress_.Failed() > 0;
    QString summary = tookUp ? TextBridge::ToQt(progress_.Summary()) : QString();
    const QStringList playlists = CarryPlaylists();
    if (!playlists.isEmpty())
        summary += QStringLiteral("; ") + playlists.join(QStringLiteral("; "));
    if (folderLost_)
        summary += QStringLiteral("; stopped: the output folder can no longer be written");
    record_.reset();
    if (replaced_ > 0)
        summary += replaced_ == 1 ? QStringLiteral("; 1 earlier output removed")
                                  : QStringLiteral("; %1 earlier outputs removed").arg(replaced_);
    if (!watched && tookUp)
        main_->TellDesktop(summary);
    emit Finished(summary);
    deleteLater();
}
