#include "AUICommon/UDisksService.h"

#include <QDBusConnection>
#include <QDBusInterface>
#include <QDBusObjectPath>
#include <QDBusReply>
#include <QVariantMap>

#include <cerrno>

namespace {

constexpr const char* kService = "org.freedesktop.UDisks2";

// Calls `method` of `interface` on the UDisks2 object `path` with empty options. 0, or EIO with
// `why`.
int Call(const QString& path, const char* interface, const char* method, std::string& why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        why = "the system's message bus cannot be reached";
        return EIO;
    }
    QDBusInterface object(QString::fromLatin1(kService), path, QString::fromLatin1(interface), bus);
    if (!object.isValid()) {
        why = object.lastError().message().toStdString();
        if (why.empty())
            why = "the disk service does not know this device";
        return EIO;
    }
    const QDBusMessage reply = object.call(QString::fromLatin1(method), QVariantMap());
    if (reply.type() == QDBusMessage::ErrorMessage) {
        why = reply.errorMessage().toStdString();
        return EIO;
    }
    return 0;
}

} // namespace

QString UDisksService::BlockObjectPath(const std::string& device)
{
    const size_t slash = device.rfind('/');
    const std::string name = slash == std::string::npos ? device : device.substr(slash + 1);
    QString path = QStringLiteral("/org/freedesktop/UDisks2/block_devices/");
    for (unsigned char c : name) {
        if ((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9'))
            path += QLatin1Char(static_cast<char>(c));
        else
            path += QStringLiteral("_%1").arg(c, 2, 16, QLatin1Char('0'));
    }
    return path;
}

int UDisksService::Unmount(const std::string& device, std::string& why)
{
    return Call(BlockObjectPath(device), "org.freedesktop.UDisks2.Filesystem", "Unmount", why);
}

int UDisksService::PowerOff(const std::string& device, std::string& why)
{
    QDBusConnection bus = QDBusConnection::systemBus();
    if (!bus.isConnected()) {
        why = "the system's message bus cannot be reached";
        return EIO;
    }
    QDBusInterface properties(QString::fromLatin1(kService), BlockObjectPath(device),
                              QStringLiteral("org.freedesktop.DBus.Properties"), bus);
    const QDBusReply<QDBusVariant> drive = properties.call(
        QStringLiteral("Get"), QStringLiteral("org.freedesktop.UDisks2.Block"), QStringLiteral("Drive"));
    if (!drive.isValid()) {
        why = drive.error().message().toStdString();
        return EIO;
    }
    const QString drivePath = qvariant_cast<QDBusObjectPath>(drive.value().variant()).path();
    if (drivePath.isEmpty() || drivePath == QLatin1String("/")) {
        why = "no drive is known behind the device";
        return EIO;
    }
    return Call(drivePath, "org.freedesktop.UDisks2.Drive", "PowerOff", why);
}
