#include "ACommon/sync/PlaysFoldIn.h"

#include "ACommon/base/AError.h"
#include "ACommon/bridge/ASiTunes.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/itunesdb/IPodLock.h"
#include "ACommon/itunesdb/IPodPlayCounts.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <ctime>
#include <iterator>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace {

// `text` on one line: a playlist's name cannot hold a line break.
AString OneLine(const AString& text)
{
    std::u16string units = text.Units();
    for (char16_t& unit : units)
        if (unit == u'\n' || unit == u'\r')
            unit = u' ';
    return AString(std::move(units));
}

using Recorded = IPodDB::RecordedPlays;

// A song's duration in the library and on the iPod may differ by the rounding of either reader.
constexpr double kDurationSlackMs = 2000;

// Today's date as the playlists name it: "2026-12-07".
AString Today()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[16];
    std::strftime(text, sizeof text, "%Y-%m-%d", &local);
    return AString(text);
}

std::u16string Upper(AString text)
{
    text.Upper();
    return text.Units();
}

// The lines of `text`, each ended by a line feed.
std::vector<AString> SplitLines(const AString& text)
{
    std::vector<AString> lines;
    int start = 0;
    for (int end; (end = text.Find(static_cast<short>('\n'), start)) >= 0; start = end + 1)
        lines.push_back(text.Mid(start, end - start));
    return lines;
}

// What tells an iPod track's song in the library.
struct Song {
    AString name, artist, album;
    std::uint32_t length = 0; // ms
    std::uint32_t size = 0;
};

// The candidates that come nearest `song`: those of about its duration when any is, then of its
// size when any is. One left is the song; none or several, the song is not known for sure.
std::vector<ASiTunes::Listening> Nearest(std::vector<ASiTunes::Listening> candidates, const Song& song)
{
    auto keep = [&candidates](auto&& close) {
        std::vector<ASiTunes::Listening> kept;
        std::copy_if(candidates.begin(), candidates.end(), std::back_inserter(kept), close);
        if (!kept.empty())
            candidates = std::move(kept);
    };
    if (candidates.size() > 1 && song.length > 0)
        keep([&song](const ASiTunes::Listening& c) {
            return std::abs(c.duration * 1000.0 - song.length) <= kDurationSlackMs;
        });
    if (candidates.size() > 1 && song.size > 0)
        keep(
            [&song](const ASiTunes::Listening& c) { return c.size == static_cast<std::int64_t>(song.size); });
    return candidates;
}

} // namespace

AString PlaysFoldIn::Summary(const Result& result, const AString& iPodName)
{
    AString line("Brought back ");
    line += result.plays;
    line += result.plays == 1 ? " play and " : " plays and ";
    line += result.ratings;
    line += result.ratings == 1 ? " rating from " : " ratings from ";
    line += iPodName;
    if (result.playlists > 0) {
        line += ", and ";
        line += result.playlists;
        line += result.playlists == 1 ? " On-The-Go playlist" : " On-The-Go playlists";
    }
    if (result.notFound > 0) {
        line += "; ";
        line += result.notFound;
        line += result.notFound == 1 ? " song not found in the library" : " songs not found in the library";
    }
    return line;
}

