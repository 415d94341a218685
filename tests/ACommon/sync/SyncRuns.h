#pragma once
// What the tests of whole runs between two folders share: files written with a date, what a side and
// the Trash hold, and a pair of folders whose front end answers every question "Yes to All" unless a
// test scripts other answers.

#include "fixtures/FolderPair.h"
#include "fixtures/RecordingFrontend.h"
#include "fixtures/SyncModel.h"
#include "fixtures/TempDir.h"
#include "fixtures/Text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>

namespace syncruns {

using fixtures::Exists;
using fixtures::FolderPair;
using fixtures::Has;
using fixtures::ListFiles;
using fixtures::ReadText;
using fixtures::RecordingFrontend;
using fixtures::Tree;

constexpr std::int64_t kBase = 1000000000;

inline void Put(const std::string& path, const std::string& text, std::int64_t time = kBase)
{
    fixtures::WriteFile(path, text);
    fixtures::SetModTime(path, time);
}

inline std::string TrashFolder() { return std::string(std::getenv("XDG_DATA_HOME")) + "/Trash"; }

// What the Trash holds, by file name.
inline Tree Trashed() { return fixtures::FilesBelow(TrashFolder() + "/files"); }

// A front end that gives `answer` to every question not scripted.
class Answering : public RecordingFrontend {
public:
    explicit Answering(const char* answer) { questions.SetDefaultAnswer(answer); }
};

// Two folders and a front end answering "Yes to All", with an empty Trash before and after.
class PairRun : public ::testing::Test {
protected:
    void SetUp() override { std::filesystem::remove_all(TrashFolder()); }
    void TearDown() override { std::filesystem::remove_all(TrashFolder()); }

    Answering frontend{"Yes to All"};
    FolderPair pair;
};

} // namespace syncruns
