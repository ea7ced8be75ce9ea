#include "consolebatch.h"

#include "consoletidy.h"

#include "batchdriver.h"
#include "encoderpool.h"
#include "forecastreader.h"
#include "module1.h"
#include "outputvolume.h"
#include "shutdownsignals.h"
#include "vardolistmodel.h"

#include "batchprogress.h"
#include "mediafolder.h"
#include "numerictext.h"
#include "outputfolder.h"
#include "outputlayout.h"
#include "outputplan.h"
#include "loudnesslevel.h"
#include "pathtext.h"
#include "playlistcarrier.h"
#include "sizeforecast.h"
#include "standardoutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

#include <filesystem>

#include <unistd.h>

int ConsoleBatch::Main(int argc, char* argv[])
{
    std::vector<std::string> arguments(argv + 1, argv + argc);
    std::string error;
    const auto command = vardune::ConsoleCommand::Parse(arguments, error);
    if (!command) {
        std::fprintf(stderr, "vardune: %s\n%s", error.c_str(), vardune::ConsoleCommand::Usage());
        return kUsage;
    }
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("Vardune"));
    // The settings file gives the defaults only when asked; it is never written (nor set
    // aside) from here: the window does that when it next starts.
    if (command->useSettings) {
        const std::string refused = Module1::ReadConfig();
        if (!refused.empty())
            ConsoleOutput::Warn("the settings file " + Module1::FromQt(Module1::ConfigFilePath()) + " is not read: " + refused
                                + "; the defaults are used");
    } else {
        Module1::settings() = vardune::Settings {};
    }
    command->Apply(Module1::settings());
    if (const auto fault = vardune::OutputLayout::StoredPatternFault(Module1::settings().outputLayout,
                                                                     Module1::settings().namePattern))
        ConsoleOutput::Warn("the name pattern in the settings file cannot be used: " + *fault
                            + " Names from tags follow the default pattern \"" + vardune::OutputLayout::kDefaultPattern
                            + "\" (mend it in the window's Options, or give --pattern).");

    ConsoleBatch batch(*command);
    ShutdownSignals shutdownSignals;
    QObject::connect(&shutdownSignals, &ShutdownSignals::Received, &batch, &ConsoleBatch::Interrupt);
    int status = kAllDone;
    QObject::connect(&batch, &ConsoleBatch::done, &app, [&status](int result) {
        status = result;
        QCoreApplication::exit(result);
    });
    QTimer::singleShot(0, &batch, &ConsoleBatch::Start);
    shutdownSignals.Listen();
    QCoreApplication::exec();
    return batch.CloseOutput(status);
}

int ConsoleBatch::CloseOutput(int status)
{
    const std::string why = vardune::StandardOutput::Close();
    if (!OutputFailed() && !why.empty())
        ConsoleOutput::Warn("cannot write to standard output: " + why);
    return (OutputFailed() || !why.empty()) && status == kAllDone ? kSomeFailed : status;
}

bool ConsoleBatch::OutputFailed()
{
    if (output_.Failure().empty())
        return false;
    if (outputFailureSaid_)
        return true;
    outputFailureSaid_ = true;
    if (command_.mode == vardune::ConsoleCommand::Mode::Plan && !command_.dryRun) {
        // The rest of the plan would reach nobody: no further file is planned.
        ConsoleOutput::Warn("cannot write the plan to standard output: " + output_.Failure() + "; "
                            + (output_.PlanCutBack() ? "the file holds its first " : "it stops after ")
                            + std::to_string(output_.Records()) + (output_.Records() == 1 ? " record" : " records")
                            + ", the rest is not planned");
        going_ = false;
    } else {
        ConsoleOutput::Warn("cannot write to standard output: " + output_.Failure());
    }
    return true;
}

ConsoleBatch::ConsoleBatch(const vardune::ConsoleCommand& command)
    : command_(command)
    , list_(new VardoListModel(this))
    , reader_(new ForecastReader(this))
    , pool_(new EncoderPool(Module1::settings(), this))
    , output_(command.json ? ConsoleOutput::Form::Json
              : isatty(STDOUT_FILENO) && !PlansOnly() ? ConsoleOutput::Form::Terminal
                                                       : ConsoleOutput::Form::Lines)
{
    const QString output = Module1::ToQt(command.output);
    outputFolder_ = QDir::cleanPath(QFileInfo(output).absoluteFilePath());
}

