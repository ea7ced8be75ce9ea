#include "encoderpool.h"

#include "batchdriver.h"
#include "module1.h"

#include <algorithm>

EncoderPool::EncoderPool(QObject* parent)
    : QObject(parent)
    , names_(Module1::FoldOutputPath)
{
}

int EncoderPool::Limit() const
{
    return Module1::JobLimit();
}

int EncoderPool::Running() const
{
    int running = 0;
    for (const QPointer<BatchDriver>& batch : batches_)
        if (batch)
            running += batch->Running();
    return running;
}

int EncoderPool::Busy() const
{
    int busy = 0;
    for (const QPointer<BatchDriver>& batch : batches_)
        if (batch)
            busy += batch->BusyCores();
    return busy;
}

std::vector<vardune::CoreShare::Running>
EncoderPool::Shares(std::vector<std::pair<BatchDriver*, std::size_t>>& owners) const
{
    std::vector<vardune::CoreShare::Running> shares;
    for (const QPointer<BatchDriver>& batch : batches_) {
        if (!batch)
            continue;
        const auto own = batch->Shares();
        owners.emplace_back(batch.data(), own.size());
        shares.insert(shares.end(), own.begin(), own.end());
    }
    return shares;
}

void EncoderPool::Apply(const std::vector<int>& threads, const std::vector<std::pair<BatchDriver*, std::size_t>>& owners)
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
    std::vector<std::pair<BatchDriver*, std::size_t>> owners;
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
    for (const QPointer<BatchDriver>& batch : batches_)
        if (batch && batch->WaitsToStart())
            return;
    const int free = Limit() - Busy();
    if (free <= 0)
        return;
    std::vector<std::pair<BatchDriver*, std::size_t>> owners;
    const auto shares = Shares(owners);
    Apply(vardune::CoreShare::Lend(free, shares), owners);
}

void EncoderPool::Join(BatchDriver* batch)
{
    // Batches that have ended are gone from the list the next time one joins.
    batches_.erase(std::remove_if(batches_.begin(), batches_.end(), [](const QPointer<BatchDriver>& b) { return !b; }),
                   batches_.end());
    batches_.emplace_back(batch);
    connect(batch, &BatchDriver::EncoderEnded, this, &EncoderPool::Resume);
}

void EncoderPool::Resume()
{
    // A batch resumed may end and go; the list is walked by copy.
    const std::vector<QPointer<BatchDriver>> batches = batches_;
    for (const QPointer<BatchDriver>& batch : batches)
        if (batch)
            batch->Resume();
    Lend();
}
