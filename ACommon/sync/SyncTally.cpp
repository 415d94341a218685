#include "ACommon/sync/SyncTally.h"

#include "ACommon/base/AError.h"

#include <algorithm>
#include <cstdio>

void SyncTally::CountCopy(int side, std::uint64_t bytes)
{
    if (side != 1 && side != 2)
        return;
    ++copied[side];
    copiedBytes[side] += bytes;
}

void SyncTally::CountReplacement(std::uint64_t bytes)
{
    ++replaced;
    replacedBytes += bytes;
}

void SyncTally::NoteFailure(const AString& what, const AString& why)
{
    if (failuresNoted++ >= kFailuresNamed)
        return;
    if (!failuresNamed.IsEmpty())
        failuresNamed += "; ";
    failuresNamed += what;
    failuresNamed += " (";
    failuresNamed += why;
    failuresNamed += ")";
}

void SyncTally::CountUndone(int side, int copies, std::uint64_t bytes, int removals)
{
    if (side == 1 || side == 2) {
        copied[side] -= std::min(copied[side], copies);
        copiedBytes[side] -= std::min(copiedBytes[side], bytes);
    }
    removed -= std::min(removed, removals);
}

AString SyncTally::FormatSize(std::uint64_t bytes)
{
    char text[32];
    const double value = static_cast<double>(bytes);
    if (bytes < 1000)
        std::snprintf(text, sizeof text, "%llu bytes", static_cast<unsigned long long>(bytes));
    else if (value < 1e6)
        std::snprintf(text, sizeof text, "%.0f kB", value / 1e3);
    else if (value < 1e7)
        std::snprintf(text, sizeof text, "%.1f MB", value / 1e6);
    else if (value < 1e10)
        std::snprintf(text, sizeof text, "%.0f MB", value / 1e6);
    else
        std::snprintf(text, sizeof text, "%.1f GB", value / 1e9);
    return AString(text);
}

AString SyncTally::Summary(const AString& leftName, const AString& rightName, bool songs, bool movedAside,
                           int result) const
{
    auto items = [songs](int count) {
        AString text;
        text += count;
        text += songs ? (count == 1 ? " song" : " songs") : (count == 1 ? " file" : " files");
        return text;
    };
    AString line;
    if (result == kErrUserCancel)
        line = "Cancelled. ";
    line += "Copied ";
    bool any = false;
    for (int side : {2, 1}) {
        if (copied[side] == 0)
            continue;
        if (any)
            line += " and ";
        line += items(copied[side]);
        line += " (";
        line += FormatSize(copiedBytes[side]);
        line += ") to ";
        line += side == 1 ? leftName : rightName;
        any = true;
    }
    if (!any)
        line += items(0);
    if (heldAdded > 0) {
        line += "; put ";
        line += items(heldAdded);
        line += " the library held already into its playlist";
    }
    if (replaced > 0) {
        line += "; replaced ";
        line += replaced;
        line += " (";
        line += FormatSize(replacedBytes);
        line += ")";
    }
    line += "; removed ";
    line += removed;
    if (removed > 0 && movedAside)
        line += " (moved into \"Removed Files\")";
    if (kept > 0) {
        line += "; kept ";
        line += kept;
        line += " as they were";
    }
    // A run that failed without a failed action (a side that could not be listed or written back)
    // still failed once.
    const int failures = errors == 0 && result != 0 && result != kErrUserCancel ? 1 : errors;
    line += "; ";
    line += failures;
    line += failures == 1 ? " error." : " errors.";
    if (failuresNoted > 0) {
        line += failuresNoted == 1 ? " Not synced, tried again by the next run: "
                                   : " Not synced, each tried again by the next run: ";
        line += failuresNamed;
        if (failuresNoted > kFailuresNamed) {
            line += "; and ";
            line += failuresNoted - kFailuresNamed;
            line += " more (see the log)";
        }
        line += ".";
    }
    return line;
}
