#include "forecastreader.h"

#include "module1.h"

#include "encodercommand.h"

#include <QDir>

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

std::string ForecastReader::Key(const std::string& path, const std::string& sizeText)
{
    return path + '\n' + sizeText;
}

void ForecastReader::Request(const std::vector<std::pair<std::string, std::string>>& sources)
{
    for (const auto& [path, size] : sources) {
        std::string key = Key(path, size);
        if (!asked_.insert(key).second)
            continue;
        paths_.emplace(key, path);
        queue_.push_back(std::move(key));
    }
    if (!process_)
        StartNext();
}

const vardune::SizeForecast::Facts* ForecastReader::Find(const std::string& path, const std::string& sizeText) const
{
    const auto found = facts_.find(Key(path, sizeText));
    return found == facts_.end() ? nullptr : &found->second;
}

void ForecastReader::StartNext()
{
    if (queue_.empty())
        return;
    QByteArray input;
    while (!queue_.empty() && inFlight_.size() < kSourcesPerProcess) {
        const std::string& key = queue_.front();
        // A path holds no NUL byte, so NUL ends each one whatever characters it has.
        input += QByteArray::fromStdString(paths_[key]);
        input += '\0';
        inFlight_.push_back(key);
        queue_.pop_front();
    }
    auto* process = new QProcess(this);
    process_ = process;
    process->setProgram(Module1::EncoderFolder() + QDir::separator() + Module1::ToQt(vardune::EncoderCommand::ProgramName()));
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
        const std::string key = inFlight_.front();
        inFlight_.pop_front();
        facts_[key] = vardune::SizeForecast::Parse(line.chopped(line.endsWith('\n') ? 1 : 0).toStdString());
        paths_.erase(key);
        any = true;
    }
    if (any)
        emit Read();
}

void ForecastReader::GiveUp(std::deque<std::string>& keys)
{
    for (const std::string& key : keys) {
        facts_[key] = vardune::SizeForecast::Facts {};
        paths_.erase(key);
    }
    keys.clear();
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
    const bool started = ended->error() != QProcess::FailedToStart;
    if (!inFlight_.empty()) {
        // Ended before it answered every source (it crashed on one): the rest go to a new
        // process, less the one it ended on.
        const std::string culprit = inFlight_.front();
        inFlight_.pop_front();
        facts_[culprit] = vardune::SizeForecast::Facts {};
        paths_.erase(culprit);
        if (started)
            queue_.insert(queue_.begin(), inFlight_.begin(), inFlight_.end());
        else
            GiveUp(inFlight_);
        inFlight_.clear();
    }
    if (!started)
        GiveUp(queue_);
    emit Read();
    StartNext();
}
