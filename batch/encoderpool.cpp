#include "encoderpool.h"

#include "outputvolume.h"

#include "batchwalk.h"

#include <QElapsedTimer>
#include <QHash>
#include <QThread>

#include <algorithm>
#include <memory>

#include <sched.h>

namespace {

// Output paths folded as OutputVolume::FoldPath folds them, each folder's real path (a look at
// every level of it) kept for a second: a batch of ten thousand files into a hundred folders
// resolves each folder about once a second, not four times a file.
vardune::TakenNames::Fold RecentFolding()
{
    struct Known {
        QString real;
        qint64 at = 0;
    };
    auto known = std::make_shared<QHash<QString, Known>>();
    auto clock = std::make_shared<QElapsedTimer>();
    clock->start();
    return [known, clock](const std::string& path) {
        return OutputVolume::FoldPath(path, [&known, &clock](const QString& folder) {
            const qint64 now = clock->elapsed();
            auto found = known->find(folder);
            if (found == known->end() || now - found->at > 1000) {
                if (known->size() > 10000)
                    known->clear();
                found = known->insert(folder, {OutputVolume::RealFolder(folder), now});
            }
            return found->real;
        });
    };
}

} // namespace

EncoderPool::EncoderPool(const vardune::Settings& settings, QObject* parent)
    : QObject(parent)
    , settings_(settings)
    , names_(RecentFolding())
{
}

int EncoderPool::Cores()
{
    int cores = QThread::idealThreadCount();
#if defined(__linux__)
    cpu_set_t set;
    CPU_ZERO(&set);
    if (sched_getaffinity(0, sizeof set, &set) == 0)
        cores = CPU_COUNT(&set);
#endif
    return cores;
}

int EncoderPool::Limit() const
{
    return vardune::BatchWalk::JobLimit(settings_.jobs, Cores());
}

int EncoderPool::Running() const
{
    int running = 0;
    for (const Member* batch : batches_)
        running += batch->Running();
    return running;
}

int EncoderPool::Busy() const
{
    int busy = 0;
    for (const Member* batch : batches_)
        busy += batch->BusyCores();
    return busy;
}

std::vector<vardune::CoreShare::Running> EncoderPool::Shares(std::vector<std::pair<Member*, std::size_t>>& owners) const
{
    std::vector<vardune::CoreShare::Running> shares;
    for (Member* batch : batches_) {
        const auto own = batch->Shares();
        owners.emplace_back(batch, own.size());
        shares.insert(shares.end(), own.begin(), own.end());
    }
    return shares;
}

void EncoderPool::Apply(const std::vector<int>& threads, const std::vector<std::pair<Member*, std::size_t>>& owners)
{
    std::size_t at = 0;
    for (const auto& [batch, count] : owners) {
        batch->SetShares(std::vector<int>(threads.begin() + static_cast<std::ptrdiff_t>(at),
                                          threads.begin() + static_cast<std::ptrdiff_t>(at + count)));
        at += count;
    }
}

bool EncoderPool::TakeBack()
{
    std::vector<std::pair<Member*, std::size_t>> owners;
    const auto shares = Shares(owners);
    const int from = vardune::CoreShare::TakeBackFrom(shares);
    if (from < 0)
        return false;
    std::vector<int> threads;
    for (const auto& share : shares)
        threads.push_back(share.threads);
    --threads[static_cast<std::size_t>(from)];
    Apply(threads, owners);
    return true;
}

void EncoderPool::Lend()
{
    for (const Member* batch : batches_)
        if (batch->WaitsToStart())
            return;
    const int free = Limit() - Busy();
    if (free <= 0)
        return;
    std::vector<std::pair<Member*, std::size_t>> owners;
    const auto shares = Shares(owners);
    Apply(vardune::CoreShare::Lend(free, shares), owners);
}

void EncoderPool::Join(Member* batch)
{
    batches_.push_back(batch);
}

void EncoderPool::Leave(Member* batch)
{
    batches_.erase(std::remove(batches_.begin(), batches_.end(), batch), batches_.end());
}

void EncoderPool::Resume()
{
    // A batch resumed may end, and leave; the list is walked by copy, each batch taken only
    // while it is still a member.
    const std::vector<Member*> batches = batches_;
    for (Member* batch : batches)
        if (std::find(batches_.begin(), batches_.end(), batch) != batches_.end())
            batch->Resume();
    Lend();
}
