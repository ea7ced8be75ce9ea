#include "waitingforecast.h"

#include "encoderpool.h"
#include "forecastreader.h"
#include "loudnesspass.h"
#include "module1.h"
#include "outputvolume.h"
#include "vardolistmodel.h"

#include "batchwalk.h"
#include "encodercommand.h"
#include "outputplan.h"
#include "numerictext.h"

#include <QLabel>
#include <QLineEdit>
#include <QTimer>

#include <utility>

WaitingForecast::WaitingForecast(VardoListModel* list, QLineEdit* outputFolder, QLabel* panel, EncoderPool* pool,
                                 std::function<bool()> batchShown, QObject* parent)
    : QObject(parent)
    , list_(list)
    , outputFolder_(outputFolder)
    , panel_(panel)
    , pool_(pool)
    , batchShown_(std::move(batchShown))
    , reader_(new ForecastReader(this))
    , forecastTimer_(new QTimer(this))
    , freeSpaceTimer_(new QTimer(this))
    , planTimer_(new QTimer(this))
{
    // The forecast follows the list, the quality and the output folder, and the encoder's
    // answers as they come, redrawn at most ten times a second; the free space is looked at
    // again every few seconds, since other programs write too.
    forecastTimer_->setSingleShot(true);
    forecastTimer_->setInterval(100);
    connect(forecastTimer_, &QTimer::timeout, this, &WaitingForecast::ShowForecast);
    freeSpaceTimer_->setInterval(5000);
    connect(freeSpaceTimer_, &QTimer::timeout, this, &WaitingForecast::ScheduleForecast);
    connect(reader_, &ForecastReader::Read, this, &WaitingForecast::ScheduleForecast);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(list_, signal, this, &WaitingForecast::ScheduleForecast);
    connect(list_, &QAbstractItemModel::modelReset, this, &WaitingForecast::ScheduleForecast);
    connect(list_, &QAbstractItemModel::dataChanged, this, &WaitingForecast::ScheduleForecast);
    connect(outputFolder_, &QLineEdit::textChanged, this, &WaitingForecast::ScheduleForecast);
    // The planned outputs follow the same changes, less often: they are redrawn, not typed.
    planTimer_->setSingleShot(true);
    planTimer_->setInterval(300);
    connect(planTimer_, &QTimer::timeout, this, &WaitingForecast::PlanOutputs);
    list_->SetPlanner([this](const vardune::VardoEntry& entry) { return PlannedOutput(entry); });
    connect(outputFolder_, &QLineEdit::textChanged, this, &WaitingForecast::SchedulePlans);
    connect(reader_, &ForecastReader::Read, this, &WaitingForecast::SchedulePlans);
    for (const auto signal : {&QAbstractItemModel::rowsInserted, &QAbstractItemModel::rowsRemoved})
        connect(list_, signal, this, &WaitingForecast::SchedulePlans);
    connect(list_, &QAbstractItemModel::modelReset, this, &WaitingForecast::SchedulePlans);
}

void WaitingForecast::SchedulePlans()
{
    if (!planTimer_->isActive())
        planTimer_->start();
}

void WaitingForecast::PlanOutputs()
{
    plannedOutputs_.clear();
    const QString shown = outputFolder_->text();
    if (!shown.isEmpty()) {
        vardune::OutputPlan::Rules rules;
        rules.folder = vardune::BatchWalk::NormaliseOutputFolder(Module1::FromQt(shown));
        // The folder's name rules are asked of its file system once per folder (a probe name
        // made and removed there), not each time the list changes.
        if (!rulesFolder_ || *rulesFolder_ != shown) {
            names_ = OutputVolume::NameRules(shown);
            rulesFolder_ = shown;
        }
        rules.names = names_;
        rules.layout = vardune::OutputLayout::FromSettings(Module1::settings().outputLayout, Module1::settings().namePattern);
        // Named as a batch started now names them, past the names its encoders write now.
        for (vardune::OutputPlan::File& file : vardune::OutputPlan::Make(
                 list_->List(), rules, pool_->Names(), [this](std::uint64_t id) { return SourceTags(id); },
                 [this](std::uint64_t id) { return SourceTagsPending(id); }))
            if (!file.target.empty())
                plannedOutputs_.emplace(file.entry, Planned {std::move(file.target), file.standing});
    }
    list_->PlansChanged();
    // What stands at the outputs counts in the forecast.
    ScheduleForecast();
}

void WaitingForecast::PlanNow()
{
    planTimer_->stop();
    rulesFolder_.reset();
    PlanOutputs();
}

std::string WaitingForecast::PlannedOutput(const vardune::VardoEntry& entry) const
{
    const auto found = plannedOutputs_.find(entry.id);
    return found == plannedOutputs_.end() ? std::string() : found->second.target;
}

void WaitingForecast::ScheduleForecast()
{
    if (!forecastTimer_->isActive())
        forecastTimer_->start();
}

vardune::SizeForecast WaitingForecast::Forecast() const
{
    vardune::SizeForecast forecast(Module1::settings().profile,
                                   vardune::LoudnessLevel::ModeFrom(Module1::settings().evenLoudness)
                                       != vardune::LoudnessLevel::Mode::Off);
    for (const vardune::VardoEntry& e : list_->List().Entries()) {
        if (e.state != vardune::EntryState::Waiting || e.converting)
            continue;
        const auto source = sources_.find(e.id);
        const auto planned = plannedOutputs_.find(e.id);
        // What stands at its planned output: nothing is counted for one up to date, only the
        // growth for one that replaces its own.
        forecast.Add(vardune::LeadingNumber(e.sourceSize),
                     source == sources_.end() ? nullptr : reader_->Find(source->second.number),
                     planned == plannedOutputs_.end() ? vardune::SizeForecast::Standing {} : planned->second.standing, e.id);
    }
    return forecast;
}

