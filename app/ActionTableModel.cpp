#include "app/ActionTableModel.h"

#include "app/Pictures.h"

#include "ACommon/sync/ASync.h"
#include "ACommon/sync/SyncTally.h"
#include "APlatform/Unicode.h"

#include <algorithm>

namespace {

QString Shown(const AString& text) { return QString::fromStdString(text.ToStdString()); }

QString Size(std::uint64_t bytes) { return Shown(SyncTally::FormatSize(bytes)); }

bool IsCopy(int kind)
{
    return kind == ASync::kCopyLeft || kind == ASync::kCopyRight || kind == ASync::kReplaceLeft ||
           kind == ASync::kReplaceRight;
}

bool IsDeletion(int kind)
{
    return kind == ASync::kDeleteLeft || kind == ASync::kDeleteRight || kind == ASync::kDeleteDirLeft ||
           kind == ASync::kDeleteDirRight;
}

} // namespace

ActionTableModel::ActionTableModel(QObject* parent) : QAbstractTableModel(parent) {}

void ActionTableModel::SetSides(Sides given) { sides = std::move(given); }

void ActionTableModel::SetSnapshot(std::vector<ActionReview::Item> actions)
{
    beginResetModel();
    rows.clear();
    rows.reserve(actions.size());
    for (std::size_t i = 0; i < actions.size(); ++i)
        rows.push_back({std::move(actions[i]), static_cast<int>(i)});
    endResetModel();
    Recount();
}

void ActionTableModel::Recount()
{
    emit CountChanged(CountText());
    emit TotalsChanged(TotalsText());
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
    Recount();
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

QString ActionTableModel::TotalsText() const
{
    if (rows.empty())
        return QString();
    int copies = 0;
    int deletions = 0;
    std::uint64_t copied = 0;
    // What the right side gains and loses, for the space left on it.
    std::uint64_t toRight = 0;
    std::uint64_t offRight = 0;
    for (const Row& row : rows) {
        const ActionReview::Item& item = row.item;
        if (!item.active)
            continue;
        if (IsCopy(item.kind)) {
            ++copies;
            copied += item.bytes;
            if (item.kind == ASync::kCopyRight || item.kind == ASync::kReplaceRight)
                toRight += item.bytes;
        } else if (IsDeletion(item.kind)) {
            ++deletions;
            if (item.kind == ASync::kDeleteRight)
                offRight += item.bytes;
        }
    }
    const QString unit = sides.songs ? (copies == 1 ? QStringLiteral("song") : QStringLiteral("songs"))
                                     : (copies == 1 ? QStringLiteral("file") : QStringLiteral("files"));
    QString text =
        QStringLiteral("%1 %2 to copy, %3; %4 to delete").arg(copies).arg(unit, Size(copied)).arg(deletions);
    if (sides.rightFree) {
        const std::uint64_t available = *sides.rightFree + offRight;
        text += available >= toRight ? QStringLiteral("; space after the sync: %1 free on %2")
                                           .arg(Size(available - toRight), sides.right)
                                     : QStringLiteral("; does not fit: %1 more than %2 has free")
                                           .arg(Size(toRight - available), sides.right);
    }
    return text;
}

QString ActionTableModel::ActionName(int kind) const
{
    switch (kind) {
    case ASync::kCopyLeft:
        return QStringLiteral("Copy to %1").arg(sides.left);
    case ASync::kCopyRight:
        return QStringLiteral("Copy to %1").arg(sides.right);
    case ASync::kDeleteLeft:
        return QStringLiteral("Delete from %1").arg(sides.left);
    case ASync::kDeleteRight:
        return QStringLiteral("Delete from %1").arg(sides.right);
    case ASync::kReplaceLeft:
        return QStringLiteral("Replace on %1").arg(sides.left);
    case ASync::kReplaceRight:
        return QStringLiteral("Replace on %1").arg(sides.right);
    case ASync::kCreateDirLeft:
        return QStringLiteral("New Folder on %1").arg(sides.left);
    case ASync::kCreateDirRight:
        return QStringLiteral("New Folder on %1").arg(sides.right);
    case ASync::kDeleteDirLeft:
        return QStringLiteral("Delete Folder from %1").arg(sides.left);
    case ASync::kDeleteDirRight:
        return QStringLiteral("Delete Folder from %1").arg(sides.right);
    default:
        return QStringLiteral("Undecided");
    }
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
            return ActionName(item.kind);
        break;
    case kSource:
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return Shown(item.source);
        break;
    case kDestination:
        // A deletion has no destination: the side it deletes from stands there.
        if (role == Qt::DisplayRole || role == Qt::ToolTipRole)
            return Shown(item.destination.IsEmpty() ? item.deletesFrom : item.destination);
        break;
    case kSize:
        if (role == Qt::DisplayRole && item.bytes > 0)
            return Size(item.bytes);
        if (role == Qt::TextAlignmentRole)
            return QVariant::fromValue(Qt::AlignRight | Qt::AlignVCenter);
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
    Recount();
    return true;
}

QVariant ActionTableModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    static const char* const kTitles[kColumns] = {"Active", "Action", "Source", "Destination", "Size"};
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
    emit layoutAboutToBeChanged();
    auto ordered = [order](auto less) {
        return [order, less](const Row& a, const Row& b) {
            return order == Qt::AscendingOrder ? less(a, b) : less(b, a);
        };
    };
    if (column == kActive) {
        std::stable_sort(rows.begin(), rows.end(),
                         ordered([](const Row& a, const Row& b) { return a.item.active < b.item.active; }));
    } else if (column == kSize) {
        std::stable_sort(rows.begin(), rows.end(),
                         ordered([](const Row& a, const Row& b) { return a.item.bytes < b.item.bytes; }));
    } else {
        // Names sort as the user's language sorts them ("Étude" before "Nocturne"); each row's key
        // is made once.
        std::vector<std::pair<std::string, std::size_t>> keys;
        keys.reserve(rows.size());
        for (std::size_t i = 0; i < rows.size(); ++i) {
            const ActionReview::Item& item = rows[i].item;
            const QString text =
                column == kAction   ? ActionName(item.kind)
                : column == kSource ? Shown(item.source)
                                    : Shown(item.destination.IsEmpty() ? item.deletesFrom : item.destination);
            keys.emplace_back(
                platform::CollationKey(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                                           static_cast<std::size_t>(text.size()))),
                i);
        }
        std::stable_sort(keys.begin(), keys.end(), [order](const auto& a, const auto& b) {
            return order == Qt::AscendingOrder ? a.first < b.first : b.first < a.first;
        });
        std::vector<Row> sorted;
        sorted.reserve(rows.size());
        for (const auto& key : keys)
            sorted.push_back(std::move(rows[key.second]));
        rows = std::move(sorted);
    }
    emit layoutChanged();
}