ConsoleBatch::~ConsoleBatch() = default;

const vardune::Settings& ConsoleBatch::BatchSettings() const
{
    return Module1::settings();
}

void ConsoleBatch::Start()
{
    if (!vardune::PathText::IsUtf8(command_.output)) {
        // The output folder is held as text on its way to the batch; a name that is not
        // UTF-8 would name another folder there. Sources may be named by any bytes.
        ConsoleOutput::Warn("the output folder " + ConsoleOutput::Printable(command_.output)
                            + " cannot be used: its name is not UTF-8");
        emit done(kSomeFailed);
        return;
    }
    ListSources();
    if (list_->List().Count() == 0) {
        Finished(QString());
        return;
    }
    // A folder not made yet is judged by the nearest one above it, and made only once the
    // outputs are known to fit: a dry run and the run look at it alike.
    if (!OutputFolderUsable(false))
        return;
    connect(reader_, &ForecastReader::Read, this, &ConsoleBatch::WaitForFacts);
    const vardune::Settings& settings = Module1::settings();
    if (vardune::OutputLayout::FromSettings(settings.outputLayout, settings.namePattern).Layout()
        == vardune::OutputLayout::Kind::NamesFromTags) {
        // Names from tags: every file is read before any can be named.
        stage_ = Stage::Naming;
        ShowForecast();
        WaitForFacts();
        return;
    }
    Plan();
}

bool ConsoleBatch::OutputFolderUsable(bool make)
{
    const std::string folder = Module1::FromQt(outputFolder_);
    auto check = vardune::OutputFolder::Inspect(folder);
    if (check.state == vardune::OutputFolder::State::Missing && make) {
        const std::string failure = vardune::OutputFolder::Create(folder);
        check = failure.empty() ? vardune::OutputFolder::Inspect(folder)
                                : vardune::OutputFolder::Check {vardune::OutputFolder::State::Uncreatable, failure};
    }
    if (check.state == vardune::OutputFolder::State::Ready || check.state == vardune::OutputFolder::State::Missing)
        return true;
    const std::string why = check.state == vardune::OutputFolder::State::NotFolder ? "it is not a folder" : check.reason;
    ConsoleOutput::Warn("the output folder " + vardune::OutputFolder::DisplayName(folder) + " cannot be written: " + why);
    emit done(kSomeFailed);
    return false;
}

void ConsoleBatch::Plan()
{
    const vardune::Settings& settings = Module1::settings();
    vardune::OutputPlan::Rules rules;
    rules.folder = vardune::BatchWalk::NormaliseOutputFolder(Module1::FromQt(outputFolder_));
    rules.names = OutputVolume::NameRules(outputFolder_);
    rules.layout = vardune::OutputLayout::FromSettings(settings.outputLayout, settings.namePattern);
    plan_ = vardune::OutputPlan::Make(
        list_->List(), rules, pool_->Names(), [this](std::uint64_t id) { return SourceTags(id); },
        [this](std::uint64_t id) { return SourceTagsPending(id); }, &planReader_);
    plannedAt_.start();
    // Only what will be converted is read: an output up to date needs nothing but the
    // source's size and time and the output's mark.
    const vardune::SizeForecast forecast = Forecast();
    std::vector<std::uint64_t> toRead;
    for (const std::uint64_t entry : forecast.ToConvert())
        toRead.push_back(entry);
    Read(toRead);
    stage_ = Stage::Room;
    WaitForFacts();
}

vardune::SizeForecast ConsoleBatch::Forecast() const
{
    const vardune::Settings& settings = Module1::settings();
    vardune::SizeForecast forecast(settings.profile, vardune::LoudnessLevel::ModeFrom(settings.evenLoudness)
                                                         != vardune::LoudnessLevel::Mode::Off);
    const vardune::VardoList& list = list_->List();
    for (const vardune::OutputPlan::File& file : plan_) {
        const vardune::VardoEntry& e = list.At(static_cast<std::size_t>(list.Find(file.entry)));
        const auto source = facts_.find(e.id);
        forecast.Add(vardune::LeadingNumber(e.sourceSize), source == facts_.end() ? nullptr : reader_->Find(source->second),
                     file.standing, e.id);
    }
    return forecast;
}

