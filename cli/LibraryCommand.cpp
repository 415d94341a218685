// `pelorin library ...`: the embedded music library from the terminal: make it, look at it, fill it,
// attach iPods to it, and run scripts against it. The library lives in $PELORIN_LIBRARY, else in
// ~/Music/iTunes.

#include "cli/Commands.h"
#include "cli/Terminal.h"

#include "musiclib/FolderImport.h"
#include "musiclib/LibraryText.h"
#include "musiclib/MusicLibrary.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "APlatform/KnownFolders.h"

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <memory>
#include <optional>
#include <sqlite3.h>
#include <sstream>
#include <string>
#include <unistd.h>
#include <vector>

namespace cli {
namespace {

void Complain(const std::string& command, const std::string& text)
{
    std::fprintf(stderr, "pelorin library %s: %s\n", command.c_str(), text.c_str());
}

// A path given on the command line, made absolute.
std::string Absolute(const std::string& path)
{
    std::error_code error;
    const std::filesystem::path absolute = std::filesystem::absolute(path, error);
    return error ? path : absolute.lexically_normal().string();
}

// Opens the library; `create` makes it when the folder holds none. Null after a complaint.
std::unique_ptr<MusicLibrary> OpenLibrary(const std::string& command, bool create)
{
    std::unique_ptr<MusicLibrary> library;
    std::string error;
    if (MusicLibrary::Open(platform::LibraryFolder(), create, library, error) != 0) {
        Complain(command, error);
        return nullptr;
    }
    return library;
}

// The playlist named on the command line (the library playlist when none is).
bool FindPlaylist(const std::string& command, MusicLibrary& library, const std::string& name,
                  PlaylistInfo& out)
{
    LibrarySource& source = library.Library();
    const int err = name.empty() ? source.GetLibraryPlaylist(out) : source.FindPlaylist(name, out);
    if (err != 0) {
        Complain(command, source.LastError());
        return false;
    }
    return true;
}

// ---- init, info ---------------------------------------------------------------------------------

int RunInit()
{
    const bool existed = MusicLibrary::Exists(platform::LibraryFolder());
    std::unique_ptr<MusicLibrary> library = OpenLibrary("init", true);
    if (!library)
        return kExitError;
    std::printf("%s %s\nMusic folder: %s\n", existed ? "Library already in" : "Made a library in",
                library->GetFolder().c_str(), library->GetMusicFolder().c_str());
    return kExitOk;
}

int RunInfo(bool json)
{
    std::unique_ptr<MusicLibrary> library = OpenLibrary("info", false);
    if (!library)
        return kExitError;
    LibrarySource& source = library->Library();
    PlaylistInfo all;
    int tracks = 0;
    std::vector<PlaylistInfo> playlists;
    if (source.GetLibraryPlaylist(all) != 0 ||
        source.CountTracks(TrackSelection{&source, all.id, {}}, tracks) != 0 ||
        source.Playlists(playlists) != 0) {
        Complain("info", source.LastError());
        return kExitError;
    }
    int ordinary = 0;
    for (const PlaylistInfo& playlist : playlists)
        ordinary += playlist.IsFixed() ? 0 : 1;
    const std::string account = library->GetAccount();
    std::vector<MusicLibrary::AttachedIPod> iPods;
    library->AttachedIPods(iPods);
    if (json) {
        std::ostringstream out;
        out << "{\"folder\": " << JsonString(library->GetFolder())
            << ", \"musicFolder\": " << JsonString(library->GetMusicFolder()) << ", \"tracks\": " << tracks
            << ", \"playlists\": " << ordinary
            << ", \"account\": " << (account.empty() ? "null" : JsonString(account)) << ", \"iPods\": [";
        for (std::size_t i = 0; i < iPods.size(); ++i)
            out << (i ? ", " : "") << "{\"name\": " << JsonString(iPods[i].name)
                << ", \"volume\": " << JsonString(iPods[i].volume)
                << ", \"mounted\": " << (iPods[i].mounted ? "true" : "false") << "}";
        out << "]}\n";
        std::fputs(out.str().c_str(), stdout);
        return kExitOk;
    }
    std::printf("Folder:        %s\n", library->GetFolder().c_str());
    std::printf("Music folder:  %s\n", library->GetMusicFolder().c_str());
    std::printf("Tracks:        %d\n", tracks);
    std::printf("Playlists:     %d (besides the library and its special playlists)\n", ordinary);
    if (account.empty())
        std::printf("Store account: none set (the tool that removes music you do not own will not run until "
                    "one is: pelorin library account set NAME@EXAMPLE.COM)\n");
    else
        std::printf("Store account: %s\n", account.c_str());
    if (iPods.empty())
        std::printf("iPods:         none attached\n");
    for (const MusicLibrary::AttachedIPod& iPod : iPods)
        std::printf("iPod:          %s (volume %s, %s)\n", iPod.name.c_str(), iPod.volume.c_str(),
                    iPod.mounted ? "mounted" : "not mounted");
    return kExitOk;
}

// ---- tracks, playlists ----------------------------------------------------------------------------

// "2026-12-07T18:30:00Z" for seconds since 1970.
std::string IsoDate(std::int64_t seconds)
{
    const std::time_t at = static_cast<std::time_t>(seconds);
    std::tm utc{};
    gmtime_r(&at, &utc);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &utc);
    return text;
}

// The date in quotes, or null for 0 (never).
std::string JsonDate(std::int64_t seconds) { return seconds == 0 ? "null" : "\"" + IsoDate(seconds) + "\""; }

// A CSV field: quoted when it holds a comma, a quote or a line break, its quotes doubled.
std::string CsvField(const std::string& text)
{
    if (text.find_first_of(",\"\r\n") == std::string::npos)
        return text;
    std::string quoted = "\"";
    for (char c : text) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

// Seconds since 1970 of "YYYY-MM-DD" (the start of that day, UTC) or "YYYY-MM-DDTHH:MM:SSZ".
std::optional<std::int64_t> ParseDate(const std::string& text)
{
    std::tm at{};
    char zone = 0;
    int used = 0;
    const bool day = text.size() == 10 && std::sscanf(text.c_str(), "%4d-%2d-%2d%n", &at.tm_year, &at.tm_mon,
                                                      &at.tm_mday, &used) == 3;
    const bool moment = !day && text.size() == 20 &&
                        std::sscanf(text.c_str(), "%4d-%2d-%2dT%2d:%2d:%2d%c%n", &at.tm_year, &at.tm_mon,
                                    &at.tm_mday, &at.tm_hour, &at.tm_min, &at.tm_sec, &zone, &used) == 7 &&
                        zone == 'Z';
    if ((!day && !moment) || used != static_cast<int>(text.size()) || at.tm_mon < 1 || at.tm_mon > 12 ||
        at.tm_mday < 1 || at.tm_mday > 31 || at.tm_hour > 23 || at.tm_min > 59 || at.tm_sec > 60)
        return std::nullopt;
    at.tm_year -= 1900;
    at.tm_mon -= 1;
    return static_cast<std::int64_t>(timegm(&at));
}

int RunTracks(const std::string& playlistName, bool json)
{
    std::unique_ptr<MusicLibrary> library = OpenLibrary("tracks", false);
    if (!library)
        return kExitError;
    LibrarySource& source = library->Library();
    PlaylistInfo playlist;
    if (!FindPlaylist("tracks", *library, playlistName, playlist))
        return kExitError;
    const TrackSelection selection{&source, playlist.id, {}};
    const ScriptProperty columns[] = {
        ScriptProperty::DatabaseID,   ScriptProperty::Name,       ScriptProperty::Artist,
        ScriptProperty::Album,        ScriptProperty::Genre,      ScriptProperty::Kind,
        ScriptProperty::Duration,     ScriptProperty::Location,   ScriptProperty::PlayedCount,
        ScriptProperty::SkippedCount, ScriptProperty::PlayedDate, ScriptProperty::Rating};
    std::vector<std::vector<ScriptValue>> values(std::size(columns));
    // One state of the library for every column.
    int err = source.Begin(false);
    for (std::size_t c = 0; err == 0 && c < std::size(columns); ++c)
        err = source.ReadTracks(selection, columns[c], values[c]);
    source.Rollback();
    if (err != 0) {
        Complain("tracks", source.LastError());
        return kExitError;
    }
    std::ostringstream out;
    const std::size_t count = values[0].size();
    if (json)
        out << "[";
    for (std::size_t i = 0; i < count; ++i) {
        if (json) {
            out << (i ? ",\n " : "\n ") << "{\"databaseID\": " << values[0][i].GetInteger()
                << ", \"name\": " << JsonString(values[1][i].GetText())
                << ", \"artist\": " << JsonString(values[2][i].GetText())
                << ", \"album\": " << JsonString(values[3][i].GetText())
                << ", \"genre\": " << JsonString(values[4][i].GetText())
                << ", \"kind\": " << JsonString(values[5][i].GetText())
                << ", \"duration\": " << static_cast<long long>(values[6][i].GetReal())
                << ", \"location\": " << JsonString(values[7][i].GetText())
                << ", \"playCount\": " << values[8][i].GetInteger()
                << ", \"skipCount\": " << values[9][i].GetInteger()
                << ", \"lastPlayed\": " << JsonDate(values[10][i].GetInteger())
                << ", \"rating\": " << values[11][i].GetInteger() << "}";
        } else {
            out << values[0][i].GetInteger() << '\t' << TerminalText(values[2][i].GetText()) << '\t'
                << TerminalText(values[3][i].GetText()) << '\t' << TerminalText(values[1][i].GetText())
                << '\t' << TerminalText(values[7][i].GetText()) << '\n';
        }
    }
    if (json)
        out << (count ? "\n]\n" : "]\n");
    std::fputs(out.str().c_str(), stdout);
    return kExitOk;
}

// The plays brought back from iPods at or after `since` (seconds since 1970), oldest first: JSON
// lines, or CSV with a header line.
int RunPlays(const std::string& sinceText, bool csv)
{
    const std::optional<std::int64_t> since = ParseDate(sinceText);
    if (!since) {
        Complain("plays", "\"" + sinceText + "\" is not a date such as 2026-12-07 or 2026-12-07T18:30:00Z");
        return kExitUsage;
    }
    std::unique_ptr<MusicLibrary> library = OpenLibrary("plays", false);
    if (!library)
        return kExitError;
    LibraryStore& store = library->Store();
    LibraryStore::Query query = store.Prepare(
        "SELECT p.played_date, p.count, t.id, t.artist, t.album, t.name FROM plays p "
        "JOIN tracks t ON t.id = p.track_id WHERE p.played_date >= ?1 ORDER BY p.played_date, p.id");
    if (!query) {
        Complain("plays", store.ErrorText());
        return kExitError;
    }
    query.Bind(1, *since);
    std::ostringstream out;
    if (csv)
        out << "playedDate,plays,databaseID,artist,album,name\r\n";
    int result = 0;
    while ((result = query.Step()) == SQLITE_ROW) {
        const std::string date = IsoDate(query.Integer(0));
        if (csv) {
            out << date << ',' << query.Integer(1) << ',' << query.Integer(2) << ','
                << CsvField(query.Text(3)) << ',' << CsvField(query.Text(4)) << ',' << CsvField(query.Text(5))
                << "\r\n";
        } else {
            out << "{\"playedDate\": " << JsonDate(query.Integer(0)) << ", \"plays\": " << query.Integer(1)
                << ", \"databaseID\": " << query.Integer(2) << ", \"artist\": " << JsonString(query.Text(3))
                << ", \"album\": " << JsonString(query.Text(4)) << ", \"name\": " << JsonString(query.Text(5))
                << "}\n";
        }
    }
    if (result != SQLITE_DONE) {
        Complain("plays", store.ErrorText());
        return kExitError;
    }
    std::fputs(out.str().c_str(), stdout);
    return kExitOk;
}

int RunPlaylists(bool json)
{
    std::unique_ptr<MusicLibrary> library = OpenLibrary("playlists", false);
    if (!library)
        return kExitError;
    LibrarySource& source = library->Library();
    std::vector<PlaylistInfo> playlists;
    int err = source.Begin(false);
    if (err == 0)
        err = source.Playlists(playlists);
    std::vector<int> counts;
    for (const PlaylistInfo& playlist : playlists) {
        int count = 0;
        if (err == 0)
            err = source.CountTracks(TrackSelection{&source, playlist.id, {}}, count);
        counts.push_back(count);
    }
    source.Rollback();
    if (err != 0) {
        Complain("playlists", source.LastError());
        return kExitError;
    }
    std::ostringstream out;
    if (json)
        out << "[";
    for (std::size_t i = 0; i < playlists.size(); ++i) {
        const PlaylistInfo& playlist = playlists[i];
        const char* kind = playlist.library ? "library" : playlist.IsFixed() ? "special" : "playlist";
        if (json)
            out << (i ? ",\n " : "\n ") << "{\"name\": " << JsonString(playlist.name) << ", \"kind\": \""
                << kind << "\", \"tracks\": " << counts[i] << "}";
        else
            out << playlist.name << '\t' << counts[i] << (counts[i] == 1 ? " track" : " tracks")
                << (playlist.IsFixed() ? std::string("\t(") + kind + ")" : std::string()) << '\n';
    }
    if (json)
        out << (playlists.empty() ? "]\n" : "\n]\n");
    std::fputs(out.str().c_str(), stdout);
    return kExitOk;
}

int RunPlaylistChange(bool create, const std::string& name)
{
    const char* command = create ? "playlist create" : "playlist delete";
    std::unique_ptr<MusicLibrary> library = OpenLibrary(command, true);
    if (!library)
        return kExitError;
    LibrarySource& source = library->Library();
    int err = source.Begin(true);
    PlaylistInfo playlist;
    if (err == 0)
        err = create ? source.MakePlaylist(name, playlist) : source.FindPlaylist(name, playlist);
    if (err == 0 && !create)
        err = source.DeletePlaylist(playlist.id);
    if (err == 0)
        err = source.Commit();
    if (err != 0) {
        source.Rollback();
        Complain(command, source.LastError());
        return kExitError;
    }
    std::printf(create ? "Made the playlist \"%s\"\n"
                       : "Deleted the playlist \"%s\" (its tracks stay in the library)\n",
                create ? name.c_str() : playlist.name.c_str());
    return kExitOk;
}

// ---- add, import ----------------------------------------------------------------------------------

int RunAdd(const std::string& playlistName, const std::vector<std::string>& files)
{
    std::unique_ptr<MusicLibrary> library = OpenLibrary("add", true);
    if (!library)
        return kExitError;
    LibrarySource& source = library->Library();
    PlaylistInfo playlist;
    if (!FindPlaylist("add", *library, playlistName, playlist))
        return kExitError;
    int added = 0, present = 0, failed = 0;
    for (const std::string& file : files) {
        // Each file is a change of its own: one that cannot be added does not hold back the others.
        const std::string path = Absolute(file);
        std::uint32_t before = 0, id = 0;
        int err = source.Begin(true);
        if (err == 0)
            err = source.FindTrack(LibrarySource::NormalPath(path), std::string(), before);
        if (err == 0)
            err = source.AddFile(path, playlist.id, id);
        if (err == 0)
            err = source.Commit();
        if (err != 0) {
            source.Rollback();
            Complain("add", source.LastError());
            ++failed;
            continue;
        }
        ++(before != 0 ? present : added);
    }
    std::printf("%d added, %d already in the library", added, present);
    if (failed > 0)
        std::printf(", %d could not be added", failed);
    std::printf("\n");
    return failed > 0 ? kExitError : kExitOk;
}

int RunImport(const std::string& playlistName, const std::string& folder)
{
    std::unique_ptr<MusicLibrary> library = OpenLibrary("import", true);
    if (!library)
        return kExitError;
    Terminal terminal;
    terminal.Install();
    Terminal::ResetCancel();
    Terminal::InstallInterruptHandler();
    AProgress& progress = AProgress::Shared();
    AString start("Importing ");
    start += AString::FromUTF8(Absolute(folder));
    progress.StartProgress(&start, 0, 1, 0);
    FolderImport::Summary summary;
    std::string error;
    const int err = FolderImport::Run(
        *library, Absolute(folder), playlistName,
        [&progress](int done, int total, const std::string& path) {
            const AString message =
                AString::FromUTF8("Importing " + std::to_string(done) + " of " + std::to_string(total));
            const AString detail = AString::FromUTF8(path);
            progress.UpdateDivision(total > 0 ? static_cast<double>(done) / total : 1.0, &message, &detail,
                                    nullptr, 0);
        },
        Terminal::CancelRequested, summary, error);
    progress.EndProgress(nullptr, 0, 0, 0);
    terminal.FinishProgressLine();
    for (const std::string& problem : summary.problems)
        Complain("import", "left out " + problem);
    std::string line = std::to_string(summary.added) + " added, " + std::to_string(summary.present) +
                       " already in the library";
    if (summary.refreshed > 0)
        line += " (" + std::to_string(summary.refreshed) + " read again: their files changed)";
    if (summary.unreadable > 0)
        line += ", " + std::to_string(summary.unreadable) + " could not be read";
    if (summary.hidden > 0)
        line += ", " + std::to_string(summary.hidden) + " hidden left out";
    if (summary.other > 0)
        line += ", " + std::to_string(summary.other) + " other files left out";
    terminal.Print(line);
    if (err == kErrUserCancel) {
        terminal.Print("Cancelled; run the import again to add the rest.");
        return kExitCancelled;
    }
    if (err != 0) {
        Complain("import", error);
        return kExitError;
    }
    return kExitOk;
}

// ---- account, iPods, scripts ----------------------------------------------------------------------

int RunAccount(const std::string& account)
{
    std::unique_ptr<MusicLibrary> library = OpenLibrary("account", true);
    if (!library)
        return kExitError;
    std::string error;
    if (library->SetAccount(account, error) != 0) {
        Complain("account", error);
        return kExitError;
    }
    if (account.empty())
        std::printf("No store account is set now\n");
    else
        std::printf("Store account: %s\n", account.c_str());
    return kExitOk;
}

int RunAttach(bool attach, const std::string& name)
{
    const char* command = attach ? "attach-ipod" : "detach-ipod";
    std::unique_ptr<MusicLibrary> library = OpenLibrary(command, true);
    if (!library)
        return kExitError;
    std::string error;
    const int err = attach ? library->AttachIPod(name, error) : library->DetachIPod(name, error);
    if (err != 0) {
        Complain(command, error);
        return kExitError;
    }
    std::printf(attach ? "Attached the iPod \"%s\"\n" : "Detached the iPod \"%s\"\n", name.c_str());
    return kExitOk;
}

int RunScript(const std::string& file)
{
    std::string text;
    if (file.empty() || file == "-") {
        text.assign(std::istreambuf_iterator<char>(std::cin), std::istreambuf_iterator<char>());
    } else {
        std::ifstream in(file, std::ios::binary);
        if (!in) {
            Complain("script", "cannot read " + file);
            return kExitUsage;
        }
        text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }
    std::unique_ptr<MusicLibrary> library = OpenLibrary("script", true);
    if (!library)
        return kExitError;
    ScriptValue result;
    std::string error;
    if (library->RunScript(text, result, error) != 0) {
        Complain("script", error);
        return kExitError;
    }
    const std::string reply = std::move(result).ToDescriptor().Describe();
    if (!reply.empty())
        std::printf("%s\n", reply.c_str());
    return kExitOk;
}

} // namespace

void AddLibraryCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* library =
        app.add_subcommand("library", "Look after the music library (the left side of a sync).");
    library->require_subcommand(1);
    library->footer(
        "The library lives in $PELORIN_LIBRARY, else in ~/Music/iTunes: its database (Library.sqlite), "
        "its music folder (iTunes Music), iTunes Music Library.xml and Preferences.plist. Files added to "
        "it stay where they are. Exit status: 0 done, 1 an error, 2 bad arguments, 130 cancelled.");

