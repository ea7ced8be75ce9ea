#include "forecastreader.h"

#include "encoderprogram.h"

#include <sys/stat.h>

namespace {
// Sources sent to one encoder process: enough that its start-up costs nothing, few enough
// that a process ended by a damaged file loses little.
constexpr std::size_t kSourcesPerProcess = 2000;
} // namespace

ForecastReader::ForecastReader(QObject* parent)
    : QObject(parent)
{
}

ForecastReader::~ForecastReader()
{
    if (process_) {
        process_->disconnect(this);
        process_->kill();
        process_->waitForFinished(1000);
    }
}

int ForecastReader::Request(const std::string& path, const std::string& sizeText, std::int64_t changed)
{
    const auto [found, added]
        = numbers_.emplace(path + '\n' + sizeText + '\n' + std::to_string(changed), static_cast<int>(sources_.size()));
    if (!added)
        return found->second;
    sources_.push_back({path, false, {}});
    queue_.push_back(found->second);
    return found->second;
}

std::int64_t ForecastReader::ChangeTime(const std::string& path)
{
    struct stat st {};
    if (stat(path.c_str(), &st) != 0)
        return -1;
    return static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}

void ForecastReader::Send()
{
    if (!process_)
        StartNext();
}

const vardune::SizeForecast::Facts* ForecastReader::Find(int source) const
{
    if (source < 0 || source >= static_cast<int>(sources_.size()) || !sources_[static_cast<std::size_t>(source)].read)
        return nullptr;
    return &sources_[static_cast<std::size_t>(source)].facts;
}

void ForecastReader::Answer(int source, vardune::SizeForecast::Facts facts)
{
    Source& s = sources_[static_cast<std::size_t>(source)];
    s.facts = std::move(facts);
    s.read = true;
    s.path = std::string(); // asked once only
}

void ForecastReader::StartNext()
{
    if (queue_.empty())
        return;
    QByteArray input;
    while (!queue_.empty() && inFlight_.size() < kSourcesPerProcess) {
        // A path holds no NUL byte, so NUL ends each one whatever characters it has.
        input += QByteArray::fromStdString(sources_[static_cast<std::size_t>(queue_.front())].path);
        input += '\0';
        inFlight_.push_back(queue_.front());
        queue_.pop_front();
    }
    auto* process = new QProcess(this);
    process_ = process;
    process->setProgram(EncoderProgram::Path());
    process->setArguments({QStringLiteral("--facts")});
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::readyReadStandardOutput, this, &ForecastReader::ReadLines);
    connect(process, &QProcess::finished, this, &ForecastReader::Ended);
    connect(process, &QProcess::errorOccurred, this, [this](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Ended();
    });
    process->start();
    process->write(input);
    process->closeWriteChannel();
}

void ForecastReader::ReadLines()
{
    if (!process_)
        return;
    bool any = false;
    while (process_->canReadLine() && !inFlight_.empty()) {
        const QByteArray line = process_->readLine();
        Answer(inFlight_.front(), vardune::SizeForecast::Parse(line.chopped(line.endsWith('\n') ? 1 : 0).toStdString()));
        inFlight_.pop_front();
        any = true;
    }
    if (any)
        emit Read();
}

void ForecastReader::Ended()
{
    if (!process_)
        return;
    ReadLines();
    QProcess* ended = process_;
    process_ = nullptr;
    ended->disconnect(this);
    ended->deleteLater();
    // Sources the encoder can no longer answer count as unreadable, so the forecast completes:
    // the one a crashed encoder ended on, or all of them when there is no encoder to start.
    if (ended->error() == QProcess::FailedToStart) {
        for (const int source : inFlight_)
            Answer(source, {});
        for (const int source : queue_)
            Answer(source, {});
        inFlight_.clear();
        queue_.clear();
    } else if (!inFlight_.empty()) {
        Answer(inFlight_.front(), {});
        inFlight_.pop_front();
        queue_.insert(queue_.begin(), inFlight_.begin(), inFlight_.end());
        inFlight_.clear();
    }
    emit Read();
    StartNext();
}
