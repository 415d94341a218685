#pragma once
// ExtendedTableView: a table that looks disabled while it is (greyed text and background, no
// scrolling, no focus), and sorts by a click on a column's header through its model's sort.

#include <QTableView>

class ExtendedTableView : public QTableView {
    Q_OBJECT
public:
    explicit ExtendedTableView(QWidget* parent = nullptr);

protected:
    void changeEvent(QEvent* event) override;
};