    library->add_subcommand("init", "Make the library (and its music folder) if there is none yet")
        ->callback([&exitStatus] { exitStatus = RunInit(); });

    auto infoJson = std::make_shared<bool>(false);
    CLI::App* info =
        library->add_subcommand("info", "Show the library's folder, counts, store account and iPods");
    info->add_flag("--json", *infoJson, "Print it as JSON");
    info->callback([infoJson, &exitStatus] { exitStatus = RunInfo(*infoJson); });

    auto tracksPlaylist = std::make_shared<std::string>();
    auto tracksJson = std::make_shared<bool>(false);
    CLI::App* tracks = library->add_subcommand(
        "tracks", "List the tracks (database ID, artist, album, name, location), in the playlist's order");
    tracks->add_option("--playlist", *tracksPlaylist, "Only the tracks of this playlist")
        ->option_text("NAME");
    tracks->add_flag("--json", *tracksJson, "Print them as JSON");
    tracks->callback([=, &exitStatus] { exitStatus = RunTracks(*tracksPlaylist, *tracksJson); });

    auto playsSince = std::make_shared<std::string>();
    auto playsCsv = std::make_shared<bool>(false);
    CLI::App* plays = library->add_subcommand(
        "plays", "Export the plays brought back from iPods since a date, as JSON lines or CSV");
    plays->add_option("--since", *playsSince, "The first day (2026-12-07) or moment (2026-12-07T18:30:00Z)")
        ->option_text("DATE")
        ->required();
    plays->add_flag("--csv", *playsCsv, "Print CSV with a header line instead of JSON lines");
    plays->callback([=, &exitStatus] { exitStatus = RunPlays(*playsSince, *playsCsv); });