void ConsoleBatch::Read(const std::vector<std::uint64_t>& entries)
{
    const vardune::VardoList& list = list_->List();
    for (const std::uint64_t id : entries) {
        const long position = list.Find(id);
        if (position < 0 || facts_.count(id))
            continue;
        const vardune::VardoEntry& e = list.At(static_cast<std::size_t>(position));
        facts_.emplace(id, reader_->Request(e.sourcePath + e.sourceName, e.sourceSize,
                                            ForecastReader::ChangeTime(e.sourcePath + e.sourceName)));
    }
    reader_->Send();
}

void ConsoleBatch::ListSources()
{
    namespace fs = std::filesystem;
    for (const std::string& given : command_.sources) {
        // Taken by its bytes, as the shell gave it: a name that is not UTF-8 is a name too.
        std::error_code error;
        const std::string path = vardune::PathText::Cleaned(fs::absolute(fs::path(given), error).string());
        const fs::file_status status = fs::status(path, error);
        if (fs::is_directory(status)) {
            const auto wanted = [](const std::string& name) {
                return vardune::MediaFolder::IsAudioName(name) || vardune::PlaylistCarrier::IsPlaylist(name);
            };
            // The folder keeps its own name below the output folder, as in the window.
            const std::string root = vardune::OutputLayout::RootOfAddedFolder(path);
            for (const std::string& file : vardune::MediaFolder::Files(path, wanted)) {
                if (vardune::PlaylistCarrier::IsPlaylist(file))
                    playlists_.push_back({file, root});
                else
                    AddFile(file, root);
            }
        } else if (!fs::exists(status)) {
            Report(given, std::string(), "failed", "no such file or folder", 0);
            ++refused_;
        } else if (vardune::PlaylistCarrier::IsPlaylist(path)) {
            playlists_.push_back({path, path.substr(0, path.rfind('/') + 1)});
        } else if (!vardune::MediaFolder::IsAudioName(vardune::VardoList::GetFileName(path))) {
            Report(given, std::string(), "failed", "not of an audio type the encoder reads", 0);
            ++refused_;
        } else {
            AddFile(path, std::string());
        }
    }
}

void ConsoleBatch::AddFile(const std::string& path, const std::string& root)
{
    if (list_->List().IsDuplicatedEntry(path))
        return;
    const std::string size = vardune::VardoList::GetFileSize(path);
    if (vardune::LeadingNumber(size) == 0) {
        Report(path, std::string(), "failed", "empty or unreadable", 0);
        ++refused_;
        return;
    }
    list_->Append({{path, size}}, root);
}

const vardune::OutputLayout::Tags* ConsoleBatch::SourceTags(std::uint64_t entry) const
{
    const auto source = facts_.find(entry);
    const vardune::SizeForecast::Facts* facts = source == facts_.end() ? nullptr : reader_->Find(source->second);
    return facts && facts->readable ? &facts->tags : nullptr;
}

double ConsoleBatch::SourceSeconds(std::uint64_t entry) const
{
    const auto source = facts_.find(entry);
    const vardune::SizeForecast::Facts* facts = source == facts_.end() ? nullptr : reader_->Find(source->second);
    return facts && facts->readable ? facts->seconds : 0.0;
}

bool ConsoleBatch::SourceTagsPending(std::uint64_t entry) const
{
    const auto source = facts_.find(entry);
    return source == facts_.end() || !reader_->Find(source->second);
}

void ConsoleBatch::ShowForecast()
{
    std::vector<std::uint64_t> waiting;
    for (const vardune::VardoEntry& e : list_->List().Entries())
        if (e.state == vardune::EntryState::Waiting)
            waiting.push_back(e.id);
    Read(waiting);
}

void ConsoleBatch::WaitForFacts()
{
    if (driver_ || interrupted_)
        return;
    for (const auto& [entry, source] : facts_)
        if (!reader_->Find(source))
            return;
    if (stage_ == Stage::Naming)
        Plan();
    else if (stage_ == Stage::Room)
        CheckRoom();
}

