#include "ACommon/itunesdb/IPodRecovery.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/itunesdb/ArtworkDB.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/tags/ID3.h"
#include "ACommon/tags/SongInfoStruct.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>
#include <string>
#include <sys/stat.h>

namespace {

// "F1028_1.ithmb": a picture file of the cover database.
bool IsIthmbName(const std::string& name)
{
    const std::size_t dash = name.find('_');
    if (name.size() < 10 || (name[0] != 'F' && name[0] != 'f') || dash == std::string::npos || dash < 2 ||
        ArtworkDB::FileKey(name.substr(name.size() - 6)) != ".ithmb")
        return false;
    for (std::size_t i = 1; i < name.size() - 6; ++i)
        if (i != dash && (name[i] < '0' || name[i] > '9'))
            return false;
    return dash + 1 < name.size() - 6;
}

// True for the name of a temporary file this program makes beside a file it writes
// (".NAME.pelorin-PID-N.tmp", AFile::TemporaryPathBeside).
bool IsOwnTemporaryName(const std::string& name)
{
    const std::string tail = ".tmp";
    const size_t mark = name.rfind(".pelorin-");
    if (name.size() < 2 || name[0] != '.' || mark == std::string::npos || mark < 2 ||
        name.size() < tail.size() || name.compare(name.size() - tail.size(), tail.size(), tail) != 0)
        return false;
    const std::string numbers = name.substr(mark + 9, name.size() - tail.size() - mark - 9);
    const size_t dash = numbers.find('-');
    auto digits = [](const std::string& text) {
        return !text.empty() && text.find_first_not_of("0123456789") == std::string::npos;
    };
    return dash != std::string::npos && digits(numbers.substr(0, dash)) && digits(numbers.substr(dash + 1));
}

// The temporary files of this program in `folder` and, with `depth` 1, in the folders inside it.
void FindOwnTemporaryFiles(const std::string& folder, int depth, std::vector<AString>& found)
{
    std::error_code error;
    for (const auto& item : std::filesystem::directory_iterator(folder, error)) {
        const std::string name = item.path().filename().string();
        if (item.is_directory(error) && !item.is_symlink(error)) {
            if (depth > 0)
                FindOwnTemporaryFiles(item.path().string(), depth - 1, found);
        } else if (IsOwnTemporaryName(name)) {
            found.push_back(AString::FromUTF8(item.path().string()));
        }
    }
}

std::vector<AString> OwnTemporaryFiles(const AString& root)
{
    std::vector<AString> found;
    FindOwnTemporaryFiles(IPodDB::ResolveIPodPath(root, "iPod_Control/Music").ToStdString(), 1, found);
    FindOwnTemporaryFiles(IPodDB::ResolveIPodPath(root, "iPod_Control/iTunes").ToStdString(), 0, found);
    return found;
}

} // namespace

bool IPodRecovery::ClimbsOut(const AString& path)
{
    const std::u16string& units = path.Units();
    size_t begin = 0;
    while (begin <= units.size()) {
        size_t end = units.find(u'/', begin);
        if (end == std::u16string::npos)
            end = units.size();
        const std::u16string_view part(units.data() + begin, end - begin);
        if (part == u"." || part == u"..")
            return true;
        begin = end + 1;
    }
    return false;
}

bool IPodRecovery::InsideMusicFolder(const AString& root, const AString& folder)
{
    const AString musicFolder = IPodDB::ResolveIPodPath(root, "iPod_Control/Music");
    struct stat musicInfo {};
    std::error_code error;
    const std::filesystem::path resolved = std::filesystem::canonical(folder.ToStdString(), error);
    if (error == std::errc::no_such_file_or_directory || error == std::errc::not_a_directory)
        return true;
    if (error || stat(musicFolder.CStr(), &musicInfo) != 0)
        return false;
    for (std::filesystem::path at = resolved;; at = at.parent_path()) {
        struct stat atInfo {};
        if (stat(at.c_str(), &atInfo) == 0 && atInfo.st_dev == musicInfo.st_dev &&
            atInfo.st_ino == musicInfo.st_ino)
            return true;
        if (at == at.parent_path())
            return false;
    }
}

IPodJournal::Entry IPodRecovery::RemovalEntry(const AString& root, const AString& file, bool move)
{
    IPodJournal::Entry entry;
    entry.kind = IPodJournal::Kind::kRemoved;
    entry.move = move;
    entry.location = file.Mid(root.GetLength() - 1, file.GetLength());
    return entry;
}

AString IPodRecovery::RemovalFailedLine(const AString& file, int err)
{
    AString line("Could not remove ");
    line += file;
    line += ", whose song the iPod no longer lists: ";
    line += err;
    AError::AddErrorMsg(&line, err);
    line += " The next run tries again.";
    return line;
}

