#pragma once
// iTuneDisplay: the status area of the main window, a framed panel with a rounded, tinted inside.

#include <QColor>
#include <QWidget>

class iTuneDisplay : public QWidget {
    Q_OBJECT
public:
    explicit iTuneDisplay(QWidget* parent = nullptr);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background{241, 243, 218};
};
