#pragma once
#include "coreshare.h"
#include "takennames.h"

#include <QObject>
#include <QPointer>

#include <utility>
#include <vector>

class BatchDriver;

// The encoders of the whole program, whichever batch runs them: how many run, how many may,
// and the output names they write now. Each batch joins it when it is made; when one of its
// encoders ends, every batch that waits for a free place may start its next file.
class EncoderPool : public QObject {
    Q_OBJECT
public:
    explicit EncoderPool(QObject* parent = nullptr);

    // Output paths that encoders write now, of every batch: no other encoder gets them.
    vardune::TakenNames& Names() { return names_; }
    const vardune::TakenNames& Names() const { return names_; }
    // How many encoders may run at once: the MJOBS__ setting, or one per core.
    int Limit() const;
    // The encoders running now, of every batch.
    int Running() const;
    // The cores they work on now: the job limit is a limit on these.
    int Busy() const;
    // A file waits to start and no core is free: one core is taken back from an encoder that
    // works on more than one; false when none does.
    bool TakeBack();

    void Join(BatchDriver* batch);
    // A place has come free: each batch, in the order they started, may take it.
    void Resume();

private:
    // Nothing waits to start and cores are free: they go to the running files that can use
    // them, so that no core idles while a file still has more than one segment left.
    void Lend();
    // Every batch's running encoders, in one order, and the batch of each.
    std::vector<vardune::CoreShare::Running> Shares(std::vector<std::pair<BatchDriver*, std::size_t>>& owners) const;
    void Apply(const std::vector<int>& threads, const std::vector<std::pair<BatchDriver*, std::size_t>>& owners);

    vardune::TakenNames names_;
    std::vector<QPointer<BatchDriver>> batches_;
};
