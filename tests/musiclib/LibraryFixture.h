#pragma once
// A library in a temporary folder for one test (PELORIN_LIBRARY and PELORIN_VOLUMES point into
// it), installed as the process's script runner, so that the bridge (ASiTunes) reaches it with the
// very scripts it sends; with helpers to write songs and to run script texts of a test's own.

#include "musiclib/MusicLibrary.h"

#include "ACommon/bridge/ASiTunes.h"
#include "APlatform/ScriptDescriptor.h"
#include "APlatform/ScriptRunner.h"
#include "fixtures/MusicFiles.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

#include <functional>
#include <memory>
#include <optional>
#include <string>

namespace fixtures {

class LibraryTest : public ::testing::Test, private platform::ScriptRunner {
public:
    // "tell application \"iTunes\"\n" + body + "\n end tell\n"
    static std::string Tell(const std::string& body);
    // A value as the bridge puts it into a script: `\` and `"` escaped (a line break gives "").
    static std::string Quote(const std::string& value);
    // The strings of a reply that is a list of strings, or of the items of one.
    static std::vector<std::string> Strings(const platform::ScriptDescriptor& reply);
    static std::vector<std::string> Strings(const std::vector<platform::ScriptDescriptor>& items);
    // A song's tags.
    static SongSpec Tags(const std::string& title, const std::string& artist = std::string(),
                         const std::string& album = std::string(), std::uint32_t seed = 0,
                         Bytes picture = Bytes());
    // The bridge on `playlist` of the library, or of the iPod source `iPod` when one is named.
    static ASiTunes Bridge(const std::string& playlist, const std::string& iPod = std::string());
    // Property `key` of every track of the playlist, read by the bridge (a failure is a test failure).
    static std::vector<platform::ScriptDescriptor> Items(const std::string& key, const std::string& playlist,
                                                         const std::string& iPod = std::string());
    static std::vector<std::string> Property(const std::string& key, const std::string& playlist,
                                             const std::string& iPod = std::string());
    // The number of tracks of the playlist as the bridge counts them; -1 when the script failed.
    static int Count(const std::string& playlist, const std::string& iPod = std::string());

protected:
    void SetUp() override;
    void TearDown() override;

    // Runs a script; no value when it failed (the reason in `error`).
    std::optional<platform::ScriptDescriptor> Run(std::string_view script, std::string* error) override;
    std::optional<platform::ScriptDescriptor> Run(const std::string& script) { return Run(script, nullptr); }
    // Runs a script that must succeed.
    platform::ScriptDescriptor Must(const std::string& script);
    // Writes a song file at `relative` below the test's folder and returns its path.
    std::string Song(const std::string& relative, const SongSpec& tags);
    // Adds a file to a playlist of the library or of an iPod source through the bridge: its
    // database ID (-1 when refused).
    static std::int64_t Add(const std::string& path, const std::string& playlist = "Library",
                            const std::string& iPod = std::string());
    // Makes a playlist of the library (or of an iPod source) through the bridge.
    static void MakePlaylist(const std::string& name, const std::string& iPod = std::string());
    // Takes track `id` out of the playlist through the bridge: 0 or the bridge's error.
    static int Delete(std::int64_t id, const std::string& playlist, const std::string& iPod = std::string());
    // The names of the playlists of the library (or of an iPod source), as the bridge reads them.
    static std::vector<std::string> Playlists(const std::string& iPod = std::string());

    TempDir dir;
    std::string volumes;
    std::unique_ptr<MusicLibrary> library;
    // Sees each script before it runs; false refuses it (no reply).
    std::function<bool(const std::string&)> beforeScript;

private:
    std::optional<std::string> oldValues[2]; // of PELORIN_LIBRARY and PELORIN_VOLUMES
};

} // namespace fixtures