    auto playlistsJson = std::make_shared<bool>(false);
    CLI::App* playlists = library->add_subcommand("playlists", "List the playlists with their track counts");
    playlists->add_flag("--json", *playlistsJson, "Print them as JSON");
    playlists->callback([playlistsJson, &exitStatus] { exitStatus = RunPlaylists(*playlistsJson); });

    CLI::App* playlist = library->add_subcommand("playlist", "Make or delete a playlist");
    playlist->require_subcommand(1);
    auto createName = std::make_shared<std::string>();
    CLI::App* create = playlist->add_subcommand("create", "Make a playlist (names are unique, case ignored)");
    create->add_option("NAME", *createName, "The playlist's name")->required();
    create->callback([createName, &exitStatus] { exitStatus = RunPlaylistChange(true, *createName); });
    auto deleteName = std::make_shared<std::string>();
    CLI::App* remove =
        playlist->add_subcommand("delete", "Delete a playlist; its tracks stay in the library");
    remove->add_option("NAME", *deleteName, "The playlist's name")->required();
    remove->callback([deleteName, &exitStatus] { exitStatus = RunPlaylistChange(false, *deleteName); });

    auto addPlaylist = std::make_shared<std::string>();
    auto addFiles = std::make_shared<std::vector<std::string>>();
    CLI::App* add = library->add_subcommand("add", "Add music files to the library where they are (a file it "
                                                   "holds already is read again if it changed)");
    add->add_option("--playlist", *addPlaylist, "Also put them in this playlist")->option_text("NAME");
    add->add_option("FILE", *addFiles, "The music files (mp3, m4a, m4p, m4b, aif, aiff, mp4, m4v)")
        ->required();
    add->callback([=, &exitStatus] { exitStatus = RunAdd(*addPlaylist, *addFiles); });

