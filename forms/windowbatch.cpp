#include "windowbatch.h"

#include "desktopnotifier.h"
#include "encoderpool.h"
#include "batchdriver.h"
#include "frmmonitor.h"
#include "module1.h"
#include "outputvolume.h"
#include "vardolistactions.h"
#include "vardolistmodel.h"
#include "waitingforecast.h"

#include "outputfolder.h"
#include "sizeforecast.h"

#include <QApplication>
#include <QLineEdit>

WindowBatch::WindowBatch(QWidget* window, VardoListModel* list, QLineEdit* outputFolder, EncoderPool* pool,
                         WaitingForecast* waiting, VardoListActions* actions, qint16* animationStep, QObject* parent)
    : QObject(parent)
    , window_(window)
    , list_(list)
    , outputFolder_(outputFolder)
    , pool_(pool)
    , waiting_(waiting)
    , actions_(actions)
    , animationStep_(animationStep)
{
}

const vardune::Settings& WindowBatch::BatchSettings() const
{
    return Module1::settings();
}

QString WindowBatch::OutputFolderText() const
{
    return outputFolder_->text();
}

void WindowBatch::SetOutputFolderText(const QString& folder)
{
    outputFolder_->setText(folder);
}

const vardune::OutputLayout::Tags* WindowBatch::SourceTags(std::uint64_t entry) const
{
    return waiting_->SourceTags(entry);
}

bool WindowBatch::SourceTagsPending(std::uint64_t entry) const
{
    return waiting_->SourceTagsPending(entry);
}

double WindowBatch::SourceSeconds(std::uint64_t entry) const
{
    return waiting_->SourceSeconds(entry);
}

const std::optional<vardune::LoudnessLevel::Measure>* WindowBatch::MeasuredAhead(std::uint64_t entry) const
{
    return waiting_->MeasuredAhead(entry);
}

void WindowBatch::ReadEditedSources()
{
    waiting_->ReadEditedSources();
}

const std::vector<BatchHost::CarriedPlaylist>& WindowBatch::Playlists() const
{
    return actions_->Playlists();
}

bool WindowBatch::WantsDesktopNotice() const
{
    return QApplication::activeWindow() == nullptr;
}

void WindowBatch::TellDesktop(const QString& summary)
{
    DesktopNotifier::Notify(QStringLiteral("Vardune: batch finished"), summary);
}

int WindowBatch::EncodersRunning() const
{
    return pool_->Running();
}

vardune::TakenNames& WindowBatch::RunningTargets()
{
    return pool_->Names();
}

QWidget* WindowBatch::Board() const
{
    return monitor_ && monitor_->isVisible() ? monitor_.data() : nullptr;
}

void WindowBatch::CloseBoard()
{
    if (monitor_)
        monitor_->close();
}

void WindowBatch::Run(frmMonitor* board)
{
    auto* driver = new BatchDriver(this, board, this);
    // The window hears of the end even when the board has long gone.
    connect(driver, &BatchDriver::Finished, this, &WindowBatch::Finished);
    driver->VardoMediaFile();
}

