#pragma once
// ActionReview: the planned actions of a sync as a front end shows them for review, and the answer
// it gives back: a tick per action and, for each undecided pair the user settled, which file wins.
// An answer is checked whole before any part of it is applied, so that a mistaken answer leaves
// every action as it was.

#include "ACommon/base/AString.h"
#include "ACommon/sync/ASync.h"

#include <cstdint>
#include <utility>
#include <vector>

class ActionReview {
public:
    // One planned action as the review shows it.
    struct Item {
        int kind = 0;      // ASync::Kind
        int operation = 0; // ASync::Operation
        bool active = false;
        AString word;        // "Copy Right", "Delete", ...; "Undecided" for the undecided pair
        AString source;      // path1 as shown to the user
        AString destination; // path2 as shown (for a song, the side it goes to); empty for deletions
        AString deletesFrom; // for a deletion, the side it deletes from (as the sides are named)
        // The size of the file the action copies, replaces with or deletes (path1); 0 for folders.
        std::uint64_t bytes = 0;
        AString leftText; // the action table's left and right columns
        AString rightText;
    };

    struct Answer {
        // A tick per action, in the list's order; empty leaves the ticks as they are. The tick of
        // an undecided pair counts only once the pair is settled.
        std::vector<bool> active;
        // Undecided pairs settled: the action's index and ASync::kKeepLeft or ASync::kKeepRight.
        std::vector<std::pair<int, ASync::ChangeChoice>> keep;
    };

    // The actions of `sync` as they stand.
    static std::vector<Item> Snapshot(ASync& sync);
    // Applies `answer` to the actions of `sync`, whole or not at all: 0, or kErrInvalidElement with nothing
    // changed when the ticks do not match the actions one for one, an index lies outside the list, a pair is
    // settled twice, or a choice is not keeping one file of an undecided pair. A pair settled without ticks
    // becomes active.
    static int Apply(ASync& sync, const Answer& answer);
};