void ConsoleBatch::CheckRoom()
{
    vardune::SizeForecast forecast = Forecast();
    const std::optional<double> freeBytes = OutputVolume::FreeBytes(outputFolder_);
    bool fits = !freeBytes || forecast.Bytes() <= *freeBytes;
    std::string at;
    if (!fits && command_.fit) {
        // Filling the card: at another bitrate outputs up to date now are made again, so
        // every file is read.
        if (!everyFileRead_) {
            everyFileRead_ = true;
            std::vector<std::uint64_t> all;
            for (const vardune::OutputPlan::File& file : plan_)
                all.push_back(file.entry);
            Read(all);
            WaitForFacts();
            return;
        }
        if (const std::optional<int> bitrate = forecast.FittingBitrate(*freeBytes)) {
            Module1::settings().profile.bitrate = *bitrate;
            forecast = Forecast();
            fits = true;
            at = " at " + std::to_string(*bitrate / 1000) + " kbit/s";
        }
    }
    stage_ = Stage::Batch;
    if (command_.dryRun) {
        forecastLine_ = forecast.Text(freeBytes) + (fits ? "; it fits" + at : "; it does not fit");
        fits_ = fits;
    } else if (!fits) {
        ConsoleOutput::Warn("not enough room in " + Module1::FromQt(outputFolder_) + ": the outputs take "
                            + (forecast.AtLeast() ? "at least " : "about ") + vardune::BatchProgress::SizeText(forecast.Bytes())
                            + ", " + vardune::BatchProgress::SizeText(*freeBytes) + " is free"
                            + (command_.fit ? ", even at 8 kbit/s" : ""));
        emit done(kNoRoom);
        return;
    } else if (!at.empty()) {
        ConsoleOutput::Warn("the outputs fit" + at + ": every file is converted at that bitrate");
    }
    if (!command_.dryRun && !OutputFolderUsable(true))
        return;
    RunBatch();
}

void ConsoleBatch::RunBatch()
{
    total_ = static_cast<int>(list_->List().Count());
    going_ = true;
    driver_ = new BatchDriver(this, this, this);
    // A batch that starts as soon as it was planned (nothing to read first: a re-run) looks
    // at what the plan read, not at the disk again.
    if (plannedAt_.isValid() && plannedAt_.elapsed() < kPlanFresh)
        driver_->FollowPlan(planReader_.Hand());
    connect(driver_, &BatchDriver::Finished, this, &ConsoleBatch::Finished);
    driver_->VardoMediaFile();
}

void ConsoleBatch::Interrupt()
{
    if (interrupted_ && (stopping_ || !driver_ || (abandoned_ = driver_->StopEncoders()) == 0)) {
        // Asked again with nothing left to wait for, or a third time: ends at once. An
        // encoder still running abandons its file whole when it is stopped.
        output_.EndProgress();
        std::fputs("vardune: stopped\n", stderr);
        _exit(kSomeFailed);
    }
    if (interrupted_) {
        // Asked twice: the encoders stop too, each abandoning its file whole; each such file
        // is reported as stopped, and the run ends as the last of them ends.
        stopping_ = true;
        output_.EndProgress();
        std::fputs("vardune: stopping the files in progress: nothing of them is written (again to end at once)\n", stderr);
        return;
    }
    interrupted_ = true;
    going_ = false;
    output_.EndProgress();
    std::fputs("vardune: stopping after the files in progress (again to stop them too)\n", stderr);
    if (!driver_)
        emit done(kSomeFailed);
}

void ConsoleBatch::BatchStarted(const QString&)
{
    going_ = !interrupted_;
    Redraw(true);
}

void ConsoleBatch::ShowBatchLine(const QString& line)
{
    batchLine_ = line;
    Redraw();
}

void ConsoleBatch::EntryRecorded(std::uint64_t entry, const std::string& target, const vardune::BatchWalk::Outcome& outcome)
{
    const vardune::VardoList& list = list_->List();
    const long position = list.Find(entry);
    const std::string source = position < 0 ? std::string() : list.At(static_cast<std::size_t>(position)).sourcePath + list.At(static_cast<std::size_t>(position)).sourceName;
    ++finished_;
    std::string status = "failed";
    if (outcome.upToDate)
        status = "up to date";
    else if (outcome.state == vardune::EntryState::Done)
        status = outcome.note.find("copied, not re-encoded") != std::string::npos ? "copied" : "done";
    if (status == "failed")
        ++failed_;
    if (command_.mode == vardune::ConsoleCommand::Mode::Plan && !command_.dryRun) {
        // A plan lists only what is left to encode; the rest is said apart from it.
        if (status == "failed")
            ConsoleOutput::Warn(ConsoleOutput::Printable(source) + ": failed: " + outcome.note);
        return;
    }
    Report(source, target, status, status == "failed" ? outcome.note : std::string(),
           vardune::LeadingNumber(outcome.targetSize));
}

