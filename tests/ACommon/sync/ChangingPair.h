#pragma once
// The frame of the models of random changes to two folders: a model makes its changes between
// synchronize runs and, now and then, while a run is under way (while its plan is reviewed, and in
// the middle of a copy). After a run the frame finds each version written since the last run that is
// on neither side nor put aside, or that this run put aside without a word in the log.

#include "ACommon/sync/ASync.h"
#include "fixtures/FolderPair.h"
#include "fixtures/SyncModel.h"
#include "fixtures/Text.h"

#include <map>
#include <set>
#include <string>

namespace syncmodels {

class ChangingPair : public fixtures::ModelBase {
public:
    using ModelBase::ModelBase;
    virtual ~ChangingPair() = default;
    ChangingPair(const ChangingPair&) = delete;
    ChangingPair& operator=(const ChangingPair&) = delete;

    // The review of every run the models load: a change now and then.
    static int ChangeDuringReview(AArray*, ASync*)
    {
        if (current && current->Pick(3) == 0) {
            current->CountChangeDuringRun();
            current->ChangeOne();
        }
        return 0;
    }

protected:
    // One random change.
    virtual void ChangeOne() = 0;
    // A new version of the file at `path`, `relative` below the root of `side`.
    virtual void Rewrite(int side, const std::string& relative, const std::string& path) = 0;
    // What the log says of a version of `name` that a run put aside.
    virtual std::string Mention(const std::string& name) const = 0;

    // Runs `sync` (its state saved for the next run when `save`) with the changes during the run.
    int RunChanging(ASync& sync, bool save)
    {
        changedDuringThisRun = false;
        current = this;
        AFile::SetCopyHookForTesting([this](const AString& from) { ChangeDuringCopy(from.ToStdString()); });
        const int result = save ? pair.Run(sync) : sync.DoSync(nullptr);
        AFile::SetCopyHookForTesting(nullptr);
        current = nullptr;
        ++runs;
        return result;
    }

    // Finds each version of `changed` on neither side (`onSides`) nor put aside (`aside`: version ->
    // where it went), or put aside by this run without a word in the log.
    void CheckNothingLost(int result, const std::string& log, const std::set<std::string>& onSides,
                          const std::map<std::string, std::string>& aside)
    {
        for (int side = 0; side < 2; ++side)
            for (const auto& [name, text] : changed[side]) {
                if (onSides.count(text))
                    continue;
                if (!aside.count(text))
                    Find("the version of " + name + " written since the last run was lost (result " +
                         std::to_string(result) + ")\n" + log);
                else if (!keptBefore.count(text) && !fixtures::Has(log, Mention(name)))
                    Find("the version of " + name + " was put aside (" + aside.at(text) +
                         ") without a word in the log\n" + log);
            }
        for (const auto& [text, where] : aside)
            keptBefore.insert(text);
    }

    void CountChangeDuringRun()
    {
        ++changesDuringRun;
        changedDuringThisRun = true;
    }

    fixtures::FolderPair pair;
    std::map<std::string, std::string> changed[2]; // per side: name -> version written since the last run
    bool changedDuringThisRun = false;

private:
    // In the middle of a copy: now and then the file being copied is written to.
    void ChangeDuringCopy(const std::string& from)
    {
        if (Pick(4) != 0)
            return;
        for (int side = 0; side < 2; ++side) {
            const std::string root = side == 0 ? pair.L() : pair.R();
            if (from.compare(0, root.size(), root) != 0)
                continue;
            CountChangeDuringRun();
            Rewrite(side, from.substr(root.size()), from);
        }
    }

    std::set<std::string> keptBefore; // versions put aside by earlier runs
    static inline ChangingPair* current = nullptr;
};

} // namespace syncmodels
