#pragma once
// CapacityBar: the room on the iPod's volume under its picture, as music players show it: the part
// in use, the part the planned sync would fill (or give back), and the part free, with a line that
// says it in figures.

#include "ACommon/sync/SyncSpace.h"

#include <QWidget>

#include <optional>

class QLabel;

class CapacityBar : public QWidget {
    Q_OBJECT
public:
    explicit CapacityBar(QWidget* parent = nullptr);

    // Shows `volume`, and what `plan` would do to it when given; hides the bar when the volume is
    // not known.
    void Show(const SyncSpace::Volume& volume, const SyncSpace::Change* plan = nullptr);
    void Clear();
    // The line under the bar ("12.4 GB used, 3.5 GB free; 1.2 GB free after the sync").
    QString Text() const;
    bool PlanFits() const { return fits; }

private:
    class Bar;
    Bar* bar = nullptr;
    QLabel* line = nullptr;
    SyncSpace::Volume shown;
    std::optional<SyncSpace::Change> planned;
    bool fits = true;
};
