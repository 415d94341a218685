#include "ACommon/itunesdb/IPodArtwork.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AFile.h"
#include "ACommon/itunesdb/IPodDB.h"
#include "ACommon/itunesdb/IPodIdentity.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/IPodRecovery.h"
#include "ACommon/itunesdb/MHBD.h"
#include "ACommon/itunesdb/MHIT.h"
#include "ACommon/itunesdb/MHLT.h"
#include "ACommon/itunesdb/SongPicture.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <set>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using Format = ArtworkThumbnail::Format;

std::uint64_t Fnv1a(const std::vector<std::uint8_t>& bytes)
{
    std::uint64_t hash = 1469598103934665603ull;
    for (std::uint8_t b : bytes)
        hash = (hash ^ b) * 1099511628211ull;
    return hash;
}

std::string AlbumKey(const MHIT& track)
{
    std::string key = track.GetAlbum().ToStdString() + '\x1f' + track.GetArtist().ToStdString();
    for (char& c : key)
        if (c >= 'a' && c <= 'z')
            c = static_cast<char>(c - 'a' + 'A');
    return key;
}

std::uint64_t DatabaseIdOf(const MHIT& track)
{
    return track.GetField(IPodArtwork::kOffsetDatabaseId) |
           static_cast<std::uint64_t>(track.GetField(IPodArtwork::kOffsetDatabaseId + 4)) << 32;
}

bool HasArtwork(const MHIT& track) { return track.GetByte(IPodArtwork::kOffsetHasArtwork) == 1; }

std::vector<MHIT*> AllTracks(MHBD& database)
{
    std::vector<MHIT*> all;
    if (MHLT* tracks = database.GetTrackList())
        tracks->ForEachTrack([&all](MHIT& track) { all.push_back(&track); });
    return all;
}

std::string IthmbName(std::uint32_t formatId, int index)
{
    return "F" + std::to_string(formatId) + "_" + std::to_string(index) + ".ithmb";
}

std::vector<Format> ExtendedFormats(const AString& root)
{
    const AString path = IPodDB::ResolveIPodPath(root, "iPod_Control/Device/SysInfoExtended");
    std::ifstream in(path.ToStdString(), std::ios::binary);
    if (!in)
        return {};
    std::string bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    IPodIdentity::Extended extended;
    if (!IPodIdentity::ParseExtended(bytes, &extended))
        return {};
    return extended.artworkFormats;
}

} // namespace

IPodArtwork::IPodArtwork(const AString& iPodRoot, const IPodInfo& info, Log logLine)
    : root(iPodRoot), folder(IPodDB::ResolveIPodPath(iPodRoot, "iPod_Control/Artwork")),
      formats(ArtworkThumbnail::FormatsOf(info, ExtendedFormats(iPodRoot))),
      shareRecords(info.family >= IPodInfo::kFamilyClassic && info.family <= IPodInfo::kFamilyNano7),
      log(std::move(logLine))
{
}

AString IPodArtwork::PathOf(const AString& root)
{
    return IPodDB::ResolveIPodPath(root, "iPod_Control/Artwork/ArtworkDB");
}

int IPodArtwork::Load()
{
    if (loaded)
        return 0;
    const AString path = PathOf(root);
    exists = AFile::GetPathType(&path) == AFile::kPathFile;
    if (exists) {
        std::ifstream in(path.ToStdString(), std::ios::binary);
        std::vector<std::uint8_t> bytes((std::istreambuf_iterator<char>(in)),
                                        std::istreambuf_iterator<char>());
        if (!in.eof() && in.fail())
            return kErrIO;
        if (int err = db.Parse(bytes); err != 0) {
            if (log)
                log(AString("The iPod's cover database ") + path +
                    " is damaged: its covers are left as they are.");
            return err;
        }
    }
    // The space of each ithmb file that no image of the database as read uses: a slot there can be
    // written without touching any picture a stored database may show.
    std::map<std::string, std::vector<std::pair<std::uint64_t, std::uint64_t>>> used;
    for (const ArtworkDB::Image& image : db.Images())
        for (const ArtworkDB::Thumb& thumb : image.thumbs)
            used[ArtworkDB::FileKey(ArtworkDB::FileNameOf(thumb.file))].emplace_back(
                thumb.offset, std::uint64_t(thumb.offset) + thumb.size);
    for (auto& [name, intervals] : used) {
        if (name.empty())
            continue;
        std::sort(intervals.begin(), intervals.end());
        FileSpace& file = space[name];
        std::uint64_t at = 0;
        for (const auto& [start, end] : intervals) {
            if (start > at)
                file.gaps.emplace_back(at, start - at);
            at = std::max(at, end);
        }
        file.end = at;
    }
    loaded = true;
    return 0;
}

