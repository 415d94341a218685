#pragma once
// IPodEject: ejecting a mounted iPod so that it may be unplugged, once nothing is changing it.
//
// A program that changes the iPod's database holds its lock (IPodLock) until the change is stored;
// while it does, the iPod is not ejected. Otherwise the volume is unmounted and the drive powered
// off through the desktop's disk service (platform::EjectVolume), and the message says whether it
// is safe to unplug it.

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/MountedIPod.h"

class IPodEject {
public:
    // Ejects `pod`. 0 when its volume was unmounted; kErrBusy (nothing done) while a program holds
    // its lock; kErrIO when it could not be unmounted. `message` says what happened in a sentence
    // or two for the user.
    static int Eject(const MountedIPod& pod, AString* message);
    // "Demo iPod is being changed by a sync; eject it once the sync has finished. Nothing was done."
    static AString InUseMessage(const MountedIPod& pod);
};
