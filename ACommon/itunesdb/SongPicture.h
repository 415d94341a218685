#pragma once
// SongPicture: the cover of a music file, by the rules the library uses for its artwork: the first
// picture embedded in its tags, else the first image beside it named cover, folder or front (.jpg,
// .jpeg, .png; case ignored, in that order). Pictures over kMaxBytes are not taken.

#include "ACommon/base/AString.h"

#include <cstdint>
#include <filesystem>
#include <vector>

class SongPicture {
public:
    static constexpr std::uint64_t kMaxBytes = 16ull * 1024 * 1024;

    // The cover of the file at `path` in `bytes`: true when it has one.
    static bool Find(const AString& path, std::vector<std::uint8_t>& bytes);
    // The first picture embedded in the file's tags: true when it has one.
    static bool FindEmbedded(const AString& path, std::vector<std::uint8_t>& bytes);
    // The image FolderImage picks in `folder`, read: true when there is one.
    static bool ReadFolderImage(const std::filesystem::path& folder, std::vector<std::uint8_t>& bytes);
    // The image in `folder` the rules above pick (cover before folder before front, .jpg before
    // .jpeg before .png); empty when there is none.
    static std::filesystem::path FolderImage(const std::filesystem::path& folder);
};