const vardune::OutputLayout::Tags* WaitingForecast::SourceTags(std::uint64_t entry) const
{
    const auto source = sources_.find(entry);
    const vardune::SizeForecast::Facts* facts = source == sources_.end() ? nullptr : reader_->Find(source->second.number);
    return facts && facts->readable ? &facts->tags : nullptr;
}

bool WaitingForecast::SourceTagsPending(std::uint64_t entry) const
{
    const auto source = sources_.find(entry);
    return source == sources_.end() || !reader_->Find(source->second.number);
}

double WaitingForecast::SourceSeconds(std::uint64_t entry) const
{
    const auto source = sources_.find(entry);
    const vardune::SizeForecast::Facts* facts = source == sources_.end() ? nullptr : reader_->Find(source->second.number);
    return facts && facts->readable ? facts->seconds : 0.0;
}

const std::optional<vardune::LoudnessLevel::Measure>* WaitingForecast::MeasuredAhead(std::uint64_t entry) const
{
    const auto found = measuredAhead_.find(entry);
    const long position = list_->List().Find(entry);
    if (found == measuredAhead_.end() || position < 0)
        return nullptr;
    // A file written since is measured again.
    const vardune::VardoEntry& e = list_->List().At(static_cast<std::size_t>(position));
    if (found->second.changed != ForecastReader::ChangeTime(e.sourcePath + e.sourceName))
        return nullptr;
    // Measured for another quality: the sound the output will carry is another.
    if (found->second.options != vardune::EncoderCommand::SoundOptions(Module1::settings().profile))
        return nullptr;
    return &found->second.measure;
}

void WaitingForecast::MeasureAhead()
{
    if (aheadPass_ || vardune::LoudnessLevel::ModeFrom(Module1::settings().evenLoudness) == vardune::LoudnessLevel::Mode::Off
        || batchShown_() || pool_->Running() > 0)
        return;
    const std::vector<std::string> options = vardune::EncoderCommand::SoundOptions(Module1::settings().profile);
    std::vector<std::pair<std::uint64_t, std::string>> sources;
    for (const vardune::VardoEntry& e : list_->List().Entries()) {
        const auto measured = measuredAhead_.find(e.id);
        if (e.state != vardune::EntryState::Waiting || e.converting
            || (measured != measuredAhead_.end() && measured->second.options == options))
            continue;
        const std::string path = e.sourcePath + e.sourceName;
        aheadAsked_[e.id] = ForecastReader::ChangeTime(path);
        sources.emplace_back(e.id, path);
    }
    if (sources.empty())
        return;
    // One process: the cores stay the user's while the list is put together.
    aheadOptions_ = options;
    aheadPass_ = new LoudnessPass(std::move(sources), 1, options, this);
    connect(aheadPass_, &LoudnessPass::Finished, this, &WaitingForecast::StopMeasuringAhead, Qt::QueuedConnection);
    aheadPass_->Start();
}

void WaitingForecast::StopMeasuringAhead()
{
    if (!aheadPass_)
        return;
    // Stopped early (a batch starts), only the files it answered for are kept.
    for (const auto& [id, measure] : aheadPass_->Measures())
        measuredAhead_[id] = {aheadAsked_[id], aheadOptions_, measure};
    aheadAsked_.clear();
    aheadPass_->disconnect(this);
    aheadPass_->deleteLater();
    aheadPass_ = nullptr;
    // Files added meanwhile are measured next.
    ScheduleForecast();
}

void WaitingForecast::ReadEditedSources()
{
    for (const vardune::VardoEntry& e : list_->List().Entries()) {
        if (e.state != vardune::EntryState::Waiting)
            continue;
        const auto source = sources_.find(e.id);
        if (source != sources_.end() && source->second.changed != ForecastReader::ChangeTime(e.sourcePath + e.sourceName))
            sources_.erase(source);
    }
    ShowForecast();
}

void WaitingForecast::ShowForecast()
{
    // Each new entry's source is asked for once; after that it is found by the entry's id.
    if (list_->List().Count() == 0) {
        sources_.clear();
        measuredAhead_.clear();
    }
    for (const vardune::VardoEntry& e : list_->List().Entries())
        if (e.state == vardune::EntryState::Waiting && !sources_.count(e.id)) {
            const std::string path = e.sourcePath + e.sourceName;
            const std::int64_t changed = ForecastReader::ChangeTime(path);
            sources_.emplace(e.id, Source {reader_->Request(path, e.sourceSize, changed), changed});
        }
    reader_->Send();
    MeasureAhead();
    const vardune::SizeForecast forecast = Forecast();
    if (forecast.Waiting() == 0) {
        panel_->hide();
        panel_->clear();
        freeSpaceTimer_->stop();
        return;
    }
    const QString text = Module1::ToQt(forecast.Text(OutputVolume::FreeBytes(outputFolder_->text())));
    panel_->setText(text);
    panel_->setToolTip(text);
    panel_->show();
    if (!freeSpaceTimer_->isActive())
        freeSpaceTimer_->start();
}