int PlaysFoldIn::Run(const AString& root, const AString& iPodName, const Log& log, Result* result)
{
    *result = Result();
    // Cheap first: most syncs find nothing to bring back.
    if (!IPodDB::RecordsChecksum(root))
        return 0;
    IPodLock lock;
    if (int err = lock.Acquire(root); err != 0)
        return err;
    IPodJournal journal;
    journal.Read(root);
    IPodDB database;
    database.SetJournal(&journal);
    AString at = root;
    if (int err = database.Load(&at, 1, nullptr, nullptr); err != 0)
        return err;
    const Recorded recorded = database.GetRecordedPlays();
    if (recorded.state == Recorded::State::kRefused)
        log(recorded.refusal, true);
    if (recorded.tracks.empty() && recorded.onTheGo.empty())
        return 0; // nothing for the library; the sync's own store sets the files aside

    ASiTunes library;
    library.SetPlaylistName(AString("Library")); // the library playlist: every song of the library
    char keyText[20];
    std::snprintf(keyText, sizeof keyText, "%016llX", static_cast<unsigned long long>(recorded.key));
    const AString key(keyText);
    bool held = false;
    if (int err = library.LibHoldsPlays(key, &held); err != 0)
        return err;
    if (held) {
        // A run stopped after the library took them in and before the database holding them was
        // in place: the store finishes the iPod's side, and the library takes nothing again.
        database.SetFoldHook(nullptr);
        return database.Store(nullptr);
    }

    // The songs the iPod's tracks are, by handle, before the store renumbers anything: the library
    // song of the same name, artist and album, told apart by duration and size when there are
    // several; none when that leaves none or several.
    std::map<std::uint64_t, Song> songs;
    if (MHLT* tracks = database.GetDatabase()->GetTrackList())
        tracks->ForEachTrack([&](MHIT& track) {
            songs[track.GetHandle()] = {track.GetName(), track.GetArtist(), track.GetAlbum(),
                                        track.GetField(MHIT::kOffsetLength), track.GetFileSize()};
        });
    for (const Recorded::Track& track : recorded.tracks)
        songs[track.handle] = {track.name, track.artist, track.album, track.length, track.size};
    std::map<std::uint64_t, std::optional<ASiTunes::Listening>> matched;
    int failed = 0;
    auto match = [&](std::uint64_t handle) -> std::optional<ASiTunes::Listening> {
        if (auto known = matched.find(handle); known != matched.end())
            return known->second;
        const Song& song = songs[handle];
        std::vector<ASiTunes::Listening> candidates;
        if (int err = library.FindLibListenings(song.name, song.artist, song.album, &candidates); err != 0) {
            failed = err;
            return std::nullopt;
        }
        candidates = Nearest(std::move(candidates), song);
        std::optional<ASiTunes::Listening> found;
        if (candidates.size() == 1)
            found = candidates.front();
        matched[handle] = found;
        return found;
    };

    std::vector<ASiTunes::Listening> changes;
    std::map<std::uint32_t, std::size_t> changed; // library song -> its place in `changes`
    for (const Recorded::Track& track : recorded.tracks) {
        std::optional<ASiTunes::Listening> found = match(track.handle);
        if (failed != 0)
            return failed;
        if (!found) {
            ++result->notFound;
            continue;
        }
        // Two iPod tracks of one library song add up.
        auto [place, added] = changed.emplace(found->id, changes.size());
        if (added)
            changes.push_back(*found);
        ASiTunes::Listening& song = changes[place->second];
        song.plays += track.plays;
        song.skips += track.skips;
        song.playedDate = std::max(song.playedDate, IPodPlayCounts::UnixTimeOf(track.lastPlayed));
        if (track.rating >= 0 && track.rating != track.ratingBefore) {
            if (song.rating == track.ratingBefore || song.rating == track.rating) {
                if (song.rating != track.rating)
                    ++result->ratings;
                song.rating = track.rating;
            } else {
                log(AString("The library's rating of \"") + track.name + "\" is kept: it was changed on " +
                        iPodName + " too since the last sync.",
                    false);
            }
        }
        result->plays += static_cast<int>(track.plays);
        if (added)
            ++result->songs;
    }
    // The On-The-Go playlists, named and their songs found before anything changes.
    std::vector<ASiTunes::PlaylistMade> planned;
    const AString date = Today();
    std::set<std::u16string> taken; // the library's playlist names, in upper case
    if (AString names; ASiTunes::GetITunesPlaylist(0, &names) == 0)
        for (const AString& one : SplitLines(names))
            taken.insert(Upper(one));
    int number = 0;
    for (const Recorded::OnTheGo& playlist : recorded.onTheGo) {
        // Numbered after those of an earlier sync of the same day, so that none is lost to a name.
        ASiTunes::PlaylistMade plan;
        for (number = std::max(playlist.number, number + 1);; ++number) {
            plan.name = AString("On-The-Go ");
            plan.name += number;
            plan.name += " (";
            plan.name += OneLine(iPodName);
            plan.name += ", ";
            plan.name += date;
            plan.name += ")";
            if (!taken.contains(Upper(plan.name)))
                break;
        }
        taken.insert(Upper(plan.name));
        for (std::uint64_t handle : playlist.tracks) {
            std::optional<ASiTunes::Listening> found = match(handle);
            if (failed != 0)
                return failed;
            if (found)
                plan.members.push_back(found->id);
        }
        planned.push_back(std::move(plan));
    }

    // Plays, playlists and the records' key go into the library by one script, before the store
    // writes anything: stopped before the script, a run does it all again; stopped after it, the
    // library knows the key and takes nothing twice, and the store puts the database in place.
    database.SetFoldHook([&] {
        const int told = library.SetLibListening(key, changes, planned);
        if (told == 0) {
            result->playlists = static_cast<int>(planned.size());
            return 0;
        }
        bool already = false;
        return library.LibHoldsPlays(key, &already) == 0 && already ? 0 : told;
    });
    return database.Store(nullptr);
}
