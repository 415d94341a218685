#pragma once
// TransferStatus: while a sync copies, how much of it is copied and the time left ("12 MB of 80 MB
// copied, about 2 min left") in a line of the status panel, and, while the window is minimised, in
// its title, so that the task bar shows it. Read from the run's meter a few times a second.

#include <QObject>
#include <QString>

class ASync;
class QLabel;
class QTimer;
class QWidget;

class TransferStatus : public QObject {
    Q_OBJECT
public:
    // `line` shows the text; `window` is the window whose title follows it while minimised.
    TransferStatus(QLabel* line, QWidget* window);

    // Follows the copies of `sync` (its run has started) until End.
    void Begin(const ASync* sync);
    void End();
    // Reads the meter now (the timer does so on its own).
    void Refresh();

    // The window's title for the progress `percent` and the copy line `text` while minimised.
    static QString MinimisedTitle(int percent, const QString& text, const QString& title);

private:
    QLabel* line;
    QWidget* window;
    QTimer* timer;
    const ASync* sync = nullptr;
    QString title; // the window's own title, put back when the run ends
};