void WindowBatch::ShowStatusBoard()
{
    emit CommandBegun();
    // A board that was closed is gone even if its deletion is still pending: open a new one.
    if (!monitor_ || !monitor_->isVisible()) {
        // A batch with nothing to convert would open and close the board without a word.
        bool waiting = false;
        for (const vardune::VardoEntry& e : list_->List().Entries())
            waiting = waiting || (e.state == vardune::EntryState::Waiting && !e.converting);
        if (!waiting) {
            Module1::MsgBox(window_, {tr("Nothing is waiting in the Vardo list. Add files with Add New, or drop them "
                                         "on the list, then press Vardo."),
                                      tr("Nothing to Convert"), QMessageBox::Information, QMessageBox::Ok,
                                      QMessageBox::NoButton});
            return;
        }
        // The folder first: its free room can only be measured once it is there.
        if (!OutputFolderReady())
            return;
        // Outputs that cannot all fit: the user decides before anything is written, by the
        // same count the status bar shows, with what stands at the outputs as it is now.
        std::optional<std::vector<std::uint64_t>> chosen;
        int bitrate = 0;
        waiting_->PlanNow();
        const vardune::SizeForecast forecast = waiting_->Forecast();
        const std::optional<double> freeBytes = OutputVolume::FreeBytes(outputFolder_->text());
        if (freeBytes && forecast.Waiting() > 0 && forecast.Bytes() > *freeBytes) {
            // Besides the files that fit: every file at the highest bitrate at which all fit.
            const std::optional<int> fit = forecast.FittingBitrate(*freeBytes);
            Module1::MessageRequest question {
                Module1::ToQt(vardune::SizeForecast::Question(forecast.Bytes(), *freeBytes, forecast.AtLeast(), fit)),
                QStringLiteral("Not Enough Room"), QMessageBox::Question, QMessageBox::Yes | QMessageBox::No,
                QMessageBox::Yes};
            if (fit) {
                question.buttons |= QMessageBox::YesToAll;
                question.buttonTexts[QMessageBox::YesToAll] = tr("All at %1 kbit/s").arg(*fit / 1000);
            }
            const auto answer = Module1::MsgBox(window_, question);
            if (answer == QMessageBox::YesToAll && fit)
                bitrate = *fit;
            else if (answer == QMessageBox::Yes)
                chosen = forecast.Fitting(*freeBytes);
            else
                return;
        }
        // The batch measures what is left with every core.
        waiting_->StopMeasuringAhead();
        monitor_ = new frmMonitor(window_, animationStep_);
        monitor_->filesChosen = std::move(chosen);
        monitor_->chosenBitrate = bitrate;
        connect(monitor_, &frmMonitor::Go, this, [this, board = monitor_.data()] { Run(board); });
    }
    monitor_->show();
}

bool WindowBatch::OutputFolderReady()
{
    // Asked only when the batch has a file to write: an empty list runs as it always has.
    bool fileToWrite = false;
    for (const vardune::VardoEntry& e : list_->List().Entries())
        fileToWrite = fileToWrite || (e.state == vardune::EntryState::Waiting && !e.converting);
    const std::string folder = Module1::FromQt(outputFolder_->text());
    // No folder at all: the names are taken from the current folder, as they always were.
    if (!fileToWrite || folder.empty())
        return true;
    const QString name = Module1::ToQt(vardune::OutputFolder::DisplayName(folder));
    const auto refuse = [&](const QString& why) {
        Module1::MsgBox(window_, {QStringLiteral("The output folder ") + name + why, QStringLiteral("Invalid Output Folder"),
                               QMessageBox::Information, QMessageBox::Ok, QMessageBox::NoButton});
        return false;
    };
    auto check = vardune::OutputFolder::Inspect(folder);
    if (check.state == vardune::OutputFolder::State::Missing) {
        const auto answer = Module1::MsgBox(window_, {QStringLiteral("The output folder ") + name
                                                       + QStringLiteral(" does not exist. Create it?"),
                                                   QStringLiteral("Create Output Folder"), QMessageBox::Question,
                                                   QMessageBox::Yes | QMessageBox::No, QMessageBox::Yes});
        if (answer != QMessageBox::Yes)
            return false;
        const std::string failure = vardune::OutputFolder::Create(folder);
        if (!failure.empty())
            return refuse(QStringLiteral(" cannot be created: ") + Module1::ToQt(failure) + QLatin1Char('.'));
        check = vardune::OutputFolder::Inspect(folder);
    }
    switch (check.state) {
    case vardune::OutputFolder::State::Ready:
        return true;
    case vardune::OutputFolder::State::NotFolder:
        return refuse(QStringLiteral(" is a file, not a folder."));
    case vardune::OutputFolder::State::Uncreatable:
        return refuse(QStringLiteral(" cannot be created: ") + Module1::ToQt(check.reason) + QLatin1Char('.'));
    default:
        return refuse(QStringLiteral(" cannot be written: ") + Module1::ToQt(check.reason) + QLatin1Char('.'));
    }
}

