#include "ACommon/itunesdb/IPodEject.h"

#include "ACommon/base/AError.h"
#include "ACommon/itunesdb/IPodLock.h"
#include "APlatform/Eject.h"

namespace {

AString NameOf(const MountedIPod& pod) { return pod.name.IsEmpty() ? pod.volume : pod.name; }

} // namespace

AString IPodEject::InUseMessage(const MountedIPod& pod)
{
    return NameOf(pod) +
           " is being changed by a sync; eject it once the sync has finished. Nothing was done.";
}

int IPodEject::Eject(const MountedIPod& pod, AString* message)
{
    AString said;
    {
        // Taken and let go at once: held, its open folder would keep the volume busy.
        IPodLock lock;
        if (lock.Acquire(pod.mountPoint, 0) == kErrBusy) {
            if (message)
                *message = InUseMessage(pod);
            return kErrBusy;
        }
    }
    const platform::EjectOutcome outcome = platform::EjectVolume(pod.mountPoint.ToStdString());
    const AString why = AString::FromUTF8(outcome.why);
    if (outcome.error != 0) {
        said = AString("Could not eject ") + NameOf(pod) + (why.IsEmpty() ? AString() : AString(": ") + why) +
               ". Close any program that uses it and try again; until then, do not unplug it.";
    } else if (outcome.poweredOff) {
        said = NameOf(pod) + " was ejected. It is safe to unplug it now.";
    } else {
        said =
            NameOf(pod) + " was unmounted. Unplug it once its screen no longer says \"Do not disconnect\".";
    }
    if (message)
        *message = said;
    return outcome.error != 0 ? kErrIO : 0;
}
