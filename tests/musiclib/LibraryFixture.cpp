#include "LibraryFixture.h"

#include <cstdlib>
#include <filesystem>
#include <sstream>

namespace fixtures {

namespace {

const char* const kVariables[] = {"PELORIN_LIBRARY", "PELORIN_VOLUMES"};

} // namespace

void LibraryTest::SetUp()
{
    volumes = dir / "Volumes";
    std::filesystem::create_directories(volumes);
    const std::string values[] = {dir / "Library", volumes};
    for (int i = 0; i < 2; ++i) {
        if (const char* was = std::getenv(kVariables[i]))
            oldValues[i] = was;
        setenv(kVariables[i], values[i].c_str(), 1);
    }
    std::string error;
    ASSERT_EQ(MusicLibrary::Open(dir / "Library", true, library, error), 0) << error;
    platform::SetScriptRunner(this);
}

void LibraryTest::TearDown()
{
    platform::SetScriptRunner(nullptr);
    library.reset();
    for (int i = 0; i < 2; ++i)
        oldValues[i] ? setenv(kVariables[i], oldValues[i]->c_str(), 1) : unsetenv(kVariables[i]);
}

std::optional<platform::ScriptDescriptor> LibraryTest::Run(std::string_view script, std::string* error)
{
    if (beforeScript && !beforeScript(std::string(script)))
        return std::nullopt;
    ScriptValue result;
    std::string why;
    if (library->RunScript(script, result, why) != 0) {
        if (error)
            *error = why;
        return std::nullopt;
    }
    return std::move(result).ToDescriptor();
}

platform::ScriptDescriptor LibraryTest::Must(const std::string& script)
{
    std::string error;
    std::optional<platform::ScriptDescriptor> reply = Run(script, &error);
    EXPECT_TRUE(reply) << error << "\nin\n" << script;
    return reply.value_or(platform::ScriptDescriptor());
}

std::string LibraryTest::Song(const std::string& relative, const SongSpec& tags)
{
    const std::string path = dir / relative;
    WriteSong(path, tags);
    return path;
}

ASiTunes LibraryTest::Bridge(const std::string& playlist, const std::string& iPod)
{
    ASiTunes bridge;
    bridge.SetPlaylistName(AString::FromUTF8(playlist));
    bridge.SetIPodName(AString::FromUTF8(iPod));
    return bridge;
}

std::vector<platform::ScriptDescriptor>
LibraryTest::Items(const std::string& key, const std::string& playlist, const std::string& iPod)
{
    std::vector<platform::ScriptDescriptor> items;
    ASiTunes bridge = Bridge(playlist, iPod);
    EXPECT_EQ(iPod.empty() ? bridge.ReadLibProperty(key.c_str(), &items)
                           : bridge.ReadIPodProperty(key.c_str(), &items),
              0)
        << key << " of " << playlist;
    return items;
}

std::vector<std::string> LibraryTest::Property(const std::string& key, const std::string& playlist,
                                               const std::string& iPod)
{
    return Strings(Items(key, playlist, iPod));
}

int LibraryTest::Count(const std::string& playlist, const std::string& iPod)
{
    ASiTunes bridge = Bridge(playlist, iPod);
    return iPod.empty() ? bridge.LibCount() : bridge.IPodSongCount();
}

std::int64_t LibraryTest::Add(const std::string& path, const std::string& playlist, const std::string& iPod)
{
    const AString file = AString::FromUTF8(path), target = AString::FromUTF8(playlist);
    ASiTunes bridge = Bridge(playlist, iPod);
    return iPod.empty() ? bridge.ITunesAddSongFromDisk(file, &target)
                        : bridge.IPodAddSongFromDisk(file, &target);
}

void LibraryTest::MakePlaylist(const std::string& name, const std::string& iPod)
{
    ASiTunes bridge = Bridge(std::string(), iPod);
    const AString playlist = AString::FromUTF8(name);
    EXPECT_EQ(iPod.empty() ? bridge.MakePlaylistITunes(playlist) : bridge.MakePlaylistIPod(playlist), 0)
        << name;
}

int LibraryTest::Delete(std::int64_t id, const std::string& playlist, const std::string& iPod)
{
    ASiTunes bridge = Bridge(playlist, iPod);
    const auto track = static_cast<std::uint32_t>(id);
    return iPod.empty() ? bridge.DeleteITunesSong(track) : bridge.DeleteIPodSong(track);
}

std::vector<std::string> LibraryTest::Playlists(const std::string& iPod)
{
    AString names;
    EXPECT_EQ(iPod.empty() ? ASiTunes::GetITunesPlaylist(0, &names)
                           : Bridge("", iPod).GetIPodPlaylist(0, &names),
              0);
    std::vector<std::string> out;
    std::istringstream lines(names.ToStdString());
    for (std::string line; std::getline(lines, line);)
        out.push_back(line);
    return out;
}

SongSpec LibraryTest::Tags(const std::string& title, const std::string& artist, const std::string& album,
                           std::uint32_t seed, Bytes picture)
{
    SongSpec tags;
    tags.title = title;
    tags.artist = artist;
    tags.album = album;
    tags.seed = seed;
    tags.picture = std::move(picture);
    return tags;
}

std::string LibraryTest::Tell(const std::string& body)
{
    return "tell application \"iTunes\"\n " + body + "\n end tell\n";
}

std::string LibraryTest::Quote(const std::string& value)
{
    std::string out;
    ASiTunes::Quote(AString::FromUTF8(value), &out);
    return out;
}

std::vector<std::string> LibraryTest::Strings(const platform::ScriptDescriptor& reply)
{
    return Strings(reply.Items());
}

std::vector<std::string> LibraryTest::Strings(const std::vector<platform::ScriptDescriptor>& items)
{
    std::vector<std::string> out;
    for (const platform::ScriptDescriptor& item : items)
        out.push_back(item.StringValue().value_or("<none>"));
    return out;
}

} // namespace fixtures
