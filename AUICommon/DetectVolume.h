#pragma once
// DetectVolume: notices iPods being mounted and unmounted. It watches the mount table (the kernel
// flags /proc/self/mountinfo on every mount and unmount) and the volumes root itself (so that
// volumes faked as folders are seen too); some 400 ms after the last event it looks again at the
// folders under the volumes root and reports the iPods that came and went. Nothing waits: the
// look is a timer on the owner's thread. An unmount is reported once it has happened.

#include <QObject>
#include <QSet>
#include <QString>
#include <QTimer>

class QFileSystemWatcher;
class QSocketNotifier;
class QFile;

class DetectVolume : public QObject {
    Q_OBJECT
public:
    // How long the watcher lets events settle before it looks.
    static constexpr int kSettleMilliseconds = 400;

    explicit DetectVolume(const QString& volumesRoot, QObject* parent = nullptr);
    ~DetectVolume() override;

    // Looks now and reports what changed since the last look.
    void Rescan();

signals:
    void VolumeMounted(const QString& mountPoint);
    void VolumeUnMounted(const QString& mountPoint);

private:
    QSet<QString> Scan() const;
    void Watch();

    QString root;
    QSet<QString> known;
    QTimer settle;
    QFileSystemWatcher* watcher = nullptr;
    QFile* mountTable = nullptr;
    QSocketNotifier* mountNotifier = nullptr;
};
