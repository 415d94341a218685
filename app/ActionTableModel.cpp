#include "app/ActionTableModel.h"

#include "app/Pictures.h"

#include "ACommon/sync/ASync.h"

#include <algorithm>

namespace {

QString Shown(const AString& text) { return QString::fromStdString(text.ToStdString()); }

} // namespace

ActionTableModel::ActionTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void ActionTableModel::SetSnapshot(std::vector<ActionReview::Item> actions)
{
    beginResetModel();
    rows.clear();
    rows.reserve(actions.size());
    for (std::size_t i = 0; i < actions.size(); ++i)
        rows.push_back({std::move(actions[i]), static_cast<int>(i)});
    endResetModel();
    emit CountChanged(CountText());
}

ActionReview::Answer ActionTableModel::Answer() const
{
    ActionReview::Answer answer;
    answer.active.resize(rows.size());
    for (const Row& row : rows)
        answer.active[static_cast<std::size_t>(row.index)] = row.item.active;
    return answer;
}

void ActionTableModel::SetAllActive(bool active)
{
    for (Row& row : rows)
        if (row.item.kind != ASync::kUndecided)
            row.item.active = active;
    if (!rows.empty())
        emit dataChanged(index(0, kActive), index(rowCount() - 1, kActive), {Qt::CheckStateRole});
    emit CountChanged(CountText());
}

QString ActionTableModel::CountText() const
{
    const auto active =
        std::count_if(rows.begin(), rows.end(), [](const Row& row) { return row.item.active; });
    QString text = QStringLiteral("%1 Actions").arg(rows.size());
    if (static_cast<std::size_t>(active) < rows.size())
        text += QStringLiteral(", %1 Active").arg(active);
    return text;
}

int ActionTableModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : static_cast<int>(rows.size());
}

int ActionTableModel::columnCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : kColumns; }

QVariant ActionTableModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const ActionReview::Item& item = rows[static_cast<std::size_t>(index.row())].item;
    switch (index.column()) {
    case kActive:
        if (role == Qt::CheckStateRole)
            return item.active ? Qt::Checked : Qt::Unchecked;
        break;
    case kAction:
        if (role == Qt::DecorationRole)
            return pictures::Icon(pictures::ActionPicture(item.kind), QSize(28, 22));
        if (role == Qt::ToolTipRole || role == Qt::DisplayRole)
            return Shown(item.word);
        break;
    case kSource:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return Shown(item.source);
        break;
    case kDestination:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return Shown(item.destination);
        break;
    default:
        break;
    }
    return {};
}

bool ActionTableModel::setData(const QModelIndex& index, const QVariant& value, int role)
{
    if (!index.isValid() || index.column() != kActive || role != Qt::CheckStateRole)
        return false;
    Row& row = rows[static_cast<std::size_t>(index.row())];
    if (row.item.kind == ASync::kUndecided)
        return false;
    row.item.active = value.value<Qt::CheckState>() == Qt::Checked;
    emit dataChanged(index, index, {Qt::CheckStateRole});
    emit CountChanged(CountText());
    return true;
}

QVariant ActionTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTitles[kColumns] = {"Active", "Action", "Source", "Destination"};
    return section >= 0 && section < kColumns ? QString::fromLatin1(kTitles[section]) : QVariant();
}

Qt::ItemFlags ActionTableModel::flags(const QModelIndex& index) const
{
    Qt::ItemFlags flags = QAbstractTableModel::flags(index);
    if (index.isValid() && index.column() == kActive &&
        rows[static_cast<std::size_t>(index.row())].item.kind != ASync::kUndecided)
        flags |= Qt::ItemIsUserCheckable;
    return flags;
}

void ActionTableModel::sort(int column, Qt::SortOrder order)
{
    auto key = [column](const Row& row) -> QString {
        switch (column) {
        case kActive:
            return row.item.active ? QStringLiteral("1") : QStringLiteral("0");
        case kAction:
            return Shown(row.item.word);
        case kSource:
            return Shown(row.item.source);
        default:
            return Shown(row.item.destination);
        }
    };
    emit layoutAboutToBeChanged();
    std::stable_sort(rows.begin(), rows.end(), [&](const Row& a, const Row& b) {
        const int compared = QString::compare(key(a), key(b), Qt::CaseInsensitive);
        return order == Qt::AscendingOrder ? compared < 0 : compared > 0;
    });
    emit layoutChanged();
}