IPodRecovery::Found IPodRecovery::Examine(const AString& root, IPodDB& database, IPodJournal& journal,
                                          const std::function<bool()>& takeOver, const Log& log)
{
    Found found;
    const int journalRead = journal.Read(root);
    const std::vector<AString> temporaries = OwnTemporaryFiles(root);
    found.anything = !journal.IsEmpty() || !temporaries.empty() || journalRead != 0;
    if (!found.anything)
        return found;
    // Temporary files may be another writer's at work, and the journal another run's to keep.
    if (!takeOver()) {
        log(AString("Another program is changing the iPod; what an interrupted run left on it is looked at "
                    "next time."));
        return found;
    }
    found.examined = true;
    if (journalRead != 0)
        log(AString("The iPod's journal ") + IPodJournal::PathOf(root) +
            " is damaged; the entries before the damage are used.");

    std::set<std::u16string> listed; // the locations the database lists, in upper case
    auto key = [](const AString& location) {
        AString upper = location;
        upper.Upper();
        return upper.Units();
    };
    if (MHLT* tracks = database.GetDatabase()->GetTrackList())
        tracks->ForEachTrack([&](MHIT& track) { listed.insert(key(track.GetFilepath())); });
    // Removals first: a file copied and then replaced in the same run is named twice.
    for (int pass = 0; pass < 2; ++pass)
        for (const IPodJournal::Entry& entry : journal.Entries()) {
            if ((entry.kind == IPodJournal::Kind::kRemoved) != (pass == 0) || ClimbsOut(entry.location) ||
                listed.contains(key(entry.location)))
                continue; // still the file of a listed track, which it stays
            AString file = root;
            file.AppendPathComponent(entry.location);
            struct stat info {};
            if (lstat(file.CStr(), &info) != 0 || !S_ISREG(info.st_mode) ||
                !InsideMusicFolder(root, file.Left(file.ReverseFind('/'))))
                continue;
            if (entry.kind == IPodJournal::Kind::kRemoved) {
                found.left.push_back({file, true, entry.move});
                listed.insert(key(entry.location)); // gone once tidied
                continue;
            }
            // A copy that is complete was flushed (no longer pending) and holds the size and the
            // tags it was recorded with.
            ID3 tags;
            SongInfoStruct song;
            bool complete = !entry.pending && static_cast<std::uint64_t>(info.st_size) == entry.size &&
                            tags.SetFilePath(file) == 0;
            if (complete) {
                tags.GetSongInfo(song);
                complete = song.genre == entry.genre && song.artist == entry.artist &&
                           song.album == entry.album && (song.name.IsEmpty() || song.name == entry.name);
            }
            MHIT* track = nullptr;
            if (complete) {
                song.modTime = AFile::FileModTime(&file);
                song.modifiedName = entry.name;
                song.filePath = entry.location;
                // A song the database holds already (copied again since) makes this copy a second one.
                complete = database.AddSong(song, &track, 1) == 0 && track;
            }
            if (!complete) {
                found.left.push_back({file, false, false});
                continue;
            }
            track->SetFilepath(entry.location);
            listed.insert(key(entry.location));
            ++found.takenIn;
        }
    for (const AString& temporary : temporaries)
        found.left.push_back({temporary, false, false});
    if (found.takenIn > 0) {
        AString line;
        line += found.takenIn;
        line += found.takenIn == 1 ? " song" : " songs";
        line += " that a run which did not finish copied onto the iPod are taken into its database.";
        log(line);
    }
    return found;
}

int IPodRecovery::TidyUp(const AString& root, const std::vector<LeftFile>& left,
                         const std::function<int(const LeftFile&)>& removeSong, std::vector<AString>& due,
                         std::vector<IPodJournal::Entry>& keep, const Log& log)
{
    int removed = 0;
    for (const LeftFile& tidy : left) {
        AString file = tidy.file;
        const int err = tidy.removal ? removeSong(tidy) : AFile::Delete(&file);
        if (err == 0) {
            ++removed;
        } else if (tidy.removal) {
            due.push_back(tidy.file);
            keep.push_back(RemovalEntry(root, tidy.file, tidy.move));
        }
    }
    if (removed > 0) {
        AString line("Tidied up after a run that did not finish: ");
        line += removed;
        line += removed == 1 ? " file" : " files";
        line += " removed (incomplete copies, leftover temporary files, songs it had removed).";
        log(line);
    }
    return removed;
}

int IPodRecovery::TidyArtwork(const AString& root, const ArtworkDB& stored, const Log& log)
{
    const std::filesystem::path folder = IPodDB::ResolveIPodPath(root, "iPod_Control/Artwork").ToStdString();
    std::map<std::string, std::uint64_t> ends;
    for (const ArtworkDB::Image& image : stored.Images())
        for (const ArtworkDB::Thumb& thumb : image.thumbs) {
            const std::string name = ArtworkDB::FileNameOf(thumb.file);
            // A picture in a file this program cannot place: nothing here can be told unused.
            if (name.empty())
                return 0;
            std::uint64_t& end = ends[ArtworkDB::FileKey(name)];
            end = std::max<std::uint64_t>(end, std::uint64_t(thumb.offset) + thumb.size);
        }
    std::error_code error;
    int result = 0;
    for (std::filesystem::directory_iterator it(folder, error), end; !error && it != end;
         it.increment(error)) {
        const std::string name = it->path().filename().string();
        std::error_code fileError;
        if (AFile::IsStaleTemporaryName(name.c_str())) {
            std::filesystem::remove(it->path(), fileError);
            continue;
        }
        if (!IsIthmbName(name) || !it->is_regular_file(fileError))
            continue;
        const auto used = ends.find(ArtworkDB::FileKey(name));
        const std::uint64_t size = it->file_size(fileError);
        if (fileError)
            continue;
        if (used == ends.end()) {
            if (!std::filesystem::remove(it->path(), fileError) && fileError && result == 0)
                result = kErrUnableToDelete;
            else if (log)
                log(AString("Removed ") + AString::FromUTF8(it->path().string()) + ": no cover uses it.");
        } else if (size > used->second) {
            std::filesystem::resize_file(it->path(), used->second, fileError);
            if (fileError && result == 0)
                result = kErrIO;
        }
    }
    return result;
}
