#include "LibraryFixture.h"

#include "APlatform/HfsPath.h"

#include <cstdlib>
#include <filesystem>

namespace fixtures {

namespace {

std::optional<std::string> Swap(const char* name, const std::string& value)
{
    std::optional<std::string> old;
    if (const char* was = std::getenv(name))
        old = was;
    setenv(name, value.c_str(), 1);
    return old;
}

void Restore(const char* name, const std::optional<std::string>& old)
{
    if (old)
        setenv(name, old->c_str(), 1);
    else
        unsetenv(name);
}

} // namespace

void LibraryTest::SetUp()
{
    volumes = dir / "Volumes";
    std::filesystem::create_directories(volumes);
    oldLibrary = Swap("PELORIN_LIBRARY", dir / "Library");
    oldVolumes = Swap("PELORIN_VOLUMES", volumes);
    std::string error;
    ASSERT_EQ(MusicLibrary::Open(dir / "Library", true, library, error), 0) << error;
}

void LibraryTest::TearDown()
{
    library.reset();
    Restore("PELORIN_LIBRARY", oldLibrary);
    Restore("PELORIN_VOLUMES", oldVolumes);
}

std::optional<platform::ScriptDescriptor> LibraryTest::Run(const std::string& script, std::string* error)
{
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

std::int64_t LibraryTest::Add(const std::string& path, const std::string& playlist)
{
    return Must(bridge::AddFromDisk(path, playlist)).Int64Value();
}

void LibraryTest::MakePlaylist(const std::string& name) { Must(bridge::MakePlaylist(name)); }

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
    for (char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out;
}

std::vector<std::string> LibraryTest::Strings(const platform::ScriptDescriptor& reply)
{
    std::vector<std::string> out;
    for (const platform::ScriptDescriptor& item : reply.Items())
        out.push_back(item.StringValue().value_or("<none>"));
    return out;
}

} // namespace fixtures

namespace fixtures::bridge {

namespace {

const std::string kTell = "tell application \"iTunes\"\n";
std::string Q(const std::string& value) { return LibraryTest::Quote(value); }
std::string InSource(const std::string& s) { return s.empty() ? std::string() : "\" in source \"" + Q(s); }

} // namespace

std::string GetLibName() { return kTell + " name of every source whose kind = library" + "\n end tell\n"; }
std::string GetPlaylists() { return kTell + " name of every playlist" + "\n end tell\n"; }
std::string GetIPodPlaylists(const std::string& s)
{
    return kTell + " name of every playlist in source \"" + Q(s) + "\" \n end tell\n";
}
std::string GetIPodCount() { return kTell + " count (every source whose kind = iPod)" + "\n end tell\n"; }
std::string GetIPodNames() { return kTell + " name of every source whose kind = iPod" + "\n end tell\n"; }
std::string GetVersion() { return kTell + " get version" + "\n end tell\n"; }
std::string LibCount(const std::string& p)
{
    return kTell + " count of (every track in playlist \"" + Q(p) +
           "\" whose kind is not equal to \"MPEG audio stream\")\n end tell\n";
}
std::string IPodSongCount(const std::string& p, const std::string& s)
{
    return kTell + " get count of every track of playlist \"" + Q(p) + "\" in source \"" + Q(s) +
           "\"\n end tell\n";
}
std::string LibProperty(const std::string& k, const std::string& p)
{
    return kTell + " " + k + " of (every track in playlist \"" + Q(p) +
           "\" whose kind is not equal to \"MPEG audio stream\")\n end tell\n";
}
std::string IPodProperty(const std::string& k, const std::string& p, const std::string& s)
{
    return kTell + " " + k + " of every track in playlist \"" + Q(p) + "\" in source \"" + Q(s) +
           "\"\n end tell\n";
}
std::string RootFolderFallback(const std::string& libName)
{
    return kTell + " " + "location" + " of track 1 in playlist \"" + Q(libName) + "\"\n end tell\n";
}
std::string ArtCount(const std::string& p, std::int64_t d, const std::string& s)
{
    return kTell + " count of (every artwork of (artworks of (first track of playlist \"" + Q(p) +
           InSource(s) + "\" whose database ID = " + std::to_string(d) + ")))\n end tell\n";
}
std::string Art(int index, const std::string& p, std::int64_t d, const std::string& s)
{
    return kTell + " data of (artwork " + std::to_string(index + 1) +
           " of (artworks of (first track of playlist \"" + Q(p) + InSource(s) +
           "\" whose database ID = " + std::to_string(d) + ")))\n end tell\n";
}
std::string Smart(const std::string& p, const std::string& s)
{
    return kTell + "get smart of playlist \"" + Q(p) + InSource(s) + "\"\n end tell\n";
}
std::string SpecialKind(const std::string& p, const std::string& s)
{
    return kTell + "get special kind of playlist \"" + Q(p) + InSource(s) + "\"\n end tell\n";
}
std::string DeleteSong(const std::string& p, std::int64_t d, const std::string& s)
{
    return kTell + " delete (first track of playlist \"" + Q(p) + InSource(s) +
           "\" whose database ID = " + std::to_string(d) + ")\n end tell\n";
}
std::string AddFromDisk(const std::string& posixPath, const std::string& p, const std::string& s)
{
    return kTell + " set fileTrack to add alias \"" + Q(platform::PosixToHfsPath(posixPath)) +
           "\" to playlist \"" + Q(p) + InSource(s) + "\"\n get database ID of fileTrack\n end tell";
}
std::string AddToPlaylist(const std::string& p, std::int64_t d, const std::string& n)
{
    return kTell + " set fileTrack to add (get location of first track of playlist \"" + Q(p) +
           "\" whose database ID = " + std::to_string(d) + ") to playlist \"" + Q(n) +
           "\"\n get database ID of fileTrack\n end tell";
}
std::string MakePlaylist(const std::string& n, const std::string& s)
{
    return kTell + " set myPlayList to make playlist of source \"" + Q(s) +
           "\"\n set name of myPlayList to \"" + Q(n) + "\"\n end tell\n";
}
std::string DeletePlaylist(const std::string& n, const std::string& s)
{
    return kTell + " delete playlist \"" + Q(n) + "\" of source \"" + Q(s) + "\"\n end tell\n";
}

} // namespace fixtures::bridge
