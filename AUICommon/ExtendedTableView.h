#pragma once
// ExtendedTableView: a table that looks disabled while it is (greyed text and background, no
// scrolling, no focus), and sorts by a click on a column's header through its model's sort. Tab
// moves on to the next control, not to the next cell; Space ticks or unticks the current row in the
// check column, whichever cell of the row is current.

#include <QTableView>

class ExtendedTableView : public QTableView {
    Q_OBJECT
public:
    explicit ExtendedTableView(QWidget* parent = nullptr);

    // The column whose check box Space toggles; -1 (the default) for none.
    void SetCheckColumn(int column) { checkColumn = column; }
    // The height that shows `rows` rows with the header.
    int HeightForRows(int rows) const;

protected:
    void changeEvent(QEvent* event) override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    int checkColumn = -1;
};
