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
}
