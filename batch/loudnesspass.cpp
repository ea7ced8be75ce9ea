#include "loudnesspass.h"

#include "encoderprogram.h"

#include <QProcess>

#include <algorithm>

LoudnessPass::LoudnessPass(std::vector<std::pair<std::uint64_t, std::string>> sources, int processes,
    std::vector<std::string> options, QObject* parent)
    : QObject(parent)
    , queue_(sources.begin(), sources.end())
    , options_(std::move(options))
    , total_(sources.size())
    , processes_(std::max(1, processes))
{
}

LoudnessPass::~LoudnessPass()
{
    for (Worker& w : workers_) {
        if (!w.process)
            continue;
        w.process->disconnect(this);
        w.process->kill();
        w.process->waitForFinished(1000);
    }
}

void LoudnessPass::Start()
{
    if (total_ == 0) {
        finished_ = true;
        emit Finished(); // nothing to measure
        return;
    }
    const int wanted = static_cast<int>(std::min<std::size_t>(queue_.size(), static_cast<std::size_t>(processes_)));
    for (int i = 0; i < wanted; ++i)
        if (!StartWorker())
            break;
    if (workers_.empty()) {
        while (!queue_.empty()) {
            Answer(queue_.front().first, std::nullopt);
            queue_.pop_front();
        }
    }
}

bool LoudnessPass::StartWorker()
{
    auto* process = new QProcess(this);
    process->setProgram(EncoderProgram::Path());
    QStringList arguments {QStringLiteral("--loudness")};
    for (const std::string& option : options_)
        arguments << QString::fromStdString(option);
    process->setArguments(arguments);
    process->setStandardErrorFile(QProcess::nullDevice());
    connect(process, &QProcess::readyReadStandardOutput, this, [this, process] { ReadLines(process); });
    connect(process, &QProcess::finished, this, [this, process] { Ended(process); });
    connect(process, &QProcess::errorOccurred, this, [this, process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            Ended(process);
    });
    process->start();
    if (process->state() == QProcess::NotRunning && process->error() == QProcess::FailedToStart) {
        process->disconnect(this);
        process->deleteLater();
        return false;
    }
    workers_.push_back({process, std::nullopt});
    Feed(workers_.back());
    return true;
}

void LoudnessPass::Feed(Worker& worker)
{
    if (queue_.empty()) {
        worker.process->closeWriteChannel(); // the process ends once it has answered
        return;
    }
    worker.current = queue_.front();
    queue_.pop_front();
    // A path holds no NUL byte, so NUL ends each one whatever characters it has.
    QByteArray input = QByteArray::fromStdString(worker.current->second);
    input += '\0';
    worker.process->write(input);
}

LoudnessPass::Worker* LoudnessPass::WorkerOf(const QProcess* process)
{
    for (Worker& w : workers_)
        if (w.process == process)
            return &w;
    return nullptr;
}

void LoudnessPass::ReadLines(QProcess* process)
{
    Worker* worker = WorkerOf(process);
    if (!worker)
        return;
    while (process->canReadLine() && worker->current) {
        const QByteArray line = process->readLine();
        const std::uint64_t id = worker->current->first;
        worker->current.reset();
        Answer(id, vardune::LoudnessLevel::Parse(line.chopped(line.endsWith('\n') ? 1 : 0).toStdString()));
        worker = WorkerOf(process); // Answer may have let the batch go on; the worker stays
        if (!worker)
            return;
        Feed(*worker);
    }
    // A line far longer than any answer is not one.
    if (process->bytesAvailable() > 1 << 20)
        process->readAll();
}

void LoudnessPass::Ended(QProcess* process)
{
    Worker* worker = WorkerOf(process);
    if (!worker)
        return;
    ReadLines(process);
    worker = WorkerOf(process);
    const bool failedToStart = process->error() == QProcess::FailedToStart;
    std::optional<std::pair<std::uint64_t, std::string>> lost = worker->current;
    workers_.erase(workers_.begin() + (worker - workers_.data()));
    process->disconnect(this);
    process->deleteLater();
    // The source the encoder ended on has no measure; the rest go to a new process, unless the
    // encoder cannot be started or keeps ending.
    if (lost)
        Answer(lost->first, std::nullopt);
    if (!queue_.empty() && (failedToStart || ++restarts_ > 16 || !StartWorker()) && workers_.empty()) {
        while (!queue_.empty()) {
            const std::uint64_t id = queue_.front().first;
            queue_.pop_front();
            Answer(id, std::nullopt);
        }
    }
}

void LoudnessPass::Answer(std::uint64_t id, std::optional<Measure> measure)
{
    measures_[id] = std::move(measure);
    emit Measured(id);
    if (!finished_ && measures_.size() >= total_) {
        finished_ = true;
        emit Finished();
    }
}
