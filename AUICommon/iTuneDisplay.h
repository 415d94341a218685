#pragma once
// iTuneDisplay: the status area of the main window, a framed panel with a rounded, tinted inside.

#include <QColor>
#include <QWidget>

class iTuneDisplay : public QWidget {
    Q_OBJECT
public:
    explicit iTuneDisplay(QWidget* parent = nullptr);

    QColor backgroundColor() const { return background; }
    void setBackgroundColor(const QColor& color);
    QColor textColor() const { return text; }
    void setTextColor(const QColor& color);

protected:
    void paintEvent(QPaintEvent* event) override;

private:
    QColor background{241, 243, 218};
    QColor text{Qt::black};
};