    auto importPlaylist = std::make_shared<std::string>();
    auto importFolder = std::make_shared<std::string>();
    CLI::App* import = library->add_subcommand(
        "import", "Add every music file under a folder; run it again to add only what is new");
    import->add_option("--playlist", *importPlaylist, "Also put them in this playlist")->option_text("NAME");
    import->add_option("FOLDER", *importFolder, "The folder")->required();
    import->footer(
        "Hidden files and folders are left out. Files that cannot be read are listed on standard error "
        "and counted. Ctrl-C stops the import; what was added stays.");
    import->callback([=, &exitStatus] { exitStatus = RunImport(*importPlaylist, *importFolder);
});

CLI::App* account = library->add_subcommand("account", "Set or clear your store account");
account->require_subcommand(1);
auto accountId = std::make_shared<std::string>();
CLI::App* set =
    account->add_subcommand("set", "Set the store account (an e-mail address) whose purchases are yours");
set->add_option("ID", *accountId, "The account, such as name@example.com")->required();
set->callback([accountId, &exitStatus] { exitStatus = RunAccount(*accountId); });
account->add_subcommand("clear", "Clear the store account")->callback([&exitStatus] {
    exitStatus = RunAccount(std::string());
});

auto attachName = std::make_shared<std::string>();
CLI::App* attach = library->add_subcommand(
    "attach-ipod", "Attach a mounted iPod to the library: scripts then see it as a source of kind iPod");
attach->add_option("NAME", *attachName, "The iPod's name or its volume's name")->required();
attach->callback([attachName, &exitStatus] { exitStatus = RunAttach(true, *attachName); });
auto detachName = std::make_shared<std::string>();
CLI::App* detach = library->add_subcommand("detach-ipod", "Detach an iPod from the library");
detach->add_option("NAME", *detachName, "The iPod's name or its volume's name")->required();
detach->callback([detachName, &exitStatus] { exitStatus = RunAttach(false, *detachName); });

auto scriptFile = std::make_shared<std::string>();
CLI::App* script = library->add_subcommand(
    "script", "Run a script (tell application \"iTunes\" ... end tell) and print its reply");
script->add_option("FILE", *scriptFile, "The script's file (standard input when left out or \"-\")");
script->footer("A script that does not parse, or names what does not exist, changes nothing and exits with "
               "status 1 and the reason on standard error.");
script->callback([scriptFile, &exitStatus] { exitStatus = RunScript(*scriptFile); });
} // namespace cli

} // namespace cli
