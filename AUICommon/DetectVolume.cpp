#include "AUICommon/DetectVolume.h"

#include "ACommon/itunesdb/MountedIPod.h"

#include <QDir>
#include <QFile>
#include <QFileSystemWatcher>
#include <QSocketNotifier>

DetectVolume::DetectVolume(const QString& volumesRoot, QObject* parent)
    : QObject(parent), root(QDir::cleanPath(volumesRoot))
{
    settle.setSingleShot(true);
    settle.setInterval(kSettleMilliseconds);
    connect(&settle, &QTimer::timeout, this, &DetectVolume::Rescan);

    mountTable = new QFile(QStringLiteral("/proc/self/mountinfo"), this);
    if (mountTable->open(QIODevice::ReadOnly)) {
        mountNotifier = new QSocketNotifier(mountTable->handle(), QSocketNotifier::Exception, this);
        connect(mountNotifier, &QSocketNotifier::activated, this, [this] {
            // The flag stays raised until the table is read again from its start.
            mountTable->seek(0);
            mountTable->readAll();
            settle.start();
        });
    }
    watcher = new QFileSystemWatcher(this);
    connect(watcher, &QFileSystemWatcher::directoryChanged, this, [this] { settle.start(); });
    Watch();
    known = Scan();
}

DetectVolume::~DetectVolume() = default;

void DetectVolume::Watch()
{
    // The root, or while it does not exist yet the folder it will appear in.
    QString watched = root;
    while (!watched.isEmpty() && !QDir(watched).exists() && watched != QStringLiteral("/"))
        watched = QFileInfo(watched).path();
    const QStringList now = watcher->directories();
    if (!now.contains(watched)) {
        if (!now.isEmpty())
            watcher->removePaths(now);
        watcher->addPath(watched);
    }
}

QSet<QString> DetectVolume::Scan() const
{
    QSet<QString> found;
    for (const MountedIPod& pod : MountedIPod::FindAll(AString::FromUTF8(root.toStdString())))
        found.insert(QString::fromStdString(pod.mountPoint.ToStdString()));
    return found;
}

void DetectVolume::Rescan()
{
    Watch();
    const QSet<QString> now = Scan();
    const QSet<QString> before = known;
    known = now;
    for (const QString& gone : before)
        if (!now.contains(gone))
            emit VolumeUnMounted(gone);
    for (const QString& came : now)
        if (!before.contains(came))
            emit VolumeMounted(came);
}
