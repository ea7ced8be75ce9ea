#pragma once
#include "batchwalk.h"
#include "vardolist.h"

#include <QAbstractTableModel>

#include <functional>
#include <string>

// The Vardo list as a model: the row text "Media File", then source folder, name, size, output
// path, output size and rate; the entry's state by the user role. All changes go through here,
// so whatever shows the list (the main window's list, the command line's progress) follows
// them; how a state or a plan looks is the showing side's.
class VardoListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    explicit VardoListModel(QObject* parent = nullptr);

    const vardune::VardoList& List() const { return list_; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

    // Appends waiting entries for (path, size text) pairs in one step.
    void Append(const std::vector<std::pair<std::string, std::string>>& files, const std::string& root = std::string());
    // Replaces the list with entries kept from an earlier run, their states and results
    // included; each gets a new id.
    void Restore(const std::vector<vardune::VardoEntry>& entries);
    void RemoveSelected(const std::vector<bool>& selected);
    void Clear();
    void SetResult(std::uint64_t id, const std::string& targetPath, const std::string& targetSize,
                   const std::string& rate, vardune::EntryState state);

    void SetConverting(std::uint64_t id, bool converting);
    // How far an entry's encoder is: shown in its row while it converts.
    void SetPercent(std::uint64_t id, int percent);
    // The role that gives a converting entry's percent (-1 when it does not convert).
    static constexpr int PercentRole = Qt::UserRole + 1;
    // The role that says the output column shows where a waiting entry's output will go, not
    // where it went.
    static constexpr int PlannedRole = Qt::UserRole + 2;
    // Sets a failed entry waiting again (VardoList::Retry); false when it cannot.
    bool Retry(std::uint64_t id);
    // Writes an encoder call's outcome into the entry with this id, if it is still there.
    void Record(std::uint64_t id, const std::string& targetPath, const vardune::BatchWalk::Outcome& outcome);

    // Where a waiting entry's output will go ("" when it cannot be said yet): shown, greyed,
    // in its output column until the batch writes the path that was taken.
    using Planner = std::function<std::string(const vardune::VardoEntry&)>;
    void SetPlanner(Planner planner);
    // The layout, the output folder or a source's tags have changed: every plan is asked
    // again as its row is drawn.
    void PlansChanged();

private:
    vardune::VardoList list_;
    Planner planner_;
};