int IPodArtwork::AllocateSlot(const Format& format, std::uint64_t size, Slot& slot)
{
    for (int index = 1; index < 1000; ++index) {
        const std::string name = IthmbName(format.id, index);
        FileSpace& file = space[ArtworkDB::FileKey(name)];
        for (auto& gap : file.gaps) {
            if (gap.second >= size) {
                slot = Slot{AString::FromUTF8(name), static_cast<std::uint32_t>(gap.first)};
                gap.first += size;
                gap.second -= size;
                return 0;
            }
        }
        if (file.end + size <= kMaxIthmbBytes) {
            slot = Slot{AString::FromUTF8(name), static_cast<std::uint32_t>(file.end)};
            file.end += size;
            return 0;
        }
    }
    return kErrNoSpace;
}

bool IPodArtwork::ReadThumb(const ArtworkDB::Thumb& thumb, std::vector<std::uint8_t>& bytes) const
{
    const std::string name = ArtworkDB::FileNameOf(thumb.file);
    if (name.empty())
        return false;
    AString path = folder;
    path.AppendPathComponent(AString::FromUTF8(name));
    std::ifstream in(path.ToStdString(), std::ios::binary);
    bytes.resize(thumb.size);
    return in.seekg(thumb.offset) && in.read(reinterpret_cast<char*>(bytes.data()), thumb.size);
}

int IPodArtwork::WriteDatabase()
{
    const std::vector<std::uint8_t> bytes = db.Serialize();
    if (!AFile::DirExists(&folder))
        if (int err = AFile::CreateDir(&folder); err != 0)
            return err;
    AString path = PathOf(root);
    if (int err = AFile::WriteWholeFileSafely(&path, bytes.data(), bytes.size()); err != 0)
        return err;
    exists = true;
    stats.bytesWritten += bytes.size();
    stats.databaseWritten = true;
    return 0;
}

