#include "consolebatch.h"

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
#include "playlistcarrier.h"
#include "sizeforecast.h"
#include "standardoutput.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QTimer>

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
    ListSources();
    if (list_->List().Count() == 0) {
        Finished(QString());
        return;
    }
    const std::string folder = Module1::FromQt(outputFolder_);
    if (!command_.dryRun) {
        auto check = vardune::OutputFolder::Inspect(folder);
        if (check.state == vardune::OutputFolder::State::Missing) {
            const std::string failure = vardune::OutputFolder::Create(folder);
            check = failure.empty() ? vardune::OutputFolder::Inspect(folder)
                                    : vardune::OutputFolder::Check {vardune::OutputFolder::State::Uncreatable, failure};
        }
        if (check.state != vardune::OutputFolder::State::Ready) {
            const std::string why = check.state == vardune::OutputFolder::State::NotFolder ? "it is not a folder" : check.reason;
            ConsoleOutput::Warn("the output folder " + vardune::OutputFolder::DisplayName(folder) + " cannot be written: " + why);
            emit done(kSomeFailed);
            return;
        }
    }
    connect(reader_, &ForecastReader::Read, this, &ConsoleBatch::WaitForFacts);
    ShowForecast();
    WaitForFacts();
}

void ConsoleBatch::ListSources()
{
    for (const std::string& given : command_.sources) {
        const QFileInfo info(Module1::ToQt(given));
        const std::string path = Module1::FromQt(QDir::cleanPath(info.absoluteFilePath()));
        if (info.isDir()) {
            const auto wanted = [](const std::string& name) {
                return vardune::MediaFolder::IsAudioName(name) || vardune::PlaylistCarrier::IsPlaylist(name);
            };
            const std::string root = vardune::BatchWalk::NormaliseOutputFolder(path);
            for (const std::string& file : vardune::MediaFolder::Files(path, wanted)) {
                if (vardune::PlaylistCarrier::IsPlaylist(file))
                    playlists_.push_back({file, root});
                else
                    AddFile(file, path);
            }
        } else if (!info.exists()) {
            Report(given, std::string(), "failed", "no such file or folder", 0);
            ++refused_;
        } else if (vardune::PlaylistCarrier::IsPlaylist(path)) {
            playlists_.push_back({path, Module1::FromQt(info.absolutePath() + QLatin1Char('/'))});
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
    for (const vardune::VardoEntry& e : list_->List().Entries())
        if (e.state == vardune::EntryState::Waiting && !facts_.count(e.id))
            facts_.emplace(e.id, reader_->Request(e.sourcePath + e.sourceName, e.sourceSize,
                                                  ForecastReader::ChangeTime(e.sourcePath + e.sourceName)));
    reader_->Send();
}

void ConsoleBatch::WaitForFacts()
{
    if (driver_ || interrupted_)
        return;
    // Every file is read first: the forecast decides whether the batch may start, and names
    // from tags need the tags.
    for (const auto& [entry, source] : facts_)
        if (!reader_->Find(source))
            return;
    disconnect(reader_, &ForecastReader::Read, this, &ConsoleBatch::WaitForFacts);
    RunBatch();
}

void ConsoleBatch::RunBatch()
{
    vardune::SizeForecast forecast(Module1::settings().profile);
    for (const vardune::VardoEntry& e : list_->List().Entries()) {
        const auto source = facts_.find(e.id);
        forecast.Add(vardune::LeadingNumber(e.sourceSize), source == facts_.end() ? nullptr : reader_->Find(source->second));
    }
    const std::optional<double> freeBytes = OutputVolume::FreeBytes(outputFolder_);
    const bool fits = !freeBytes || forecast.Bytes() <= *freeBytes;
    if (command_.dryRun) {
        forecastLine_ = forecast.Text(freeBytes) + (fits ? "; it fits" : "; it does not fit");
        fits_ = fits;
    } else if (!fits) {
        ConsoleOutput::Warn("not enough room in " + Module1::FromQt(outputFolder_) + ": the outputs take about "
                            + vardune::BatchProgress::SizeText(forecast.Bytes()) + ", "
                            + vardune::BatchProgress::SizeText(*freeBytes) + " is free");
        emit done(kNoRoom);
        return;
    }
    total_ = static_cast<int>(list_->List().Count());
    going_ = true;
    driver_ = new BatchDriver(this, this, this);
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
            ConsoleOutput::Warn(source + ": failed: " + outcome.note);
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
        ConsoleOutput::Warn(source + ": " + status + (reason.empty() ? std::string() : ": " + reason));
        return;
    }
    if (output_.Report(source, target, status, reason, bytes))
        Redraw(true);
    OutputFailed();
}

void ConsoleBatch::Redraw(bool force)
{
    if (!driver_)
        return;
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
    if (command_.mode == vardune::ConsoleCommand::Mode::Plan && !command_.dryRun)
        ConsoleOutput::Warn(said);
    else
        output_.Summary(said, status);
    if (OutputFailed() && status == kAllDone)
        status = kSomeFailed;
    emit done(status);
}
