// Random changes on both sides of a folder pair between synchronize runs, and also while a run is
// under way (between its plan and its actions, and in the middle of its copies), and after every
// run the promises a two-way sync keeps: both sides equal after a clean run undisturbed by changes
// (or the differences named), no change lost to what happened on the other side or during the run
// (a copy put aside is named in the log), nothing written outside the two folders, and a refused
// run changing nothing. A few hundred runs from a fixed seed; PELORIN_MODEL_RUNS asks for more
// (and PELORIN_MODEL_SEED for another seed).

#include "ACommon/sync/ASync.h"

#include "ACommon/base/AError.h"
#include "ChangingPair.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using fixtures::Tree;
const auto Files = fixtures::FilesBelow;

// The names the changes pick from: case and Unicode-form variants, nested folders.
const std::vector<std::string> kNames = {"a.txt",       "b.txt",        "Readme",  "README",
                                         "caf\xC3\xA9", "cafe\xCC\x81", "d/x.txt", "d/y.txt",
                                         "d/e/z.txt",   "D/x.txt",      "n.txt",   "m/k.txt"};

int Refuse(AArray*, ASync*) { return kErrUserCancel; }

class Model : public syncmodels::ChangingPair {
public:
    explicit Model(unsigned seed) : ChangingPair(seed)
    {
        fixtures::WriteFile(pair.tmp / "outside/keep.txt", "outside");
        fs::remove_all(std::string(std::getenv("XDG_DATA_HOME")) + "/Trash");
    }

    // Between one and four random changes, each on a random side.
    void Change()
    {
        const int count = 1 + Pick(4);
        for (int i = 0; i < count; ++i)
            ChangeOne();
    }

    void ChangeOne() override { ChangeAt(Pick(2), kNames[Pick(static_cast<int>(kNames.size()))]); }
    void Rewrite(int side, const std::string& relative, const std::string& path) override
    {
        std::error_code error;
        Write(side, relative, path, fs::is_regular_file(fs::symlink_status(path, error)));
    }
    std::string Mention(const std::string& name) const override { return name; }

    // One change of `name` on `side`.
    void ChangeAt(int side, const std::string& name)
    {
        const std::string root = side == 0 ? pair.L() : pair.R();
        const std::string path = root + name;
        std::error_code error;
        const bool isFile = fs::is_regular_file(fs::symlink_status(path, error));
        switch (Pick(isFile ? 7 : 3)) {
        case 0:
        case 1: // a new file, or a new version of one
            Write(side, name, path, isFile);
            break;
        case 2: // a link: to the folder outside (never to be written through) or to a file
            if (!fs::exists(fs::symlink_status(path, error)) && MakeParent(path)) {
                if (Pick(2) == 0)
                    fs::create_directory_symlink(pair.tmp / "outside", path, error);
                else
                    fs::create_symlink(pair.tmp / "outside/keep.txt", path, error);
                ++changes;
            }
            break;
        case 3:
        case 4: // deleted
            fs::remove(path, error);
            changed[side].erase(name);
            ++changes;
            break;
        case 5: { // renamed
            const std::string to = kNames[Pick(static_cast<int>(kNames.size()))];
            if (fs::exists(fs::symlink_status(root + to, error)) || !MakeParent(root + to))
                break;
            fs::rename(path, root + to, error);
            if (!error) {
                if (changed[side].count(name))
                    changed[side][to] = changed[side][name];
                else
                    changed[side][to] = fixtures::ReadText(root + to);
                changed[side].erase(name);
                ++changes;
            }
            break;
        }
        default: // a file replaced by a folder holding a file
            fs::remove(path, error);
            changed[side].erase(name);
            Write(side, name + "/inner.txt", path + "/inner.txt", false);
            break;
        }
    }

