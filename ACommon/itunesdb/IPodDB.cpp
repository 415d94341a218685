#include "ACommon/itunesdb/IPodDB.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "ACommon/base/AStateStream.h"
#include "ACommon/base/ByteReader.h"
#include "ACommon/base/ByteWriter.h"
#include "ACommon/base/CRC32.h"
#include "ACommon/itunesdb/IPodIdentity.h"
#include "ACommon/itunesdb/IPodJournal.h"
#include "ACommon/itunesdb/IPodPlayCounts.h"
#include "ACommon/itunesdb/IPodRecord.h"
#include "ACommon/itunesdb/IPodSigning.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLP.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/MHYP.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <new>
#include <optional>
#include <string>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// Temporary databases are written beside iTunesDB under names that begin so (AFile's temporary
// names for a file called iTunesDB).
const char* const kTemporaryPrefix = ".iTunesDB.pelorin-";
const char* const kTemporarySuffix = ".tmp";

// The small files of the iPod are read whole; none of them is anywhere near this size.
constexpr std::uint64_t kMaxSmallFile = 16u << 20;

bool EndsWith(const std::string& text, const std::string& tail)
{
    return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

AString FolderOf(const AString& path)
{
    int slash = path.ReverseFind('/');
    return slash > 0 ? path.Left(slash) : AString("/");
}

// Reads the whole file at `path` (at most `limit` bytes of it).
int ReadWholeFile(const AString& path, std::vector<std::uint8_t>& bytes, std::uint64_t limit)
{
    if (!AFile::FileExists(&path))
        return kErrFileNotFound;
    AFile f;
    if (int err = f.Open(&path, 1); err != 0)
        return err;
    const std::uint64_t size = std::min<std::uint64_t>(f.GetEOF(), limit);
    try {
        bytes.resize(size);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    if (size == 0)
        return 0;
    return f.Read(bytes.data(), static_cast<unsigned>(size), nullptr);
}

// Reads a whole database file into memory a database can keep. kErrEndOfFile for an empty file.
int ReadDatabaseFile(const AString& path, std::unique_ptr<MHOD::TextStore>& bytes)
{
    if (!AFile::FileExists(&path))
        return kErrFileNotFound;
    AFile f;
    if (int err = f.Open(&path, 1); err != 0)
        return err;
    const std::uint64_t size = f.GetEOF();
    if (size == 0)
        return kErrEndOfFile;
    if (size > UINT32_MAX)
        return kErrUnknown; // a record's lengths are 32 bits: no database is this large
    try {
        bytes = std::make_unique<MHOD::TextStore>(static_cast<std::size_t>(size));
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    return f.Read(bytes->Data(), static_cast<unsigned>(size), nullptr);
}

// True when the file at `path` holds just `bytes`, read a block at a time.
bool FileHolds(const AString& path, const MHOD::TextStore& bytes)
{
    const std::span<const std::uint8_t> expected = bytes.Bytes();
    AFile f;
    if (f.Open(&path, 1) != 0 || f.GetEOF() != expected.size())
        return false;
    constexpr std::size_t kBlock = 1 << 20;
    std::vector<std::uint8_t> block(std::min(kBlock, expected.size()));
    for (std::size_t at = 0; at < expected.size(); at += block.size()) {
        const std::size_t n = std::min(block.size(), expected.size() - at);
        if (f.Read(block.data(), static_cast<unsigned>(n), nullptr) != 0 ||
            !std::equal(block.begin(), block.begin() + static_cast<std::ptrdiff_t>(n), expected.begin() + at))
            return false;
    }
    return true;
}

// A database file mapped into memory for reading: parsing it in place saves filling and copying a
// buffer the size of the file. Falls back to reading it whole where mapping is not possible.
class DatabaseBytes {
public:
    ~DatabaseBytes()
    {
        if (mapped)
            munmap(mapped, mappedSize);
    }

    int Open(const AString& path)
    {
        if (!AFile::FileExists(&path))
            return kErrFileNotFound;
        int fd = open(path.CStr(), O_RDONLY | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && info.st_size > 0) {
            void* at = mmap(nullptr, static_cast<size_t>(info.st_size), PROT_READ, MAP_PRIVATE | MAP_POPULATE,
                            fd, 0);
            if (at != MAP_FAILED) {
                mapped = at;
                mappedSize = static_cast<size_t>(info.st_size);
            }
        }
        if (fd >= 0)
            close(fd);
        if (mapped)
            return 0;
        return ReadWholeFile(path, copy, UINT64_MAX);
    }

    ByteReader Reader() const
    {
        return mapped ? ByteReader(mapped, mappedSize) : ByteReader(copy.data(), copy.size());
    }
    std::size_t Size() const { return mapped ? mappedSize : copy.size(); }

private:
    void* mapped = nullptr;
    std::size_t mappedSize = 0;
    std::vector<std::uint8_t> copy;
};

std::vector<std::string> FolderEntries(const AString& folder)
{
    std::vector<std::string> names;
    if (DIR* dir = opendir(folder.CStr())) {
        while (dirent* entry = readdir(dir)) {
            std::string name = entry->d_name;
            if (name != "." && name != "..")
                names.push_back(name);
        }
        closedir(dir);
    }
    return names;
}

// Why the database just read is damaged, as it follows the message: " (REASON)", or nothing.
AString DamageDetail()
{
    const std::string reason = IPodRecord::DamageReason();
    return reason.empty() ? AString() : AString::FromUTF8(" (" + reason + ")");
}

void PutU24BE(std::uint8_t* at, std::uint32_t value)
{
    at[0] = static_cast<std::uint8_t>(value >> 16);
    at[1] = static_cast<std::uint8_t>(value >> 8);
    at[2] = static_cast<std::uint8_t>(value);
}

} // namespace

IPodDB::IPodDB(AProgress* reporter) : database(std::make_unique<MHBD>()), progress(reporter) {}

IPodDB::~IPodDB() = default;

void IPodDB::ResetDatabase()
{
    setAside.reset();
    database = std::make_unique<MHBD>();
    declaredTrackCount = 0;
    loadedStamp = DiskStamp();
}

void IPodDB::Log(const AString& line)
{
    AProgress* reporter = progress ? progress : &AProgress::Shared();
    AString text = line;
    text += "\n";
    reporter->AddToLog(&text, 1);
}

void IPodDB::SetRelevantFields(signed char extension, signed char genre, signed char album)
{
    extensionFlag = extension;
    genreFlag = genre;
    albumFlag = album;
    const int folders = 1 + (genre ? 1 : 0) + (album ? 1 : 0);
    folderPattern = "/";
    for (int i = 0; i < folders; ++i)
        folderPattern += "*/";
}

void IPodDB::SetRootPath(const AString& root)
{
    if (loaded)
        return;
    rootPath = root;
    if (MHLT* tracks = database->GetTrackList())
        tracks->SetRoot(rootPath);
}

void IPodDB::SetLocalTempPath(const AString& folder)
{
    localTempPath = folder;
    if (!localTempPath.IsEmpty() && localTempPath[localTempPath.GetLength() - 1] != '/')
        localTempPath += '/';
}

AString IPodDB::ResolveIPodPath(const AString& root, const char* relative)
{
    AString path = root;
    std::string rest = relative ? relative : "";
    bool matching = true;
    size_t begin = 0;
    while (begin < rest.size()) {
        size_t slash = rest.find('/', begin);
        std::string component =
            rest.substr(begin, slash == std::string::npos ? std::string::npos : slash - begin);
        begin = slash == std::string::npos ? rest.size() : slash + 1;
        if (component.empty())
            continue;
        AString wanted = AString::FromUTF8(component);
        AString candidate = path;
        candidate.AppendPathComponent(wanted);
        if (matching && !AFile::FileExists(&candidate)) {
            matching = false;
            for (const std::string& name : FolderEntries(path)) {
                AString entry = AString::FromUTF8(name);
                if (entry.GetLength() == wanted.GetLength() && entry.CompareNoCase(wanted) == 0) {
                    candidate = path;
                    candidate.AppendPathComponent(entry);
                    matching = true;
                    break;
                }
            }
        }
        path = candidate;
    }
    return path;
}

bool IPodDB::IsIPodRoot(const AString& folder)
{
    AString database = ResolveIPodPath(folder, "iPod_Control/iTunes/iTunesDB");
    return AFile::GetPathType(&database) == AFile::kPathFile;
}

AString IPodDB::IPodFileName(const AString& fileName)
{
    std::u16string units = fileName.Units();
    size_t slash = units.rfind(u'/');
    size_t dot = units.rfind(u'.');
    if (dot == std::u16string::npos || (slash != std::u16string::npos && dot < slash))
        return fileName;
    for (size_t i = dot + 1; i < units.size(); ++i)
        if (units[i] >= u'A' && units[i] <= u'Z')
            units[i] = static_cast<char16_t>(units[i] + 32);
    return AString(std::move(units));
}

int IPodDB::RecoverDatabase(const AString& databasePath)
{
    const AString folder = FolderOf(databasePath);
    struct Candidate {
        AString path;
        std::uint64_t time;
    };
    std::vector<Candidate> candidates;
    for (const std::string& name : FolderEntries(folder)) {
        if (name.rfind(kTemporaryPrefix, 0) != 0 || !EndsWith(name, kTemporarySuffix))
            continue;
        AString path = folder;
        path.AppendPathComponent(AString::FromUTF8(name));
        candidates.push_back({path, AFile::FileModTime(&path)});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const Candidate& a, const Candidate& b) { return a.time > b.time; });
    for (const Candidate& candidate : candidates) {
        // Only a temporary database that was written completely parses as a whole.
        DatabaseBytes bytes;
        if (bytes.Open(candidate.path) != 0)
            continue;
        ByteReader in = bytes.Reader();
        MHBD check;
        if (check.Load(in, 1, nullptr, nullptr) != 0 || in.Remaining() != 0)
            continue;
        if (AFile::CommitReplacement(&candidate.path, &databasePath) != 0)
            continue;
        AString line("Recovered the iPod database from ");
        line += candidate.path;
        Log(line);
        return 0;
    }
    return kErrEndOfFile;
}

std::optional<std::uint32_t> IPodDB::RecordsChecksum(const AString& root)
{
    const AString folder = FolderOf(ResolveIPodPath(root, "iPod_Control/iTunes/iTunesDB"));
    std::vector<AString> files{IPodPlayCounts::PlayCountsPath(folder)};
    for (const AString& onTheGo : IPodPlayCounts::OnTheGoFiles(folder))
        files.push_back(onTheGo);
    CRC32 sum;
    bool any = false;
    for (const AString& file : files) {
        std::vector<std::uint8_t> bytes;
        if (AFile::GetPathType(&file) != AFile::kPathFile || ReadWholeFile(file, bytes, kMaxSmallFile) != 0)
            continue;
        any = true;
        sum.Update(file);
        if (!bytes.empty())
            sum.Update(bytes.data(), static_cast<int>(bytes.size()));
    }
    if (!any)
        return std::nullopt;
    return sum.GetValue();
}

std::optional<std::uint32_t> IPodDB::StoredChecksum() const
{
    std::vector<std::uint8_t> stored;
    if (ReadWholeFile(ResolveIPodPath(rootPath, "iPod_Control/iTunes/iTunesDB"), stored, UINT64_MAX) != 0)
        return std::nullopt;
    CRC32 sum;
    sum.Update(stored.data(), static_cast<int>(stored.size()));
    return sum.GetValue();
}

bool IPodDB::RecordsInDatabase(std::optional<std::uint32_t> stored) const
{
    if (!recordsCrc || !stored)
        return false;
    const std::optional<IPodJournal::PlaysMark> mark = IPodJournal::ReadPlaysMark(rootPath);
    if (!mark || *stored != mark->databaseCrc)
        return false;
    // The store that wrote this database took these records in. One stopped while it set them
    // aside (the play count file first, then the On-The-Go files one by one) leaves some of the
    // On-The-Go files it took in, whose checksum is no longer the mark's.
    const AString playCounts = ResolveIPodPath(rootPath, "iPod_Control/iTunes/Play Counts");
    return mark->playCountsCrc == *recordsCrc || AFile::GetPathType(&playCounts) != AFile::kPathFile;
}

void IPodDB::FoldPlayCounts(const AString& root)
{
    MHLT* tracks = database->GetTrackList();
    const AString path = ResolveIPodPath(root, "iPod_Control/iTunes/Play Counts");
    if (!tracks || AFile::GetPathType(&path) != AFile::kPathFile)
        return;
    std::vector<std::uint8_t> bytes;
    std::vector<IPodPlayCounts::Entry> counts;
    auto refuse = [&](const char* why) {
        recorded.state = RecordedPlays::State::kRefused;
        recorded.refusal = AString("The iPod's play count file ") + path + " " + why +
                           ": it is kept and its plays are not counted.";
        Log(recorded.refusal);
    };
    if (ReadWholeFile(path, bytes, kMaxSmallFile + 1) != 0 || bytes.size() > kMaxSmallFile ||
        IPodPlayCounts::Parse(bytes, counts) != 0) {
        refuse("cannot be read or is damaged");
        return;
    }
    if (counts.size() != static_cast<std::size_t>(tracks->GetTrackCount())) {
        AString why("has ");
        why += static_cast<int>(counts.size());
        why += " entries for the ";
        why += tracks->GetTrackCount();
        why += " songs of the database, so it belongs to another one";
        refuse(why.CStr());
        return;
    }
    recorded.state = RecordedPlays::State::kFolded;
    tracks->ForEachTrack([&](MHIT& track) {
        const int index = track.GetReadIndex();
        if (index < 0 || index >= static_cast<int>(counts.size()))
            return;
        const IPodPlayCounts::Entry& entry = counts[index];
        RecordedPlays::Track record;
        record.ratingBefore = track.GetByte(MHIT::kOffsetRating);
        track.SetField(MHIT::kOffsetPlayCount, track.GetField(MHIT::kOffsetPlayCount) + entry.plays);
        if (entry.lastPlayed != 0)
            track.SetField(MHIT::kOffsetLastPlayed, entry.lastPlayed);
        if (entry.rating != IPodPlayCounts::kNoRating)
            track.SetByte(MHIT::kOffsetRating, static_cast<std::uint8_t>(entry.rating));
        track.SetField(MHIT::kOffsetSkipCount, track.GetField(MHIT::kOffsetSkipCount) + entry.skips);
        if (entry.lastSkipped != 0)
            track.SetField(MHIT::kOffsetLastSkipped, entry.lastSkipped);
        const int ratingNow = entry.rating == IPodPlayCounts::kNoRating ? -1 : static_cast<int>(entry.rating);
        if (entry.plays == 0 && entry.skips == 0 && (ratingNow < 0 || ratingNow == record.ratingBefore))
            return;
        record.handle = track.GetHandle();
        record.name = track.GetName();
        record.artist = track.GetArtist();
        record.album = track.GetAlbum();
        record.genre = track.GetGenre();
        record.plays = entry.plays;
        record.skips = entry.skips;
        record.lastPlayed = entry.lastPlayed;
        record.rating = ratingNow;
        record.length = track.GetField(MHIT::kOffsetLength);
        record.size = track.GetFileSize();
        recorded.tracks.push_back(std::move(record));
    });
}

void IPodDB::FoldOnTheGoPlaylists(const AString& root)
{
    MHLT* tracks = database->GetTrackList();
    if (!tracks)
        return;
    std::vector<MHIT*> byPlace(static_cast<std::size_t>(tracks->GetTrackCount()), nullptr);
    tracks->ForEachTrack([&byPlace](MHIT& track) {
        const int index = track.GetReadIndex();
        if (index >= 0 && index < static_cast<int>(byPlace.size()))
            byPlace[index] = &track;
    });
    const AString folder = FolderOf(ResolveIPodPath(root, "iPod_Control/iTunes/iTunesDB"));
    // Numbered after the On-The-Go playlists an earlier store kept, so that no two share a name.
    int made = 0;
    for (MHLP* list : database->GetPlaylistLists())
        for (int i = 0; i < list->GetPlaylistCount(); ++i) {
            AString name;
            if (list->GetPlaylist(i)->GetName(name) != 0 || name.Find(AString("On-The-Go "), 0, 1) != 0)
                continue;
            const AString number = name.Mid(10, name.GetLength());
            if (number.IsNumber())
                made = std::max(made, std::min(number.IntValue(10), 1 << 20));
        }
    int number = 0;
    onTheGoTaken = true;
    for (const AString& path : IPodPlayCounts::OnTheGoFiles(folder)) {
        ++number;
        std::vector<std::uint8_t> bytes;
        std::vector<std::uint32_t> places;
        if (ReadWholeFile(path, bytes, kMaxSmallFile) != 0 ||
            IPodPlayCounts::ParseOnTheGo(bytes, places) != 0) {
            AString line("Ignored the damaged On-The-Go playlist file ");
            line += path;
            Log(line);
            continue;
        }
        std::vector<MHIT*> songs;
        for (std::uint32_t place : places)
            if (place < byPlace.size() && byPlace[place])
                songs.push_back(byPlace[place]);
        if (songs.empty())
            continue;
        RecordedPlays::OnTheGo made0;
        made0.number = number;
        for (MHIT* song : songs)
            made0.tracks.push_back(song->GetHandle());
        recorded.onTheGo.push_back(std::move(made0));
        AString name("On-The-Go ");
        name += ++made;
        for (MHYP* playlist : database->AddPlaylist(name))
            for (MHIT* song : songs)
                playlist->AddSong(song, -1);
    }
}

int IPodDB::Load(AString* root, signed char withPlaylists, CancelProc cancel, AProgress* loadProgress)
{
    loaded = 0;
    setAside.reset();
    if (root)
        rootPath = *root;
    const AString path = ResolveIPodPath(rootPath, "iPod_Control/iTunes/iTunesDB");
    if (!AFile::FileExists(&path)) {
        if (int err = RecoverDatabase(path); err != 0) {
            ResetDatabase();
            return err;
        }
    }
    // Read whole into memory that the database keeps: its records refer to these bytes. A file
    // replaced while it was read is read again, so that the stamp kept is that of the bytes read.
    std::shared_ptr<const MHOD::TextStore> bytes;
    const std::shared_ptr<const MHOD::TextStore> candidate = std::move(offered);
    offered.reset();
    int err = 0;
    for (int attempt = 0;; ++attempt) {
        loadedStamp = StampOf(path);
        if (candidate && FileHolds(path, *candidate)) {
            bytes = candidate;
        } else {
            std::unique_ptr<MHOD::TextStore> read;
            err = ReadDatabaseFile(path, read);
            bytes = std::move(read);
        }
        if (err != 0 || StampOf(path) == loadedStamp || attempt == 2)
            break;
    }
    if (err == 0) {
        database = std::make_unique<MHBD>();
        err = database->Load(std::move(bytes), withPlaylists, cancel, loadProgress);
        if (err == kErrUnknown)
            AError::NoteFailure(err, AString("the iPod's database ") + path +
                                         " is damaged and cannot be read" + DamageDetail());
        else if (err == kErrEndOfFile)
            AError::NoteFailure(err, AString("the iPod's database ") + path + " is empty");
    }
    // Without a track list the playlists name no songs: stored again, they would lose every member.
    if (err == 0 && !database->GetTrackList()) {
        err = kErrUnknown;
        AError::NoteFailure(err,
                            AString("the iPod's database ") + path +
                                " has no track list (its first dataset is of a kind this program does not "
                                "know) and cannot be changed");
    }
    if (err != 0) {
        ResetDatabase();
        return err;
    }
    if (MHLT* tracks = database->GetTrackList())
        tracks->SetRoot(rootPath);
    recorded = RecordedPlays();
    onTheGoTaken = false;
    recordsCrc = RecordsChecksum(rootPath);
    recorded.crc = recordsCrc.value_or(0);
    // Read again only when there are records: the file is the one just loaded (its writers hold the
    // iPod's lock).
    const std::optional<std::uint32_t> stored = recordsCrc ? StoredChecksum() : std::nullopt;
    recorded.key = static_cast<std::uint64_t>(stored.value_or(0)) << 32 | recorded.crc;
    if (RecordsInDatabase(stored)) {
        // A run stopped after the store that folded these very files left the database holding
        // them: the store sets them aside without counting them again.
        recorded.state = RecordedPlays::State::kConsumed;
        onTheGoTaken = true;
    } else {
        FoldPlayCounts(rootPath);
        // The store removes the On-The-Go files (they count tracks by their old places): their
        // playlists become playlists of the database, which the store writes. Those of a play count
        // file that belongs to another database belong to it too.
        if (withPlaylists && recorded.state != RecordedPlays::State::kRefused)
            FoldOnTheGoPlaylists(rootPath);
    }
    declaredTrackCount = 0;
    loaded = withPlaylists;
    return 0;
}

IPodDB::DiskStamp IPodDB::StampOf(const AString& path)
{
    DiskStamp stamp;
    struct stat info {};
    if (path.IsEmpty() || stat(path.CStr(), &info) != 0)
        return stamp;
    stamp.known = true;
    stamp.device = static_cast<unsigned long long>(info.st_dev);
    stamp.inode = static_cast<unsigned long long>(info.st_ino);
    stamp.size = static_cast<unsigned long long>(info.st_size);
    stamp.seconds = static_cast<long long>(info.st_mtim.tv_sec);
    stamp.nanoseconds = static_cast<long long>(info.st_mtim.tv_nsec);
    return stamp;
}

bool IPodDB::ChangedOnDisk() const
{
    if (!loadedStamp.known)
        return false;
    return !(StampOf(ResolveIPodPath(rootPath, "iPod_Control/iTunes/iTunesDB")) == loadedStamp);
}

int IPodDB::ReloadIfChanged(CancelProc cancel, AProgress* loadProgress)
{
    if (!ChangedOnDisk())
        return 0;
    const signed char withPlaylists = loaded;
    return Load(nullptr, withPlaylists, cancel, loadProgress);
}

int IPodDB::LoadName(AString* path, signed char isRoot)
{
    loaded = 0;
    setAside.reset();
    loadedStamp = DiskStamp();
    AString file;
    if (isRoot) {
        if (path)
            rootPath = *path;
        file = ResolveIPodPath(rootPath, "iPod_Control/iTunes/iTunesDB");
    } else if (path) {
        file = *path;
    }
    database = std::make_unique<MHBD>();
    if (!AFile::FileExists(&file)) {
        ResetDatabase();
        return kErrEndOfFile;
    }
    AFile f;
    int err = f.Open(&file, 1);
    if (err == 0) {
        IPodRecord::ClearDamage();
        err = database->LoadName(&f);
        if (err == kErrUnknown || err == kErrEndOfFile)
            AError::NoteFailure(err, AString("the iPod's database ") + file +
                                         " is damaged and cannot be read" + DamageDetail());
    }
    if (err != 0) {
        ResetDatabase();
        return err;
    }
    declaredTrackCount = database->GetDeclaredTrackCount();
    return 0;
}

int IPodDB::BuildSDFile(std::vector<std::uint8_t>& bytes)
{
    MHLT* tracks = database->GetTrackList();
    const int count = tracks ? tracks->GetTrackCount() : 0;
    bytes.assign(kSDHeaderLength, 0);
    PutU24BE(&bytes[0], static_cast<std::uint32_t>(count));
    PutU24BE(&bytes[3], 0x010700);
    PutU24BE(&bytes[6], static_cast<std::uint32_t>(kSDHeaderLength));
    if (!tracks)
        return 0;
    int err = 0;
    bytes.reserve(kSDHeaderLength + kSDEntryLength * static_cast<std::size_t>(count));
    tracks->ForEachTrack([&](MHIT& track) {
        if (err != 0)
            return;
        AString path = track.GetFilepath();
        path.Replace('\\', '/');
        if (path.GetLength() > kMaxSDPathLength) {
            AString line("Cannot write iTunesSD: the path of the track \"");
            line += track.GetName();
            line += "\" (";
            line += path;
            line += ") is longer than an entry holds.";
            Log(line);
            err = kErrInvalidPath;
            return;
        }
        const std::size_t at = bytes.size();
        bytes.resize(at + kSDEntryLength, 0);
        std::uint8_t* entry = bytes.data() + at;
        PutU24BE(entry + 0, static_cast<std::uint32_t>(kSDEntryLength));
        PutU24BE(entry + 3, 0x5AA501);
        // Volume: the adjustment + 100, so 0x64 plays the track as it is (0 would mute it).
        PutU24BE(entry + 24, 0x000064);
        AString extension;
        path.PathExtension(&extension);
        std::uint32_t fileType = 2;
        if (extension.CompareNoCase("mp3") == 0)
            fileType = 1;
        else if (extension.CompareNoCase("wav") == 0)
            fileType = 4;
        PutU24BE(entry + 27, fileType);
        PutU24BE(entry + 30, 0x000200);
        const std::u16string& units = path.Units();
        for (std::size_t i = 0; i < units.size(); ++i) {
            entry[33 + 2 * i] = static_cast<std::uint8_t>(units[i] & 0xFF);
            entry[33 + 2 * i + 1] = static_cast<std::uint8_t>(units[i] >> 8);
        }
        entry[555] = 1; // played when shuffling
    });
    return err;
}

bool IPodDB::UsesShuffleFile(const AString& root)
{
    const AString path = ResolveIPodPath(root, "iPod_Control/iTunes/iTunesSD");
    if (AFile::FileExists(&path))
        return true;
    AString at = root;
    IPodInfo info;
    return GetIPodInfo(&at, &info) == 0 && info.family == IPodInfo::kFamilyShuffle;
}

bool IPodDB::ShuffleFileOutOfDate()
{
    if (!loaded || !UsesShuffleFile(rootPath))
        return false;
    std::vector<std::uint8_t> expected, held;
    if (BuildSDFile(expected) != 0)
        return true;
    const AString path = ResolveIPodPath(rootPath, "iPod_Control/iTunes/iTunesSD");
    if (ReadWholeFile(path, held, expected.size() + 1) != 0)
        return true;
    return held != expected;
}

int IPodDB::WriteDatabaseFile(const AString& databasePath, const std::vector<std::uint8_t>& bytes)
{
    if (int err = AFile::WriteWholeFileSafely(&databasePath, bytes.data(), bytes.size()); err != 0)
        return err;
    // Temporary databases an earlier interrupted store left behind are outdated now.
    const AString folder = FolderOf(databasePath);
    for (const std::string& name : FolderEntries(folder)) {
        if (name.rfind(kTemporaryPrefix, 0) != 0 || !EndsWith(name, kTemporarySuffix))
            continue;
        AString stale = folder;
        stale.AppendPathComponent(AString::FromUTF8(name));
        AFile::Delete(&stale);
    }
    return 0;
}

int IPodDB::Store(AString* root)
{
    if (!loaded)
        return kErrUnknown;
    artworkStats = IPodArtwork::Stats();
    const AString base = root ? *root : rootPath;
    const AString databasePath = ResolveIPodPath(base, "iPod_Control/iTunes/iTunesDB");
    const AString folder = FolderOf(databasePath);
    if (!AFile::DirExists(&folder)) {
        AError::NoteFailure(kErrFileNotFound, "write", databasePath, ENOENT);
        return kErrFileNotFound;
    }
    // A later iPod shows no music unless the database carries the signature it checks: what it
    // needs is known (or the store refused) before anything is written.
    IPodSigning::Plan signing;
    IPodInfo info;
    {
        AString at = base;
        GetIPodInfo(&at, &info);
        AString refusal;
        if (int err = IPodSigning::Prepare(base, info, database->IsSigned(), &signing, &refusal); err != 0) {
            AError::NoteFailure(err, refusal);
            return err;
        }
    }
    // Another writer stored the database since it was read here: writing this one over it would
    // undo that writer's changes.
    const bool ownRoot = !root || *root == rootPath;
    if (ownRoot && ChangedOnDisk()) {
        AError::NoteFailure(kErrUnknown, AString("the iPod's database ") + databasePath +
                                             " was changed by another program since it was read");
        return kErrUnknown;
    }

    // The iPod lists the library playlist as all of its songs.
    if (MHLT* tracks = database->GetTrackList()) {
        std::vector<MHIT*> all;
        tracks->ForEachTrack([&all](MHIT& track) { all.push_back(&track); });
        for (MHLP* list : database->GetPlaylistLists())
            for (int i = 0; i < list->GetPlaylistCount(); ++i)
                if (MHYP* playlist = list->GetPlaylist(i); playlist->GetLibraryFlag() != 0) {
                    playlist->HoldExactly(all);
                    break;
                }
    }

    // The covers of the tracks added go onto the iPod before the database that links them. Covers
    // are not worth a failed sync: without them the tracks are stored as they were.
    IPodArtwork artwork(base, info, [this](const AString& line) { Log(line); });
    if (int err = artwork.Prepare(*database, pendingArtwork); err != 0)
        Log(AString("The covers of the songs added could not be written onto the iPod") +
            AError::Message(err));
    pendingArtwork.clear();

    // Both files are made in memory first, so a track that iTunesSD cannot hold stops the store
    // before anything is written.
    const bool withShuffleFile = UsesShuffleFile(base);
    std::vector<std::uint8_t> shuffleBytes;
    ByteWriter out;
    try {
        if (withShuffleFile)
            if (int err = BuildSDFile(shuffleBytes); err != 0)
                return err;
        database->Store(out);
    } catch (const std::bad_alloc&) {
        return kErrOutOfMemory;
    }
    // Signed last, over the finished file.
    if (int err = IPodSigning::Sign(out.Bytes(), signing); err != 0)
        return err;
    // The iPod's own records go once this database holds them; marked first, so that a run stopped
    // in between knows at its next load that they are in (and counts nothing twice).
    const bool recordsTaken = ownRoot && recordsCrc &&
                              (recorded.state == RecordedPlays::State::kFolded ||
                               recorded.state == RecordedPlays::State::kConsumed || onTheGoTaken);
    // The library takes the records in before anything is written: a run stopped after it finds
    // them (and the database) as they were, and the library tells by their key that it has them.
    if (recordsTaken && foldHook)
        if (int err = foldHook(); err != 0)
            return err;
    if (recordsTaken && journal) {
        // A journal never read yet belongs to this iPod all the same: read, it writes beside it.
        if (journal->Root().IsEmpty())
            journal->Read(base);
        CRC32 sum;
        sum.Update(out.Bytes().data(), static_cast<int>(out.Bytes().size()));
        if (int err = journal->MarkPlays({*recordsCrc, sum.GetValue()}); err != 0)
            return err;
    }
    if (int err = WriteDatabaseFile(databasePath, out.Bytes()); err != 0)
        return err;
    if (ownRoot)
        loadedStamp = StampOf(databasePath);
    // Images no stored track uses any more go now, and the space a stopped write left.
    if (int err = artwork.Finish(*database); err != 0)
        Log(AString("The iPod's covers could not be tidied") + AError::Message(err) +
            " They are tidied at the next sync.");
    artworkStats = artwork.GetStats();

    // The play counts and On-The-Go playlists now live in the database, and their files count
    // tracks by their places in the old file: left in place, the next load would give their
    // counts and songs to the wrong tracks.
    int leftBehind = 0;
    AString playCounts = ResolveIPodPath(base, "iPod_Control/iTunes/Play Counts");
    const bool countsTaken =
        recorded.state == RecordedPlays::State::kFolded || recorded.state == RecordedPlays::State::kConsumed;
    if (ownRoot && countsTaken && AFile::GetPathType(&playCounts) == AFile::kPathFile) {
        AString backup = folder;
        backup.AppendPathComponent("Play Counts.bak");
        if (AFile::Rename(&playCounts, &backup) != 0 && AFile::Delete(&playCounts) != 0) {
            AString line("Cannot set aside or delete ");
            line += playCounts;
            line += ": its play counts would be counted again.";
            Log(line);
            leftBehind = kErrUnableToDelete;
        }
    }
    for (const AString& onTheGo : IPodPlayCounts::OnTheGoFiles(folder)) {
        if (!ownRoot || !onTheGoTaken)
            break;
        if (AFile::Delete(&onTheGo) != 0) {
            AString line("Cannot delete ");
            line += onTheGo;
            line += ": its On-The-Go playlist would be added again.";
            Log(line);
            leftBehind = kErrUnableToDelete;
        }
    }
    if (MHLT* tracks = database->GetTrackList()) {
        int index = 0;
        tracks->ForEachTrack([&index](MHIT& track) { track.SetReadIndex(index++); });
    }
    if (recordsTaken) {
        // Once set aside, the records are in this database alone; a mark left (its removal failed)
        // names files that are gone, which no later load takes for these.
        if (leftBehind == 0 && journal)
            journal->ClearPlays();
        recorded = RecordedPlays();
        recordsCrc.reset();
        onTheGoTaken = false;
    }

    if (withShuffleFile) {
        AString shufflePath = ResolveIPodPath(base, "iPod_Control/iTunes/iTunesSD");
        if (int err = AFile::WriteWholeFileSafely(&shufflePath, shuffleBytes.data(), shuffleBytes.size());
            err != 0)
            return err;
    }
    return leftBehind;
}

int IPodDB::GetIPodName(AString& name) const
{
    if (setAside) {
        name = asideName;
        return asideNameResult;
    }
    return database->GetIPodName(name);
}

void IPodDB::SetIPodName(const AString& name)
{
    for (MHLP* list : database->GetPlaylistLists())
        if (MHYP* library = list->GetPlaylist(0))
            library->SetName(name);
}

int IPodDB::AddSong(SongInfoStruct& song, MHIT** added, signed char add)
{
    MHIT* track = nullptr;
    const int err = database->AddSong(song, &track, add);
    if (added)
        *added = track;
    if (err == 0 && track && add)
        pendingArtwork[track->GetHandle()] = IPodArtwork::Source();
    return err;
}

int IPodDB::TidyArtwork()
{
    if (!loaded || rootPath.IsEmpty())
        return kErrUnknown;
    AString at = rootPath;
    IPodInfo info;
    GetIPodInfo(&at, &info);
    IPodArtwork artwork(rootPath, info, [this](const AString& line) { Log(line); });
    return artwork.Finish(*database);
}

void IPodDB::SetArtworkSource(const MHIT* track, const AString& file, bool embedded)
{
    if (track)
        pendingArtwork[track->GetHandle()] = IPodArtwork::Source{file, embedded};
}

int IPodDB::FillMissingArtwork()
{
    int count = 0;
    if (MHLT* tracks = database->GetTrackList())
        tracks->ForEachTrack([&](MHIT& track) {
            if (track.GetByte(IPodArtwork::kOffsetHasArtwork) != 1 &&
                !pendingArtwork.count(track.GetHandle())) {
                pendingArtwork.emplace(track.GetHandle(), IPodArtwork::Source());
                ++count;
            }
        });
    return count;
}

int IPodDB::RemoveSong(const AString& virtualPath)
{
    return database->RemoveSong(virtualPath, extensionFlag, genreFlag, albumFlag);
}

std::vector<MHYP*> IPodDB::AddPlaylist(const AString& name) { return database->AddPlaylist(name); }

int IPodDB::GetSongInfo(MHIT** track, const AString& virtualPath, signed char exact)
{
    MHLT* tracks = database->GetTrackList();
    return tracks ? tracks->GetSongInfo(track, virtualPath, exact) : 0;
}

int IPodDB::GetSongPath(AString& filePath, const AString& virtualPath, signed char sizeBased)
{
    MHLT* tracks = database->GetTrackList();
    return tracks ? tracks->GetSongPath(filePath, virtualPath, sizeBased, extensionFlag, genreFlag, albumFlag)
                  : 0;
}

int IPodDB::GetSongExt(AString* extension, const AString& virtualPath, AString* filePath)
{
    MHLT* tracks = database->GetTrackList();
    return tracks ? tracks->GetSongExt(extension, virtualPath, filePath, extensionFlag, genreFlag, albumFlag)
                  : 0;
}

void IPodDB::Sort(signed char ascending, const MHLT::TrackFilter& filter)
{
    if (MHLT* tracks = database->GetTrackList())
        tracks->Sort(ascending, filter, extensionFlag, genreFlag, albumFlag);
}

bool IPodDB::HasSortedView() const
{
    MHLT* tracks = database->GetTrackList();
    return tracks && tracks->HasSortedList();
}

const AString* IPodDB::GetSortedPath(int index) const
{
    MHLT* tracks = database->GetTrackList();
    return tracks ? tracks->GetSortedPath(index) : nullptr;
}

int IPodDB::CountSortedSongs() const
{
    MHLT* tracks = database->GetTrackList();
    return tracks ? tracks->CountSortedSongs() : 0;
}

MHIT* IPodDB::GetSortedSong(int index)
{
    MHLT* tracks = database->GetTrackList();
    return tracks ? tracks->GetSortedSong(index) : nullptr;
}

void IPodDB::RemoveSortedSongEntry(int index)
{
    if (MHLT* tracks = database->GetTrackList())
        tracks->RemoveSortedSongEntry(index);
}

void IPodDB::DeleteSortedList()
{
    if (MHLT* tracks = database->GetTrackList())
        tracks->DeleteSortedList();
}

int IPodDB::GetTrackCount() const
{
    MHLT* tracks = database->GetTrackList();
    if (declaredTrackCount != 0)
        return static_cast<int>(declaredTrackCount);
    return tracks ? tracks->GetTrackCount() : 0;
}

int IPodDB::WriteState(AFile* f)
{
    if (int err = AStateStream::WriteU32(f, kStateMark); err != 0)
        return err;
    if (int err = rootPath.WriteState(f); err != 0)
        return err;
    if (int err = localTempPath.WriteState(f); err != 0)
        return err;
    if (setAside) {
        const std::span<const std::uint8_t> bytes = setAside->Bytes();
        if (int err = f->Write(bytes.data(), static_cast<unsigned>(bytes.size())); err != 0)
            return err;
    } else if (int err = database->Store(f); err != 0)
        return err;
    for (signed char flag : {extensionFlag, genreFlag, albumFlag})
        if (int err = AStateStream::WriteFlag(f, flag); err != 0)
            return err;
    if (int err = folderPattern.WriteState(f); err != 0)
        return err;
    return iPodID.WriteState(f);
}

int IPodDB::ReadState(AFile* f)
{
    ResetDatabase();
    // A database restored from a state file is never written to an iPod: it may be out of date.
    loaded = 0;
    if (int err = AStateStream::ReadMark(f, kStateMark); err != 0)
        return err;
    if (int err = rootPath.ReadState(f); err != 0)
        return err;
    if (int err = localTempPath.ReadState(f); err != 0)
        return err;
    if (int err = database->Load(f, 1, nullptr, nullptr); err != 0) {
        ResetDatabase();
        return err;
    }
    if (MHLT* tracks = database->GetTrackList())
        tracks->SetRoot(rootPath);
    for (signed char* flag : {&extensionFlag, &genreFlag, &albumFlag})
        if (int err = AStateStream::ReadFlag(f, flag); err != 0)
            return err;
    if (int err = folderPattern.ReadState(f); err != 0)
        return err;
    return iPodID.ReadState(f);
}

void IPodDB::SetAside()
{
    if (loaded || setAside || !database->GetReadBytes())
        return;
    std::shared_ptr<const MHOD::TextStore> bytes = database->GetReadBytes();
    // What is asked of a saved list before it is used: its name and whether it holds tracks.
    asideNameResult = database->GetIPodName(asideName);
    const int tracks = GetTrackCount();
    database = std::make_unique<MHBD>();
    declaredTrackCount = static_cast<std::uint32_t>(tracks);
    setAside = std::move(bytes);
}

int IPodDB::TakeBack()
{
    if (!setAside)
        return 0;
    std::shared_ptr<const MHOD::TextStore> bytes = std::move(setAside);
    setAside.reset();
    declaredTrackCount = 0;
    database = std::make_unique<MHBD>();
    if (int err = database->Load(std::move(bytes), 1, nullptr, nullptr); err != 0) {
        ResetDatabase();
        return err;
    }
    if (MHLT* tracks = database->GetTrackList())
        tracks->SetRoot(rootPath);
    return 0;
}

bool IPodDB::SameAs(const IPodDB& other)
{
    const std::shared_ptr<const MHOD::TextStore>& theirs = other.database->GetReadBytes();
    if (!setAside || !other.loaded || !theirs)
        return false;
    if (theirs != setAside) {
        const std::span<const std::uint8_t> mine = setAside->Bytes(), read = theirs->Bytes();
        if (mine.size() != read.size() || !std::equal(mine.begin(), mine.end(), read.begin()))
            return false;
        setAside = theirs;
    }
    return true;
}

int IPodDB::GetIPodInfo(AString* root, IPodInfo* info)
{
    if (!info)
        return kErrUnknown;
    info->Reset();
    if (!root || root->IsEmpty())
        return 0;
    const AString path = ResolveIPodPath(*root, "iPod_Control/Device/SysInfo");
    const AString extendedPath = ResolveIPodPath(*root, "iPod_Control/Device/SysInfoExtended");
    const bool haveSysInfo = AFile::GetPathType(&path) == AFile::kPathFile;
    std::optional<AString> model;
    if (haveSysInfo) {
        std::vector<std::uint8_t> bytes;
        if (int err = ReadWholeFile(path, bytes, kMaxSmallFile); err != 0)
            return err;
        ReadSysInfo(std::string(bytes.begin(), bytes.end()), &model, &info->sysInfoGuid);
    }
    // Later iPods keep their identity in SysInfoExtended, a property list, which the iPod itself
    // gives: where it speaks, it is believed first.
    IPodIdentity::Extended extended;
    if (AFile::GetPathType(&extendedPath) == AFile::kPathFile) {
        std::vector<std::uint8_t> bytes;
        if (ReadWholeFile(extendedPath, bytes, kMaxSmallFile) == 0 &&
            IPodIdentity::ParseExtended(std::string(bytes.begin(), bytes.end()), &extended))
            info->haveExtended = true;
    }
    AString extendedModel;
    if (extended.modelNumber.GetLength() > 1) {
        extendedModel = extended.modelNumber.Mid(1, extended.modelNumber.GetLength());
        extendedModel.Trim();
    }
    if (!extendedModel.IsEmpty()) {
        info->SetModel(extendedModel);
        info->modelSource = "SysInfoExtended";
    } else if (model) {
        info->SetModel(*model);
        info->modelSource = "SysInfo";
    }
    if (model && !extendedModel.IsEmpty() && *model != extendedModel)
        info->sysInfoModel = *model;
    info->extendedGuid = extended.guid;
    info->dbVersion = extended.dbVersion;
    if (!extended.guid.IsEmpty()) {
        info->firewireGuid = extended.guid;
        info->guidSource = "SysInfoExtended";
    } else if (!info->sysInfoGuid.IsEmpty()) {
        info->firewireGuid = info->sysInfoGuid;
        info->guidSource = "SysInfo";
    }
    // Without root, the iPod's USB serial number is its GUID.
    info->usbSerial = IPodIdentity::UsbSerial(*root, IPodIdentity::SysfsRoot());
    if (info->firewireGuid.IsEmpty() && !info->usbSerial.IsEmpty()) {
        info->firewireGuid = info->usbSerial;
        info->guidSource = "USB serial number";
    }
    info->ChooseScheme();
    if (model || !extendedModel.IsEmpty())
        return 0;
    if (!haveSysInfo && !info->haveExtended) {
        // No SysInfo where its folder exists reads as an empty file; without even the folder
        // (as on a shuffle) the file cannot be opened at all.
        const AString folder = FolderOf(path);
        if (AFile::DirExists(&folder))
            return kErrEndOfFile;
        info->family = IPodInfo::kFamilyShuffle;
        return 0;
    }
    return kErrEndOfFile;
}

void IPodDB::ReadSysInfo(const std::string& text, std::optional<AString>* model, AString* guid)
{
    // "Name: value" lines; the names are matched without regard to case.
    // The value after the colon of a line that begins with `name` (with `wholeKey`, whose key before
    // the colon is `name` and nothing more).
    auto valueOf = [](const AString& line, const char* name,
                      bool wholeKey = false) -> std::optional<AString> {
        const int length = static_cast<int>(std::strlen(name));
        if (line.GetLength() < length || line.Left(length).CompareNoCase(name) != 0)
            return std::nullopt;
        const int colon = line.Find(':', 0);
        if (colon < 0)
            return std::nullopt;
        if (wholeKey) {
            AString key = line.Left(colon);
            key.Trim();
            if (key.GetLength() != length)
                return std::nullopt;
        }
        AString value = line.Mid(colon + 1, line.GetLength());
        value.Trim();
        return value;
    };
    size_t begin = 0;
    while (begin < text.size()) {
        size_t end = text.find('\n', begin);
        if (end == std::string::npos)
            end = text.size();
        std::string raw = text.substr(begin, std::min<size_t>(end - begin, AString::kMaxStoredBytes));
        begin = end + 1;
        raw.resize(std::min(raw.size(), raw.find('\0')));
        while (!raw.empty() && (raw.back() == '\r' || raw.back() == '\n'))
            raw.pop_back();
        AString line = AString::FromUTF8(raw);
        line.Trim();
        if (!*model) {
            if (std::optional<AString> value = valueOf(line, "ModelNumStr")) {
                // The model number without its first character ("MA147" gives "A147").
                AString number = value->Mid(1, value->GetLength());
                number.Trim();
                *model = number;
                continue;
            }
        }
        if (guid->IsEmpty())
            if (std::optional<AString> value = valueOf(line, "FirewireGuid", true))
                *guid = IPodIdentity::NormalizeGuid(*value);
    }
}

int IPodDB::SetIPodFlag(AString* root)
{
    if (!root)
        return kErrFileNotFound;
    const AString path = ResolveIPodPath(*root, "iPod_Control/iTunes/iTunesPrefs");
    std::vector<std::uint8_t> bytes;
    if (int err = ReadWholeFile(path, bytes, kMaxSmallFile); err != 0)
        return err;
    if (bytes.size() < 32)
        bytes.resize(32, 0);
    bytes[10] = 0; // the iPod no longer updates itself from a library, so this program may change it
    bytes[31] = 1;
    return AFile::WriteWholeFileSafely(&path, bytes.data(), bytes.size());
}

void IPodDB::SetIPodFlags(AString* root) { SetIPodFlag(root); }

int IPodDB::GetAutoUpdates(AString* root, signed char& autoUpdate)
{
    if (!root)
        return kErrFileNotFound;
    const AString path = ResolveIPodPath(*root, "iPod_Control/iTunes/iTunesPrefs");
    // An iPod that no library application has set up (libgpod makes them so) has no preferences
    // file: it takes the defaults, and updates nothing by itself.
    if (AFile::GetPathType(&path) == AFile::kPathOther) {
        const AString folder = ResolveIPodPath(*root, "iPod_Control/iTunes");
        if (!AFile::DirExists(&folder))
            return kErrEndOfFile; // no iPod there at all
        autoUpdate = 0;
        return 0;
    }
    std::vector<std::uint8_t> bytes;
    if (int err = ReadWholeFile(path, bytes, 64); err != 0)
        return err;
    if (bytes.size() < 11)
        return kErrEndOfFile;
    autoUpdate = static_cast<signed char>(bytes[10] & 1);
    return 0;
}

int IPodDB::LoadName(AString* root, AString* name)
{
    IPodDB db;
    if (int err = db.LoadName(root, 1); err != 0)
        return err;
    if (name) {
        *name = AString();
        db.GetIPodName(*name);
    }
    return 0;
}

AString IPodDB::GetIdentity(AString* root)
{
    IPodInfo info;
    GetIPodInfo(root, &info);
    // Only what the iPod's files say: the identity must not change with the way it is connected.
    const AString guid = info.sysInfoGuid.IsEmpty() ? info.extendedGuid : info.sysInfoGuid;
    if (!guid.IsEmpty())
        return AString("FirewireGuid ") + guid;
    IPodDB db;
    if (db.LoadName(root, 1) != 0)
        return AString();
    const std::uint64_t id = db.GetDatabase()->GetDatabaseId();
    if (id == 0)
        return AString();
    char hex[24];
    std::snprintf(hex, sizeof hex, "%016llX", static_cast<unsigned long long>(id));
    return AString("DatabaseId ") + hex;
}

bool IPodDB::ChecksSignature(AString* root)
{
    IPodDB db;
    return db.LoadName(root, 1) == 0 && db.GetDatabase()->IsSigned();
}

AString IPodDB::SignatureRefusal(AString* root)
{
    IPodSigning::Plan plan;
    AString refusal;
    IPodSigning::Prepare(root ? *root : AString(), &plan, &refusal);
    return refusal;
}

int IPodDB::GetVeltranoIPodID(AString*)
{
    iPodID = "00000000";
    return 0;
}