void ConsoleBatch::Planned(std::uint64_t, const std::string& source, const std::string& target,
                           const std::string& program, const std::vector<std::string>& arguments)
{
    if (command_.dryRun) {
        ++planned_;
        Report(source, target, "would convert", std::string(), 0);
        return;
    }
    // Named as the hosts that run the plan find the encoder, when the command line says so.
    if (output_.PlanRecord(source, target, command_.encoder.empty() ? program : command_.encoder, arguments))
        ++planned_;
    else
        OutputFailed();
}

void ConsoleBatch::Report(const std::string& source, const std::string& target, const std::string& status,
                          const std::string& reason, double bytes)
{
    if (command_.mode == vardune::ConsoleCommand::Mode::Plan && !command_.dryRun) {
        // A plan's standard output holds its records only: a source refused is said apart.
        ConsoleOutput::Warn(ConsoleOutput::Printable(source) + ": " + status + (reason.empty() ? std::string() : ": " + reason));
        return;
    }
    if (output_.Report(source, target, status, reason, bytes))
        Redraw(true);
    OutputFailed();
}

void ConsoleBatch::Redraw(bool force)
{
    // Asked after every file reported: the list is looked through only when a line is drawn,
    // and at most every 20 ms, so ten thousand files up to date never take it quadratic time.
    if (!driver_ || !output_.ShowsProgress() || (drawn_.isValid() && drawn_.elapsed() < (force ? 20 : 100)))
        return;
    drawn_.start();
    std::string text = std::to_string(finished_) + "/" + std::to_string(total_) + " files";
    if (!batchLine_.isEmpty())
        text += ", " + Module1::FromQt(batchLine_);
    std::string current;
    for (const vardune::VardoEntry& e : list_->List().Entries())
        if (e.converting)
            current += (current.empty() ? "" : ", ") + e.sourceName;
    if (!current.empty())
        text += ": " + current;
    output_.Progress(text, force);
}

void ConsoleBatch::Finished(const QString& summary)
{
    const bool roomRanOut = driver_ && driver_->RoomRanOut();
    output_.EndProgress();
    // Files neither finished nor handed on: the batch stopped before them.
    const int left = total_ - finished_ - planned_;
    int status = failed_ + refused_ > 0 || left > 0 ? kSomeFailed : kAllDone;
    if (roomRanOut)
        status = kNoRoom;
    std::string said;
    if (command_.dryRun) {
        said = std::to_string(planned_) + " to convert, " + std::to_string(finished_ - failed_) + " up to date";
        if (!forecastLine_.empty())
            said += "; " + forecastLine_;
        if (!fits_ && status == kAllDone)
            status = kNoRoom;
    } else if (command_.mode == vardune::ConsoleCommand::Mode::Plan) {
        said = std::to_string(planned_) + " to convert, " + std::to_string(finished_ - failed_) + " up to date, "
             + std::to_string(failed_ + refused_) + " failed";
        if (left > 0)
            said += ", " + std::to_string(left) + " not planned";
    } else {
        said = summary.isEmpty() ? std::string("nothing converted") : Module1::FromQt(summary);
        if (refused_ > 0)
            said += "; " + std::to_string(refused_) + (refused_ == 1 ? " source" : " sources") + " not taken";
        if (abandoned_ > 0)
            said += "; stopped, " + std::to_string(abandoned_) + (abandoned_ == 1 ? " file" : " files")
                  + " in progress abandoned";
        if (left > 0)
            said += std::string("; ") + (interrupted_ && abandoned_ == 0 ? "stopped, " : "") + std::to_string(left)
                  + " not converted";
    }
    // Tidied once the batch has run its course, as the window's Tidy would by default.
    if (command_.tidy && !interrupted_) {
        bool kept = false;
        const std::string tidied = ConsoleTidy(command_.sources, Module1::FromQt(outputFolder_)).Run(output_, command_.dryRun, kept);
        if (!tidied.empty())
            said += "; " + tidied;
        if (kept && status == kAllDone)
            status = kSomeFailed;
    }
    if (command_.mode == vardune::ConsoleCommand::Mode::Plan && !command_.dryRun)
        ConsoleOutput::Warn(said);
    else
        output_.Summary(said, status);
    if (OutputFailed() && status == kAllDone)
        status = kSomeFailed;
    emit done(status);
}