    // One synchronize run; refused at the review now and then, which must change nothing.
    void Run()
    {
        const bool refuse = Pick(10) == 0;
        fixtures::RecordingFrontend frontend;
        frontend.questions.SetDefaultAnswer("Yes to All");
        const Tree beforeLeft = Files(pair.L()), beforeRight = Files(pair.R());
        const int result =
            RunChanging(*pair.Load(fixtures::kSynchronize, refuse ? &Refuse : &ChangeDuringReview), !refuse);
        const std::string log = frontend.Log();
        const Tree left = Files(pair.L()), right = Files(pair.R());
        if (refuse) {
            if (left != beforeLeft || right != beforeRight)
                Find("a refused run changed files");
            return;
        }
        if (Files(pair.tmp / "outside") != Tree{{"keep.txt", "outside"}})
            Find("something was written outside the two folders");
        if (result == 0 && !changedDuringThisRun) {
            std::set<std::string> named;
            for (const auto& [name, text] : left)
                if (fixtures::Has(log, pair.L(name) + " differs from its copy"))
                    named.insert(name);
            Tree l = left, r = right;
            for (const std::string& name : named) {
                l.erase(name);
                r.erase(name);
            }
            if (l != r)
                Find("a run that exited 0 left the sides different:\nleft: " + testing::PrintToString(left) +
                     "\nright: " + testing::PrintToString(right));
        }
        // Every change made since the last run is still there: on a side, or put aside where the
        // log says it went.
        std::set<std::string> onSides;
        for (const Tree* tree : {&left, &right})
            for (const auto& [name, text] : *tree)
                onSides.insert(text);
        std::map<std::string, std::string> aside; // text -> the name it was put aside under
        const std::string trash = std::string(std::getenv("XDG_DATA_HOME")) + "/Trash";
        for (const auto& [name, text] : Files(trash + "/files"))
            aside[text] = fixtures::ReadText(trash + "/info/" + name + ".trashinfo");
        for (const auto& [name, text] : Files(pair.tmp / "Removed Files"))
            aside[text] = name;
        CheckNothingLost(result, log, onSides, aside);
        // A change now on both sides is synced: from here on the sync may replace it like any file.
        for (auto& side : changed)
            for (auto it = side.begin(); it != side.end();) {
                const auto l = left.find(it->first), r = right.find(it->first);
                const bool synced = (result == 0 && !changedDuringThisRun) ||
                                    (l != left.end() && r != right.end() && l->second == it->second &&
                                     r->second == it->second);
                it = synced ? side.erase(it) : std::next(it);
            }
    }

private:
    bool MakeParent(const std::string& path)
    {
        std::error_code error;
        fs::create_directories(fs::path(path).parent_path(), error);
        return fs::is_directory(fs::path(path).parent_path(), error) &&
               !fs::is_symlink(fs::path(path).parent_path(), error);
    }

    // A new text (unique, so that it can be found wherever it goes), of the old size now and then,
    // dated newer or older than before. An edit that keeps both the date and the size cannot be
    // seen by any comparison of dates and sizes, and is not made.
    void Write(int side, const std::string& name, const std::string& path, bool exists)
    {
        if (!MakeParent(path))
            return;
        std::error_code error;
        if (fs::is_symlink(path, error) || fs::is_directory(path, error))
            return;
        std::string text = "v" + std::to_string(++serial);
        struct stat old {};
        const bool hadOld = exists && stat(path.c_str(), &old) == 0;
        if (hadOld && Pick(2) == 0 && static_cast<size_t>(old.st_size) > text.size())
            text.resize(static_cast<size_t>(old.st_size), '.');
        fixtures::WriteFile(path, text);
        // Every version gets a date no other version had: newer or older than all before it.
        const std::int64_t time =
            1600000000 + (Pick(3) == 0 ? -1 : 1) * 7 * static_cast<std::int64_t>(serial);
        fixtures::SetModTime(path, time);
        changed[side][name] = text;
        ++changes;
    }

    int serial = 0;
};

} // namespace

TEST(FolderSyncModel, RandomChangesOnBothSidesKeepEveryPromiseOfATwoWaySync)
{
    fixtures::ReportModels("model", fixtures::RunModels<Model>(fixtures::ModelRuns(300, 1), 15));
}
