#include "vardolistmodel.h"

#include "textbridge.h"

#include <utility>

namespace {
const char* const kHeaders[] = {"S", "Source Path", "Media File", "Size", "Target MP3 File", "Size", "Rate"};
}

VardoListModel::VardoListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
}

int VardoListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(list_.Count());
}

int VardoListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 7;
}

void VardoListModel::SetPlanner(Planner planner)
{
    planner_ = std::move(planner);
    PlansChanged();
}

void VardoListModel::PlansChanged()
{
    if (rowCount() > 0)
        emit dataChanged(index(0, 4), index(rowCount() - 1, 4), {Qt::DisplayRole, Qt::ToolTipRole, PlannedRole});
}

QVariant VardoListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const vardune::VardoEntry& e = list_.At(static_cast<std::size_t>(index.row()));
    if (role == Qt::UserRole)
        return static_cast<int>(e.state);
    if (role == PercentRole)
        return e.converting ? e.percent : -1;
    // A failed entry says why wherever the user points at it.
    if (role == Qt::ToolTipRole && !e.note.empty())
        return TextBridge::ToQt(e.note);
    // Until the batch has written it, the output path is the plan, set apart from what was
    // written; a colliding name still gets its number then.
    const bool planned = index.column() == 4 && e.state == vardune::EntryState::Waiting && !e.converting
                         && e.targetPath.empty() && planner_;
    if (role == PlannedRole)
        return planned;
    if (planned && (role == Qt::DisplayRole || role == Qt::ToolTipRole)) {
        const QString path = TextBridge::ShownPath(planner_(e));
        if (role == Qt::ToolTipRole && !path.isEmpty())
            return QStringLiteral("Will be written to %1").arg(path);
        return path;
    }
    if (role != Qt::DisplayRole && role != Qt::ToolTipRole)
        return {};
    switch (index.column()) {
    case 0: return QStringLiteral("Media File");
    // Paths as bytes, shown as text: a byte that is not UTF-8 shows as "\xE9".
    case 1: return TextBridge::ShownPath(e.sourcePath);
    case 2: return TextBridge::ShownPath(e.sourceName);
    case 3: return TextBridge::ToQt(e.sourceSize);
    case 4:
        // The output path is written when the file is done; until then its row shows how far
        // its encoder is.
        if (e.converting)
            return QStringLiteral("Converting\u2026 %1%").arg(e.percent);
        return TextBridge::ShownPath(e.targetPath);
    case 5: return TextBridge::ToQt(e.targetSize);
    case 6: return TextBridge::ToQt(e.rate);
    }
    return {};
}

QVariant VardoListModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::DisplayRole && section >= 0 && section < 7)
        return QString::fromLatin1(kHeaders[section]);
    return QAbstractTableModel::headerData(section, orientation, role);
}

void VardoListModel::Append(const std::vector<std::pair<std::string, std::string>>& files, const std::string& root)
{
    if (files.empty())
        return;
    const int first = rowCount();
    beginInsertRows(QModelIndex(), first, first + static_cast<int>(files.size()) - 1);
    for (const auto& [path, size] : files)
        list_.Append(path, size, root);
    endInsertRows();
}

void VardoListModel::Restore(const std::vector<vardune::VardoEntry>& entries)
{
    beginResetModel();
    list_.Clear();
    for (const vardune::VardoEntry& e : entries) {
        const std::uint64_t id = list_.Append(e.sourcePath + e.sourceName, e.sourceSize, e.root);
        if (e.state != vardune::EntryState::Waiting)
            list_.SetResult(id, e.targetPath, e.targetSize, e.rate, e.state);
        list_.SetNote(id, e.note);
    }
    endResetModel();
}

void VardoListModel::RemoveSelected(const std::vector<bool>& selected)
{
    // One pass and one reset: removing thousands of scattered rows stays linear.
    beginResetModel();
    list_.RemoveSelected(selected);
    endResetModel();
}

void VardoListModel::Clear()
{
    beginResetModel();
    list_.Clear();
    endResetModel();
}

void VardoListModel::SetResult(std::uint64_t id, const std::string& targetPath, const std::string& targetSize,
                               const std::string& rate, vardune::EntryState state)
{
    list_.SetResult(id, targetPath, targetSize, rate, state);
    const long row = list_.Find(id);
    if (row >= 0)
        emit dataChanged(index(static_cast<int>(row), 0), index(static_cast<int>(row), 6));
}

void VardoListModel::SetConverting(std::uint64_t id, bool converting)
{
    list_.SetConverting(id, converting);
    const long row = list_.Find(id);
    if (row >= 0)
        emit dataChanged(index(static_cast<int>(row), 4), index(static_cast<int>(row), 4));
}

void VardoListModel::SetPercent(std::uint64_t id, int percent)
{
    const long row = list_.Find(id);
    if (row < 0 || list_.At(static_cast<std::size_t>(row)).percent == percent)
        return;
    list_.SetPercent(id, percent);
    emit dataChanged(index(static_cast<int>(row), 4), index(static_cast<int>(row), 4));
}

void VardoListModel::Record(std::uint64_t id, const std::string& targetPath, const vardune::BatchWalk::Outcome& outcome)
{
    const long row = list_.Find(id);
    if (row < 0)
        return;
    const vardune::VardoEntry& e = list_.At(static_cast<std::size_t>(row));
    if (outcome.writeTarget)
        list_.SetResult(id, targetPath, outcome.targetSize, outcome.rate.value_or(e.rate), outcome.state);
    else
        list_.SetState(id, outcome.state);
    list_.SetNote(id, outcome.note);
    emit dataChanged(index(static_cast<int>(row), 0), index(static_cast<int>(row), 6));
}

bool VardoListModel::Retry(std::uint64_t id)
{
    if (!list_.Retry(id))
        return false;
    const int row = static_cast<int>(list_.Find(id));
    emit dataChanged(index(row, 0), index(row, 6));
    return true;
}
