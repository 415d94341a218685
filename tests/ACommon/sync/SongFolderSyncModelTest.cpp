// Random changes to two folders of songs between synchronize runs and while a run is under way
// (between its plan and its actions, and in the middle of its copies): new music, retagging and
// deletions, with dates newer or older than before. After every run no version of a song written
// since the last run is lost: it is on a side or in "Removed Files", and one put aside is named in
// the log. PELORIN_MODEL_RUNS asks for more runs (and PELORIN_MODEL_SEED for another seed).

#include "ACommon/sync/ASyncLib.h"

#include "ChangingPair.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

namespace fs = std::filesystem;

const auto Files = fixtures::FilesBelow;

const std::vector<std::string> kTitles = {"One", "Two", "Three"};

class SongModel : public syncmodels::ChangingPair {
public:
    explicit SongModel(unsigned seed) : ChangingPair(seed) {}

    void Change()
    {
        const int count = 1 + Pick(3);
        for (int i = 0; i < count; ++i)
            ChangeOne();
    }

    void Run()
    {
        fixtures::RecordingFrontend frontend;
        frontend.questions.SetDefaultAnswer("Yes to All");
        auto sync = pair.Load<ASyncLib>(fixtures::kSynchronize, &ChangeDuringReview, ADir::kTypeSongFolder,
                                        ADir::kTypeSongFolder);
        const int result = RunChanging(*sync, true);
        std::set<std::string> onSides;
        for (const std::string& root : {pair.L(), pair.R()})
            for (const auto& [name, bytes] : Files(root))
                onSides.insert(bytes);
        std::map<std::string, std::string> aside;
        for (const auto& [name, bytes] : Files(pair.tmp / "Removed Files"))
            aside[bytes] = name;
        CheckNothingLost(result, frontend.Log(), onSides, aside);
        // A version on both sides is synced; from here on it may be replaced like any other.
        for (auto& side : changed)
            for (auto it = side.begin(); it != side.end();) {
                int copies = 0;
                for (const std::string& root : {pair.L(), pair.R()})
                    for (const auto& [name, bytes] : Files(root))
                        copies += bytes == it->second ? 1 : 0;
                it = copies >= 2 ? side.erase(it) : std::next(it);
            }
    }

private:
    // The title of the song file at `path` (the model names and tags each file by its title).
    std::string TitleOf(const std::string& path)
    {
        for (const std::string& title : kTitles)
            if (path.find(title) != std::string::npos)
                return title;
        return kTitles[0];
    }

    // The one file of `title` on a side, or where a new one goes.
    std::string PathOf(int side, const std::string& title)
    {
        const std::string root = side == 0 ? pair.L() : pair.R();
        for (const auto& [name, bytes] : Files(root))
            if (name.find(title) != std::string::npos)
                return root + name;
        return root + title + ".mp3";
    }

    void Rewrite(int side, const std::string&, const std::string& path) override
    {
        Write(side, TitleOf(path), path);
    }
    std::string Mention(const std::string&) const override { return "into Removed Files"; }

    void ChangeOne() override
    {
        const int side = Pick(2);
        const std::string title = kTitles[Pick(static_cast<int>(kTitles.size()))];
        const std::string path = PathOf(side, title);
        std::error_code error;
        if (Pick(4) == 0 && fs::exists(path, error)) {
            fs::remove(path, error);
            changed[side].erase(path);
            ++changes;
            return;
        }
        Write(side, title, path);
    }

    // A new version: new music, or the same music retagged; dated newer or older than all before.
    void Write(int side, const std::string& title, const std::string& path)
    {
        ++serial;
        const bool retag = Pick(2) == 0;
        fixtures::SongSpec song =
            fixtures::SongSpecOf(title, retag ? lastSeed[title] : serial, serial % 20 + 1);
        if (!retag)
            lastSeed[title] = serial;
        std::error_code error;
        fs::create_directories(fs::path(path).parent_path(), error);
        fixtures::WriteSong(path, song);
        fixtures::SetModTime(path,
                             1600000000 + (Pick(3) == 0 ? -1 : 1) * 7 * static_cast<std::int64_t>(serial));
        changed[side][path] = fixtures::ReadText(path);
        ++changes;
    }

    std::map<std::string, std::uint32_t> lastSeed;
    std::uint32_t serial = 0;
};

} // namespace

TEST(SongFolderSyncModel, RandomChangesToSongsAreNeverLost)
{
    fixtures::ReportModels("song model", fixtures::RunModels<SongModel>(fixtures::ModelRuns(60, 3), 10));
}
