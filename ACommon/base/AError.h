#pragma once
// Error codes of the whole system and their messages. Every fallible operation returns an int:
// 0 for success, one of these codes otherwise. Each message begins with ": " so that it reads after
// a code or a file name.

class AString;

enum : int {
    kNoErr = 0,
    kErrOpen = -1, // a file that cannot be opened; reads ": End of file encountered."
    kErrInvalidElement = -2,
    kErrNotConnected = -3,
    kErrDuplicate = -4,
    kErrInvalidPath = -5,
    kErrCOM = -6,
    kErrInvalidPlaylist = -7,
    kErrAutoUpdate = -8,
    kErrVolumeNotFound = -9, // a side's drive is not there (a music folder whose parent is missing)
    kErrIO = -36,
    kErrOutOfMemory = -108,
    kErrNoVersion = -8546,
    kErrUnknown = -10000, // general failure of a platform call, a format error or a refusal
    kErrITunesRefused = -10001,
    kErrOriginalNotFound = -10003,
    kErrFileType = -11159,
    kErrFileNotFound = -11160,
    kErrUnableToVerify = -11161,
    kErrUnableToCopy = -11162,
    kErrUnableToDelete = -11163,
    kErrWhichIsNewer = -11164,
    kErrDuplicateNames = -11165,
    kErrEndOfFile = -11166,
    kErrNotSupported = -11167,
    kErrAttributes = -121798,   // not in the message table
    kErrArtworkCount = -121797, // not in the message table: a song's artwork could not be counted
    kErrVersion = -102389,
    kErrBusy = -102390,
    kErrObjectNotFound = -102391,
    kErrInconsistentSize = -102392,
    kErrAddSong = -102393, // also: a stored string longer than 2048 bytes
    kErrNoSpace = -102394,
    kErrAddToPlaylist = -102395,
    kErrLastSyncPlaylist = -102396,
    kErrChangedWhileCopied = -102397, // the file was written to while it was being copied
    kErrDisconnected = -102398,       // a side's volume went away during the run
    kErrLibraryDamaged = -102399,     // the music library's database file is not a readable database
    kErrLibraryReadOnly = -102400,    // the music library's database file cannot be written
    kErrLibraryNewer = -102401,       // the music library's database was made by a newer version
    kErrUserCancel = 123456,
};

class AError {
public:
    // The message of `code` (": Unknown error encountered." for codes not in the table).
    static const char* Message(int code);
    // Appends the message of `code` to `text`, and the detail noted for it (below) in brackets.
    static void AddErrorMsg(AString* text, int code);

    // The codes say what kind of thing failed; the detail says which file and why. Where a file
    // operation fails, AFile notes the system's reason and the path with the code it returns, per
    // thread; whoever reports that code appends the detail: "-36: IO error. (cannot write
    // /media/u/IPOD/iPod_Control/iTunes/iTunesDB: No space left on device)". A detail is only
    // given for the code it was noted with, so a later failure of another kind never shows it.
    static void NoteFailure(int code, const char* action, const AString& path, int systemError);
    // The same with the detail as a whole text ("the database ... has no track list").
    static void NoteFailure(int code, const AString& detail);
    static void ClearFailure();
    // The code of the last failure noted on this thread, 0 when none was (or it was cleared).
    static int LastFailureCode();
    // "cannot ACTION PATH: REASON" (or the whole text noted) for `code`; empty when the last
    // failure noted on this thread was of another code, or none was.
    static AString FailureDetail(int code);
};
