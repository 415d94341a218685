#pragma once
// UDisksService: the desktop's disk service (UDisks2) over the system D-Bus, for ejecting a volume
// from the window: the file system is unmounted through its block device's Filesystem interface,
// and the drive behind it powered off through its Drive interface.

#include "APlatform/Eject.h"

#include <QString>

class UDisksService : public platform::DiskService {
public:
    int Unmount(const std::string& device, std::string& why) override;
    int PowerOff(const std::string& device, std::string& why) override;

    // The object path UDisks2 gives the block device `device` ("/dev/sdb1" gives
    // "/org/freedesktop/UDisks2/block_devices/sdb1"; characters other than letters and digits are
    // written as "_" and two hex digits).
    static QString BlockObjectPath(const std::string& device);
};
