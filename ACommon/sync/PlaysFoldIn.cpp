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
#include <ctime>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

using Recorded = IPodDB::RecordedPlays;

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

struct Song {
    AString name, artist, album;
};

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

    // The songs the On-The-Go playlists name, by handle, before the store renumbers anything.
    std::map<std::uint64_t, Song> songs;
    for (const Recorded::Track& track : recorded.tracks)
        songs[track.handle] = {track.name, track.artist, track.album};
    if (MHLT* tracks = database.GetDatabase()->GetTrackList())
        tracks->ForEachTrack([&](MHIT& track) {
            if (!songs.contains(track.GetHandle()))
                songs[track.GetHandle()] = {track.GetName(), track.GetArtist(), track.GetAlbum()};
        });

    ASiTunes library;
    library.SetPlaylistName(AString("Library")); // the library playlist: every song of the library
    std::vector<ASiTunes::Listening> changes;
    for (const Recorded::Track& track : recorded.tracks) {
        ASiTunes::Listening song;
        const int found = library.FindLibListening(track.name, track.artist, track.album, &song);
        if (found == kErrObjectNotFound)
            continue; // a song the library does not hold
        if (found != 0)
            return found;
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
        ++result->songs;
        changes.push_back(song);
    }
    // The On-The-Go playlists, named and their songs found before anything changes.
    struct Planned {
        AString name;
        std::vector<std::uint32_t> members;
    };
    std::vector<Planned> planned;
    const AString date = Today();
    std::set<std::u16string> taken; // the library's playlist names, in upper case
    if (AString names; ASiTunes::GetITunesPlaylist(0, &names) == 0)
        for (const AString& one : SplitLines(names))
            taken.insert(Upper(one));
    int number = 0;
    for (const Recorded::OnTheGo& playlist : recorded.onTheGo) {
        // Numbered after those of an earlier sync of the same day, so that none is lost to a name.
        Planned plan;
        for (number = std::max(playlist.number, number + 1);; ++number) {
            plan.name = AString("On-The-Go ");
            plan.name += number;
            plan.name += " (";
            plan.name += iPodName;
            plan.name += ", ";
            plan.name += date;
            plan.name += ")";
            if (!taken.contains(Upper(plan.name)))
                break;
        }
        taken.insert(Upper(plan.name));
        for (std::uint64_t handle : playlist.tracks) {
            const Song& song = songs[handle];
            ASiTunes::Listening found;
            if (library.FindLibListening(song.name, song.artist, song.album, &found) == 0)
                plan.members.push_back(found.id);
        }
        planned.push_back(std::move(plan));
    }

    // The library is told once the database holding the counts is written and before the records
    // are set aside: stopped before, the run counts them at its next start; stopped after, the
    // records are known to be in the database and are not counted again.
    int told = 0;
    database.SetWrittenHook([&] {
        if ((told = library.SetLibListening(changes)) != 0)
            return;
        for (const Planned& plan : planned) {
            if ((told = library.MakePlaylistITunes(plan.name)) != 0)
                return;
            for (std::uint32_t id : plan.members)
                if ((told = library.ITunesAddSongToPlaylist(plan.name, id)) != 0)
                    return;
            ++result->playlists;
        }
    });
    if (int err = database.Store(nullptr); err != 0)
        return err;
    return told;
}
