#pragma once
// The action table: a model over a snapshot of the planned actions, taken while the run waits for
// the review. The user's ticks and sorting change only the snapshot; the answer built from it goes
// back to the run (which applies it before it goes on), by each action's place in the run's list.

#include "ACommon/sync/ActionReview.h"

#include <QAbstractTableModel>

#include <vector>

class ActionTableModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { kActive, kAction, kSource, kDestination, kColumns };

    explicit ActionTableModel(QObject* parent = nullptr);

    // Shows `actions` (in the run's order); empty clears the table.
    void SetSnapshot(std::vector<ActionReview::Item> actions);
    // The ticks by the run's order.
    ActionReview::Answer Answer() const;
    void SetAllActive(bool active);
    // "N Actions", with ", M Active" when not all N are ticked.
    QString CountText() const;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    QVariant headerData(int section, Qt::Orientation orientation, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    void sort(int column, Qt::SortOrder order) override;

signals:
    void CountChanged(const QString& text);

private:
    struct Row {
        ActionReview::Item item;
        int index = 0; // the action's place in the run's list
    };
    std::vector<Row> rows;
};
