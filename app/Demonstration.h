#pragma once
// The demonstration the window's screenshots show: in a temporary folder, a volumes folder holding
// an empty iPod ("Demo iPod" on DEMOPOD), a folder of a dozen small silent songs and a music library
// that holds them and serves the iPod. While it lives
// the state files go into it too, so that nothing of the user's is read or written.

#include <QString>
#include <QTemporaryDir>

class Demonstration {
public:
    Demonstration();
    // Makes the folders and points PELORIN_VOLUMES, PELORIN_LIBRARY and XDG_DATA_HOME into them. False (with
    // `problem`) when something cannot be written.
    bool Make(QString* problem);

    QString Volumes() const { return folder.path() + QStringLiteral("/Volumes"); }
    QString Songs() const { return folder.path() + QStringLiteral("/Songs"); }
    QString Library() const { return folder.path() + QStringLiteral("/Library"); }
    QString IPod() const { return Volumes() + QStringLiteral("/DEMOPOD"); }

private:
    QTemporaryDir folder;
};
