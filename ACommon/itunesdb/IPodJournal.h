#pragma once
// IPodJournal: the iPod's own record of the song files a run has put into its music folders, or is
// about to take out of them, that no stored database accounts for yet. A run writes an entry before
// it copies a song onto the iPod (or drops a song whose file goes once the database is stored), and
// empties the journal when a store has accounted for everything; the next run reads what a run that
// was killed or failed left behind (ADirPodDB takes complete files in and removes the rest).
//
// A song's entry is written (unflushed) as pending before its file is copied (unflushed too). For a
// batch of songs at once (Copied, Settle), and always before a store lists them, the volume is
// flushed and then the journal written once without the batch's pending marks: a song is named as
// complete only once its bytes are on the disk, and neither recovery nor a store trusts any other.
//
// It lives beside the database, iPod_Control/iTunes/PelorinJournal. A new entry is written at the
// file's end (a write that fails is cut away again; a file left cut short is read up to the cut),
// through the file kept open from one new entry to the next until the journal settles or the file
// is replaced; every other change replaces the file safely (a temporary file, flushed, renamed over
// it).
//   "PLJ1", then entries to the end of the file: kind (1 byte: 1 added, 2 removed), flags (1 byte:
//   bit 0 the removed file is moved to "Removed Files" rather than deleted, bit 1 the added file's
//   copy is not known to be on the disk yet, so it is not taken in), file size (8 bytes,
//   little-endian), then five strings, each a 32-bit little-endian byte count and UTF-8 text: the
//   file's location below the iPod's root ("/iPod_Control/Music/F01/ABCD.mp3"), and the genre,
//   artist, album and name the song was entered with.
//   A store that folds the iPod's play count file into the database leaves one more entry while it
//   works, of kind 3: flags 0, the "size" the checksum (CRC-32) of the play count file in its low and
//   of the database written with its counts in its high 32 bits, the location
//   "/iPod_Control/iTunes/Play Counts" and four empty strings. While the play count file and the
//   database on the iPod are still those two, the counts are in the database already: a run was
//   stopped after the store and before the file was set aside, and the file is not counted again.

#include "ACommon/base/AString.h"

#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <vector>

class ByteWriter;

class IPodJournal {
public:
    enum class Kind : std::uint8_t { kAdded = 1, kRemoved = 2 };
    struct Entry {
        Kind kind = Kind::kAdded;
        bool move = false;
        std::uint64_t size = 0;
        AString location;
        AString genre, artist, album, name;
        bool pending = false; // an added file whose copy is not known to be on the disk
    };

    // The mark of a store that folds the play count file into the database (see above).
    struct PlaysMark {
        std::uint32_t playCountsCrc = 0;
        std::uint32_t databaseCrc = 0;
        bool operator==(const PlaysMark&) const = default;
    };

    static constexpr const char* kFileName = "PelorinJournal";
    // A batch of copies flushed at once: this many songs or this many bytes, whichever comes first.
    // Each flush waits for the whole volume; a run that stops copies at most one batch again. The
    // bytes are the least a store on the way waits for (IPodStoreCadence), so a run whose songs take
    // less than a minute flushes once, before its store.
    static constexpr int kBatchSongs = 2048;
    static constexpr std::uint64_t kBatchBytes = 256u << 20;

    // The journal of the iPod mounted at `root` (ending in "/") that the writers in this process
    // which reach the iPod through the music library share: its iPod source names the songs it
    // copies, the sync's side the files of the songs it removes. One object, so that no writer's
    // entries are written over by another's. Read from the iPod when first asked for.
    static IPodJournal& Shared(const AString& root);

    IPodJournal() = default;
    ~IPodJournal();
    IPodJournal(const IPodJournal&) = delete;
    IPodJournal& operator=(const IPodJournal&) = delete;

    // The journal's path on the iPod mounted at `root`.
    static AString PathOf(const AString& root);
    // The entries of a journal file's bytes: 0, or kErrUnknown for damaged bytes, of which the entries
    // before the damage are given.
    // given. The plays mark, when the file holds one, goes to `mark` (when given).
    static int Parse(std::span<const std::uint8_t> bytes, std::vector<Entry>& parsed,
                     std::optional<PlaysMark>* mark = nullptr);
    // The bytes of a journal file holding `toWrite` and `mark`.
    static std::vector<std::uint8_t> Serialize(const std::vector<Entry>& toWrite,
                                               const std::optional<PlaysMark>& mark = std::nullopt);
    // The plays mark of the journal on the iPod at `root`, read from the file; none when it has none
    // or cannot be read.
    static std::optional<PlaysMark> ReadPlaysMark(const AString& root);

    // Reads the journal of the iPod at `root` (no file: an empty journal). 0, or kErrUnknown for a
    // damaged file, of which the entries before the damage are kept.
    int Read(const AString& root);
    // Appends `entry` (an added file's as pending) and writes it at the journal's end, unflushed; on
    // failure the entry is not kept and the file on the iPod holds the entries kept (or is written
    // whole by the next change where it could not be cut back).
    int Add(const Entry& entry);
    // Notes an unflushed copy of `bytes` made onto the iPod, and settles once a batch is full.
    int Copied(std::uint64_t bytes);
    // Flushes the iPod's volume when anything was written unflushed since the last time (the
    // journal and every copy made since), then writes the journal with no entry pending, unflushed:
    // lost to a power cut, that write leaves the batch pending, to be copied again, never a copy
    // named complete that is not. Every store of the database comes after one.
    int Settle();
    bool Unsettled() const { return unsettled; }
    // Drops the last entry from the entries held, not from the file: for a copy that failed, whose
    // file name a later song may take (the file is written whole again before that song is copied).
    void ForgetLast()
    {
        if (!entries.empty())
            entries.pop_back();
        onDiskKnown = false;
        CloseFile();
    }
    // Lets go of the journal's file, kept open for new entries (a run that ends, or gives up its
    // changes, keeps nothing open on the iPod).
    void CloseFile();
    // Drops the entry of `kind` for `location` and writes the journal (nothing to drop: 0).
    int Remove(Kind kind, const AString& location);
    // Replaces the entries and writes the journal; an empty journal removes the file.
    int Set(std::vector<Entry> newEntries);
    const std::vector<Entry>& Entries() const { return entries; }
    // Sets the plays mark of a store and writes the journal flushed, before that store writes the
    // database; every other change of the journal keeps it.
    int MarkPlays(const PlaysMark& mark);
    // Drops the plays mark (none held: 0) once the play count file is set aside.
    int ClearPlays();
    const std::optional<PlaysMark>& Plays() const { return plays; }
    // The root of the iPod the journal was read from; empty before the first Read.
    const AString& Root() const { return root; }
    bool IsEmpty() const { return entries.empty(); }

private:
    static void SerializeEntry(const Entry& entry, ByteWriter& out);
    int Write(const std::vector<Entry>& toWrite, bool flush);
    // The journal's path on the iPod the journal was read from, found once.
    const AString& FilePath();
    // Writes `size` bytes at the end of the file, which holds `onDisk` bytes: see the .cpp file.
    int Append(const std::uint8_t* data, std::size_t size);

    AString root;
    AString filePath, filePathRoot;
    int appendFd = -1; // the file, open for the next entry; -1 when not open
    std::vector<Entry> entries;
    std::optional<PlaysMark> plays;
    // The file holds exactly the entries held, in onDisk bytes (0: there is no file).
    bool onDiskKnown = false;
    std::uint64_t onDisk = 0;
    bool unsettled = false;
    int settleError = 0;
    int batchSongs = 0;
    std::uint64_t batchBytes = 0;
};
