#pragma once
#include "configtable.h"
#include "coreshare.h"
#include "takennames.h"

#include <QObject>

#include <utility>
#include <vector>

// The encoders of the whole program, whichever batch runs them: how many run, how many may,
// and the output names they write now. Each batch joins it when it is made and leaves when it
// goes; when one of its encoders ends, every batch that waits for a free place may start its
// next file.
class EncoderPool : public QObject {
    Q_OBJECT
public:
    // What the pool asks of each batch that runs encoders in it.
    class Member {
    public:
        // The encoders it runs now (its measuring processes count: they share the cores).
        virtual int Running() const = 0;
        // The cores its encoders work on now (each measuring process one).
        virtual int BusyCores() const = 0;
        // Whether it has files still to start, and may start them.
        virtual bool WaitsToStart() const = 0;
        // Its running encoders as the cores are shared out, in one order, and the cores each
        // works on from now.
        virtual std::vector<vardune::CoreShare::Running> Shares() const = 0;
        virtual void SetShares(const std::vector<int>& threads) = 0;
        // A place has come free: it may start its next file.
        virtual void Resume() = 0;

    protected:
        ~Member() = default;
    };

    // settings gives the job limit (MJOBS__); it outlives the pool.
    explicit EncoderPool(const vardune::Settings& settings, QObject* parent = nullptr);

    // Output paths that encoders write now, of every batch: no other encoder gets them.
    vardune::TakenNames& Names() { return names_; }
    const vardune::TakenNames& Names() const { return names_; }
    // How many encoders may run at once: the MJOBS__ setting, or one per core.
    int Limit() const;
    // The cores this process may run on, which a container or taskset may narrow.
    static int Cores();
    // The encoders running now, of every batch.
    int Running() const;
    // The cores they work on now: the job limit is a limit on these.
    int Busy() const;
    // A file waits to start and no core is free: one core is taken back from an encoder that
    // works on more than one; false when none does.
    bool TakeBack();

    void Join(Member* batch);
    void Leave(Member* batch);
    // A place has come free (an encoder of some batch has ended): each batch, in the order
    // they started, may take it.
    void Resume();

private:
    // Nothing waits to start and cores are free: they go to the running files that can use
    // them, so that no core idles while a file still has more than one segment left.
    void Lend();
    // Every batch's running encoders, in one order, and the batch of each.
    std::vector<vardune::CoreShare::Running> Shares(std::vector<std::pair<Member*, std::size_t>>& owners) const;
    void Apply(const std::vector<int>& threads, const std::vector<std::pair<Member*, std::size_t>>& owners);

    const vardune::Settings& settings_;
    vardune::TakenNames names_;
    std::vector<Member*> batches_;
};
