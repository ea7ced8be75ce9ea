#pragma once
#include "takennames.h"

#include <QObject>
#include <QPointer>

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

    void Join(BatchDriver* batch);
    // A place has come free: each batch, in the order they started, may take it.
    void Resume();

private:
    vardune::TakenNames names_;
    std::vector<QPointer<BatchDriver>> batches_;
};
