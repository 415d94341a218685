#pragma once
// A library in a temporary folder for one test (PELORIN_LIBRARY and PELORIN_VOLUMES point into
// it), with helpers to write songs and to run script texts as the bridge sends them.

#include "musiclib/MusicLibrary.h"

#include "APlatform/ScriptDescriptor.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <memory>
#include <optional>
#include <string>

namespace fixtures {

class LibraryTest : public ::testing::Test {
public:
    // "tell application \"iTunes\"\n" + body + "\n end tell\n"
    static std::string Tell(const std::string& body);
    // A value as the bridge puts it into a script: `\` and `"` escaped.
    static std::string Quote(const std::string& value);
    // The strings of a reply that is a list of strings.
    static std::vector<std::string> Strings(const platform::ScriptDescriptor& reply);
    // A song's tags.
    static SongSpec Tags(const std::string& title, const std::string& artist = std::string(),
                         const std::string& album = std::string(), std::uint32_t seed = 0,
                         Bytes picture = Bytes());

protected:
    void SetUp() override;
    void TearDown() override;

    // Runs a script; no value when it failed (the reason in `error`).
    std::optional<platform::ScriptDescriptor> Run(const std::string& script, std::string* error = nullptr);
    // Runs a script that must succeed.
    platform::ScriptDescriptor Must(const std::string& script);
    // Writes a song file at `relative` below the test's folder and returns its path.
    std::string Song(const std::string& relative, const SongSpec& tags);
    // Adds a file to the library (and a playlist) and returns its database ID.
    std::int64_t Add(const std::string& path, const std::string& playlist = "Library");
    // Makes a playlist of the library.
    void MakePlaylist(const std::string& name);

    TempDir dir;
    std::string volumes;
    std::unique_ptr<MusicLibrary> library;

private:
    std::optional<std::string> oldLibrary, oldVolumes;
};

} // namespace fixtures

// The script texts the bridge sends, piece by piece as it builds them, values escaped. `source`
// empty: the library's form of the script.
namespace fixtures::bridge {

std::string GetLibName();
std::string GetPlaylists();                         // every playlist of the library
std::string GetIPodPlaylists(const std::string& s); // every playlist of an iPod source
std::string GetIPodCount();
std::string GetIPodNames();
std::string GetVersion();
std::string LibCount(const std::string& p);
std::string IPodSongCount(const std::string& p, const std::string& s);
std::string LibProperty(const std::string& k, const std::string& p);
std::string IPodProperty(const std::string& k, const std::string& p, const std::string& s);
std::string RootFolderFallback(const std::string& libName);
std::string ArtCount(const std::string& p, std::int64_t d, const std::string& s = std::string());
std::string Art(int index, const std::string& p, std::int64_t d, const std::string& s = std::string());
std::string Smart(const std::string& p, const std::string& s = std::string());
std::string SpecialKind(const std::string& p, const std::string& s = std::string());
std::string DeleteSong(const std::string& p, std::int64_t d, const std::string& s = std::string());
std::string AddFromDisk(const std::string& posixPath, const std::string& p,
                        const std::string& s = std::string());
std::string AddToPlaylist(const std::string& p, std::int64_t d, const std::string& n);
std::string MakePlaylist(const std::string& n, const std::string& s = "Library");
std::string DeletePlaylist(const std::string& n, const std::string& s = "Library");

} // namespace fixtures::bridge
