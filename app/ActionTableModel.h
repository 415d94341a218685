#pragma once
// The action table: a model over a snapshot of the planned actions, taken while the run waits for
// the review. The user's ticks and sorting change only the snapshot; the answer built from it goes
// back to the run (which applies it before it goes on), by each action's place in the run's list.

#include "ACommon/sync/ActionReview.h"

#include <QAbstractTableModel>

#include <cstdint>
#include <optional>
#include <vector>

class ActionTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kActive, kAction, kSource, kDestination, kSize, kColumns };

    // How the two sides are named in the table ("Library", "iPod"), whether the actions are songs,
    // and the free space of the right side when it is known.
    struct Sides {
        QString left = QStringLiteral("Library");
        QString right = QStringLiteral("iPod");
        bool songs = true;
        std::optional<std::uint64_t> rightFree;
    };

    explicit ActionTableModel(QObject* parent = nullptr);

    // Set before the snapshot is shown.
    void SetSides(Sides sides);

    // Shows `actions` (in the run's order); empty clears the table.
    void SetSnapshot(std::vector<ActionReview::Item> actions);
    // The ticks by the run's order.
    ActionReview::Answer Answer() const;
    void SetAllActive(bool active);
    // "N Actions", with ", M Active" when not all N are ticked.
    QString CountText() const;
    // What the ticked actions come to: "37 songs to copy, 2.1 MB; 2 to delete; space after the
    // sync: 1.2 GB free on iPod".
    QString TotalsText() const;
    // The action as the table names it: "Copy to iPod", "Delete from Library", ...
    QString ActionName(int kind) const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;

signals:
    void CountChanged(const QString& text);
    void TotalsChanged(const QString& text);

private:
    struct Row {
        ActionReview::Item item;
        int index = 0; // the action's place in the run's list
    };
    void Recount();

    std::vector<Row> rows;
    Sides sides;
};
