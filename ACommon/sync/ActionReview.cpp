#include "ACommon/sync/ActionReview.h"

#include "ACommon/base/AError.h"

#include <set>

std::vector<ActionReview::Item> ActionReview::Snapshot(ASync& sync)
{
    const bool songs = sync.GetType() == ASync::kSongSync;
    auto shown = [&sync](const AString& path, signed char isFile) {
        return path.IsEmpty() ? AString() : sync.FormatVPForDisplay(&path, isFile, -1, 1);
    };
    std::vector<Item> items;
    items.reserve(static_cast<std::size_t>(sync.GetActionCount()));
    for (int i = 0; i < sync.GetActionCount(); ++i) {
        const ASync::SyncAction* action = sync.GetAction(i);
        Item item;
        item.kind = action->kind;
        item.operation = action->operation;
        item.active = action->active != 0;
        item.word =
            action->kind == ASync::kUndecided ? AString("Undecided") : AString(ASync::KindWord(action->kind));
        item.source = shown(action->path1, 1);
        // Both paths of a song action name the same song: the destination is shown as its side.
        item.destination = shown(action->path2, songs ? 0 : 1);
        if (action->operation == ASync::kOpDelete || action->operation == ASync::kOpDeleteDir) {
            const bool left = action->kind == ASync::kDeleteLeft || action->kind == ASync::kDeleteDirLeft;
            if (ADir* side = left ? sync.GetDir1() : sync.GetDir2())
                item.deletesFrom = side->GetRootDisplayName(0);
        }
        if (action->operation == ASync::kOpCopy || action->operation == ASync::kOpReplace ||
            action->operation == ASync::kOpDelete)
            item.bytes = sync.SourceBytes(*action);
        item.leftText = action->leftText;
        item.rightText = action->rightText;
        items.push_back(std::move(item));
    }
    return items;
}

int ActionReview::Apply(ASync& sync, const Answer& answer)
{
    const int count = sync.GetActionCount();
    if (!answer.active.empty() && static_cast<int>(answer.active.size()) != count)
        return kErrInvalidElement;
    std::set<int> settled;
    for (const auto& [index, choice] : answer.keep) {
        if (index < 0 || index >= count || !settled.insert(index).second)
            return kErrInvalidElement;
        if (choice != ASync::kKeepLeft && choice != ASync::kKeepRight)
            return kErrInvalidElement;
        if (sync.GetAction(index)->kind != ASync::kUndecided)
            return kErrInvalidElement;
    }
    for (const auto& [index, choice] : answer.keep)
        sync.ChangeSyncAction(sync.GetAction(index), choice);
    for (int i = 0; i < count; ++i) {
        ASync::SyncAction* action = sync.GetAction(i);
        const bool justSettled = settled.count(i) != 0;
        // An undecided pair is never performed; its tick waits until it is settled.
        if (action->operation == ASync::kOpUndecided)
            continue;
        if (!answer.active.empty())
            action->active = answer.active[static_cast<std::size_t>(i)] ? 1 : 0;
        else if (justSettled)
            action->active = 1;
    }
    return 0;
}
