#include "ACommon/sync/SyncSpace.h"

#include "ACommon/sync/ASync.h"
#include "ACommon/sync/SyncTally.h"
#include "APlatform/FileSystem.h"

#include <filesystem>
#include <system_error>

namespace {

// Kept free beyond the songs: the database written at the end, and the folders a run makes.
constexpr std::uint64_t kReserve = 1u << 20;

AString Size(std::uint64_t bytes) { return SyncTally::FormatSize(bytes); }

} // namespace

SyncSpace::Volume SyncSpace::Measure(const AString& path)
{
    Volume volume;
    if (path.IsEmpty())
        return volume;
    // A music folder not made yet lies on the volume of the nearest folder above it.
    std::filesystem::path folder(path.ToStdString());
    std::error_code error;
    while (!std::filesystem::exists(folder, error) && folder.has_parent_path() &&
           folder.parent_path() != folder)
        folder = folder.parent_path();
    platform::VolumeSpace space;
    if (!platform::VolumeSpaceOf(folder.string(), space))
        return volume;
    volume.known = true;
    volume.total = space.total;
    volume.used = space.used;
    volume.free = space.available;
    return volume;
}

SyncSpace::Change SyncSpace::PlannedChange(ASync& sync, int side)
{
    Change change;
    for (int i = 0; i < sync.GetActionCount(); ++i) {
        const ASync::SyncAction* action = sync.GetAction(i);
        if (!action || !action->active)
            continue;
        switch (action->operation) {
        case ASync::kOpCopy:
        case ASync::kOpReplace: {
            if (sync.SideOfPath(&action->path2) != side)
                break;
            bool estimated = false;
            const std::uint64_t bytes = sync.PlannedCopySize(&action->path1, &estimated, action->sourceSize);
            change.adds += bytes;
            if (estimated)
                change.estimated += bytes;
            ++change.files;
            // A replaced file that changed on its own side too is put aside, not given back.
            if (action->operation == ASync::kOpReplace && !action->keepReplaced)
                change.frees += sync.FileSize(&action->path2);
            break;
        }
        case ASync::kOpDelete:
            if (sync.SideOfPath(&action->path1) == side && sync.RemovalFreesSpace(side))
                change.frees += sync.FileSize(&action->path1);
            break;
        default:
            break;
        }
    }
    return change;
}

std::int64_t SyncSpace::FreeAfter(const Volume& volume, const Change& change)
{
    return static_cast<std::int64_t>(volume.free) + static_cast<std::int64_t>(change.frees) -
           static_cast<std::int64_t>(change.adds);
}

bool SyncSpace::Fits(const Volume& volume, const Change& change)
{
    if (!volume.known)
        return true;
    const std::uint64_t exact = change.adds - change.estimated;
    return exact + kReserve <= volume.free + change.frees;
}

AString SyncSpace::Refusal(const AString& name, const Volume& volume, const Change& change)
{
    AString text("Not enough space on ");
    text += name;
    text += ": the sync copies ";
    text += Size(change.adds);
    if (change.frees > 0) {
        text += " and frees ";
        text += Size(change.frees);
    }
    text += ", and ";
    text += Size(volume.free);
    text += " is free. Untick songs or make ";
    const std::uint64_t room = volume.free + change.frees;
    const std::uint64_t wanted = change.adds - change.estimated + kReserve;
    text += Size(wanted > room ? wanted - room : 0);
    text += " more room on it, then sync again. Nothing was copied.";
    return text;
}

AString SyncSpace::Describe(const Volume& volume, const Change* change)
{
    if (!volume.known)
        return AString("space unknown");
    AString text = Size(volume.used);
    text += " used, ";
    text += Size(volume.free);
    text += " free";
    if (change) {
        const std::int64_t after = FreeAfter(volume, *change);
        if (after >= 0) {
            text += "; ";
            text += Size(static_cast<std::uint64_t>(after));
            text += " free after the sync";
        } else {
            text += "; the sync needs ";
            text += Size(static_cast<std::uint64_t>(-after));
            text += " more";
        }
    }
    return text;
}