int IPodArtwork::Prepare(MHBD& database, const std::unordered_map<std::uint64_t, Source>& pending)
{
    if (pending.empty() || formats.empty())
        return 0;
    std::vector<MHIT*> all = AllTracks(database);
    std::vector<MHIT*> wanted;
    for (MHIT* track : all)
        if (pending.count(track->GetHandle()))
            wanted.push_back(track);
    if (wanted.empty())
        return 0;
    // In the order they were added, so the pictures lie in the ithmb files in that order.
    std::sort(wanted.begin(), wanted.end(),
              [](const MHIT* a, const MHIT* b) { return a->GetHandle() < b->GetHandle(); });
    if (int err = Load(); err != 0)
        return err;

    // The images tracks of each album show already, to share a picture that is the same.
    std::unordered_map<std::uint32_t, const ArtworkDB::Image*> byId;
    std::unordered_map<std::uint64_t, const ArtworkDB::Image*> bySong;
    for (const ArtworkDB::Image& image : db.Images()) {
        byId.emplace(image.id, &image);
        bySong.emplace(image.songId, &image);
    }
    std::unordered_map<std::string, std::vector<const ArtworkDB::Image*>> albumImages;
    std::set<std::uint64_t> databaseIds;
    for (MHIT* track : all) {
        databaseIds.insert(DatabaseIdOf(*track));
        if (!HasArtwork(*track) || pending.count(track->GetHandle()))
            continue;
        const auto linked = byId.find(track->GetField(kOffsetImageLink));
        const auto owned = bySong.find(DatabaseIdOf(*track));
        const ArtworkDB::Image* image = linked != byId.end()    ? linked->second
                                        : owned != bySong.end() ? owned->second
                                                                : nullptr;
        if (image)
            albumImages[AlbumKey(*track)].push_back(image);
    }

    struct Made {
        std::vector<ArtworkDB::Thumb> thumbs;
        std::uint32_t sourceSize = 0;
        std::uint32_t sharedId = 0; // the image record tracks share, where they do
    };
    struct Link {
        MHIT* track;
        std::size_t made;
    };
    std::vector<Made> made;
    std::vector<Link> links;
    std::map<std::pair<std::string, std::uint64_t>, std::size_t> madeByKey;
    std::map<std::string, std::vector<std::pair<std::uint32_t, std::vector<std::uint8_t>>>> writes;
    std::mt19937_64 random(std::random_device{}());
    // The image of each folder looked at (empty: none): the songs of an album share their folder.
    std::unordered_map<std::string, std::vector<std::uint8_t>> folderImages;

    for (MHIT* track : wanted) {
        const Source& from = pending.at(track->GetHandle());
        AString source = from.file;
        std::vector<std::uint8_t> picture;
        // The song's own file is read where it is still there, else its copy on the iPod. A song
        // whose file held no picture needs no look at it: its folder's image is read, once a folder.
        bool ownPicture = !source.IsEmpty() && from.embedded && SongPicture::FindEmbedded(source, picture);
        if (!ownPicture && (source.IsEmpty() || (from.embedded && !AFile::FileExists(&source)))) {
            source = AString::FromUTF8(root.ToStdString() +
                                       track->GetFilepath().ToStdString().substr(
                                           track->GetFilepath().ToStdString().rfind('/', 0) == 0 ? 1 : 0));
            ownPicture = SongPicture::FindEmbedded(source, picture);
        }
        if (!ownPicture) {
            const std::string songFolder = std::filesystem::path(source.ToStdString()).parent_path().string();
            auto image = folderImages.find(songFolder);
            if (image == folderImages.end()) {
                std::vector<std::uint8_t> bytes;
                SongPicture::ReadFolderImage(songFolder, bytes);
                image = folderImages.emplace(songFolder, std::move(bytes)).first;
            }
            picture = image->second;
        }
        if (picture.empty())
            continue;
        const auto key = std::make_pair(AlbumKey(*track), Fnv1a(picture));
        if (auto found = madeByKey.find(key); found != madeByKey.end()) {
            links.push_back(Link{track, found->second});
            continue;
        }
        std::vector<std::uint8_t> rgb;
        int width = 0, height = 0;
        if (ArtworkThumbnail::Decode(picture, rgb, width, height) != 0) {
            if (log)
                log(AString("The cover of ") + source + " cannot be read: its track has none on the iPod.");
            continue;
        }
        Made entry;
        entry.sourceSize = static_cast<std::uint32_t>(picture.size());
        std::vector<std::vector<std::uint8_t>> pixels;
        for (const Format& format : formats)
            pixels.push_back(ArtworkThumbnail::Make(rgb, width, height, format));
        // The same picture of this album on the iPod already: its pixels are shown again.
        const ArtworkDB::Image* same = nullptr;
        for (const ArtworkDB::Image* image : albumImages[key.first]) {
            if (image->thumbs.size() != formats.size())
                continue;
            bool equal = true;
            for (std::size_t f = 0; equal && f < formats.size(); ++f) {
                std::vector<std::uint8_t> stored;
                equal = image->thumbs[f].formatId == formats[f].id && ReadThumb(image->thumbs[f], stored) &&
                        stored == pixels[f];
                if (f == 0 && !equal)
                    break;
            }
            if (equal) {
                same = image;
                break;
            }
        }
        if (same) {
            entry.thumbs = same->thumbs;
            if (shareRecords)
                entry.sharedId = same->id;
        } else {
            for (std::size_t f = 0; f < formats.size(); ++f) {
                Slot slot;
                if (int err = AllocateSlot(formats[f], pixels[f].size(), slot); err != 0)
                    return err;
                ArtworkDB::Thumb thumb;
                thumb.formatId = formats[f].id;
                thumb.file = ":" + slot.file.ToStdString();
                thumb.offset = slot.offset;
                thumb.size = static_cast<std::uint32_t>(pixels[f].size());
                thumb.width = static_cast<std::uint16_t>(formats[f].width);
                thumb.height = static_cast<std::uint16_t>(formats[f].height);
                entry.thumbs.push_back(thumb);
                writes[slot.file.ToStdString()].emplace_back(slot.offset, std::move(pixels[f]));
            }
        }
        madeByKey.emplace(key, made.size());
        links.push_back(Link{track, made.size()});
        made.push_back(std::move(entry));
    }
    if (links.empty())
        return 0;

    // The pixels first, flushed: the database that names them comes after.
    if (!writes.empty() && !AFile::DirExists(&folder))
        if (int err = AFile::CreateDir(&folder); err != 0)
            return err;
    for (auto& [name, pieces] : writes) {
        AString path = folder;
        path.AppendPathComponent(AString::FromUTF8(name));
        const int fd = ::open(path.CStr(), O_WRONLY | O_CREAT | O_CLOEXEC, 0644);
        if (fd < 0) {
            AError::NoteFailure(kErrIO, "write", path, errno);
            return kErrIO;
        }
        int err = 0;
        for (const auto& [offset, bytes] : pieces) {
            if (::pwrite(fd, bytes.data(), bytes.size(), static_cast<off_t>(offset)) !=
                static_cast<ssize_t>(bytes.size())) {
                err = kErrIO;
                break;
            }
            stats.bytesWritten += bytes.size();
            ++stats.imagesWritten;
        }
        if (err == 0 && ::fsync(fd) != 0)
            err = kErrIO;
        if (err != 0)
            AError::NoteFailure(kErrIO, "write", path, errno);
        ::close(fd);
        if (err != 0)
            return err;
    }

    // The image records, every one the stored music database uses kept.
    std::vector<std::pair<MHIT*, std::uint32_t>> assigned;
    bool newRecords = false;
    std::vector<std::uint64_t> newIds(links.size(), 0);
    for (const Link& link : links) {
        std::uint64_t id = DatabaseIdOf(*link.track);
        while (id == 0 || (databaseIds.count(id) && id != DatabaseIdOf(*link.track))) {
            id = random();
            if (databaseIds.count(id))
                id = 0;
        }
        databaseIds.insert(id);
        Made& entry = made[link.made];
        std::uint32_t imageId = entry.sharedId;
        if (imageId == 0) {
            ArtworkDB::Image image;
            image.id = db.TakeImageId();
            image.songId = id;
            image.sourceSize = entry.sourceSize;
            image.thumbs = entry.thumbs;
            db.Images().push_back(std::move(image));
            imageId = db.Images().back().id;
            newRecords = true;
            if (shareRecords)
                entry.sharedId = imageId;
        }
        assigned.emplace_back(link.track, imageId);
        newIds[static_cast<std::size_t>(&link - links.data())] = id;
    }
    std::vector<ArtworkDB::Format> listed = db.Formats();
    for (const Format& format : formats)
        if (std::none_of(listed.begin(), listed.end(),
                         [&](const ArtworkDB::Format& f) { return f.id == format.id; }))
            listed.push_back(ArtworkDB::Format{format.id, format.ImageSize()});
    newRecords = newRecords || listed.size() != db.Formats().size();
    db.SetFormats(std::move(listed));
    // Tracks that only link to images stored already need no new cover database.
    if (newRecords)
        if (int err = WriteDatabase(); err != 0)
            return err;

    // Only now that the images are stored do the tracks point at them.
    for (std::size_t i = 0; i < assigned.size(); ++i) {
        MHIT* track = assigned[i].first;
        track->EnsureHeaderLength(kTrackHeaderLength);
        track->SetField(kOffsetDatabaseId, static_cast<std::uint32_t>(newIds[i]));
        track->SetField(kOffsetDatabaseId + 4, static_cast<std::uint32_t>(newIds[i] >> 32));
        const std::uint32_t count = track->GetField(kOffsetArtworkCount) & 0xFFFF0000u;
        track->SetField(kOffsetArtworkCount, count | 1);
        track->SetField(kOffsetArtworkSize, made[links[i].made].sourceSize);
        track->SetByte(kOffsetHasArtwork, 1);
        track->SetField(kOffsetImageLink, assigned[i].second);
        ++stats.tracksLinked;
    }
    return 0;
}

int IPodArtwork::Finish(MHBD& database)
{
    const AString path = PathOf(root);
    if (!loaded && AFile::GetPathType(&path) != AFile::kPathFile)
        return 0;
    if (int err = Load(); err != 0)
        return err;
    std::set<std::uint32_t> links;
    std::set<std::uint64_t> songs;
    // An image stays while any track could be showing it, whatever its has-artwork flag says: by
    // its image link or by its database id.
    for (MHIT* track : AllTracks(database)) {
        if (const std::uint32_t link = track->GetField(kOffsetImageLink); link != 0)
            links.insert(link);
        songs.insert(DatabaseIdOf(*track));
    }
    std::vector<ArtworkDB::Image>& images = db.Images();
    const std::size_t before = images.size();
    images.erase(std::remove_if(images.begin(), images.end(),
                                [&](const ArtworkDB::Image& image) {
                                    return !links.count(image.id) && !songs.count(image.songId);
                                }),
                 images.end());
    if (images.size() != before) {
        if (int err = WriteDatabase(); err != 0)
            return err;
    }
    return IPodRecovery::TidyArtwork(root, db, log);
}
