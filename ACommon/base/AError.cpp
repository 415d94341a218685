#include "ACommon/base/AError.h"

#include "ACommon/base/AString.h"

#include <cstring>

namespace {

struct Failure {
    int code = 0;
    AString detail;
};

thread_local Failure gLastFailure;

struct ErrorMessage {
    int code;
    const char* message;
};

constexpr ErrorMessage kMessages[] = {
    {kErrOpen, ": End of file encountered."},
    {kErrInvalidElement, ": Invalid element."},
    {kErrNotConnected, ": Not connected to service."},
    {kErrDuplicate, ": Duplicate encountered."},
    {kErrInvalidPath, ": Invalid path."},
    {kErrCOM, ": COM Error Occured."},
    {kErrInvalidPlaylist, ": Invalid PlayList."},
    {kErrAutoUpdate, ": iPod on auto-update mode."},
    {kErrVolumeNotFound, ": The drive was not found."},
    {kErrIO, ": IO error."},
    {kErrOutOfMemory, ": Out of memory."},
    {kErrNoVersion, ": No version found."},
    {kErrUnknown, ": Unknown error encountered."},
    {kErrITunesRefused, ": iTunes refused to process the request."},
    {kErrOriginalNotFound, ": Original file path in destination not found."},
    {kErrFileType, ": File type error."},
    {kErrFileNotFound, ": File not found."},
    {kErrUnableToVerify, ": Unable to verify."},
    {kErrUnableToCopy, ": Unable to copy."},
    {kErrUnableToDelete, ": Unable to delete."},
    {kErrWhichIsNewer, ": Unable to determine which file is newer during Merge/Sync."},
    {kErrDuplicateNames, ": Duplicate names."},
    {kErrEndOfFile, ": End of file encountered."},
    {kErrNotSupported, ": The request is not supported."},
    {kErrVersion, ": Version error."},
    {kErrBusy, ": Service is busy."},
    {kErrObjectNotFound, ": Object not found."},
    {kErrInconsistentSize, ": Inconsistent size."},
    {kErrAddSong, ": iTunes reported an error adding a song. Possible cause Unauthorized Music."},
    {kErrNoSpace, ": Insufficient free space or Volume Full."},
    {kErrAddToPlaylist,
     ": iTunes reported an error adding a song to a playlist. Possible cause Unauthorized Music."},
    {kErrLastSyncPlaylist, ": Failed to add item to Last Sync playlist."},
    {kErrChangedWhileCopied, ": The file changed while it was copied; left for the next run."},
    {kErrDisconnected, ": The volume was disconnected."},
    {kErrLibraryDamaged, ": The library's database is damaged."},
    {kErrLibraryReadOnly, ": The library's database cannot be written."},
    {kErrLibraryNewer, ": The library's database was made by a newer version of Pelorin."},
    {kErrUserCancel, ": User cancel activated."},
};

} // namespace

const char* AError::Message(int code)
{
    for (const ErrorMessage& entry : kMessages)
        if (entry.code == code)
            return entry.message;
    return ": Unknown error encountered.";
}

void AError::AddErrorMsg(AString* text, int code)
{
    if (!text)
        return;
    *text += Message(code);
    const AString detail = FailureDetail(code);
    if (!detail.IsEmpty()) {
        *text += " (";
        *text += detail;
        *text += ")";
    }
}

void AError::NoteFailure(int code, const char* action, const AString& path, int systemError)
{
    AString detail("cannot ");
    detail += action;
    detail += " ";
    detail += path;
    if (systemError != 0) {
        char buffer[256];
        // The GNU form: returns the text, which need not be in `buffer`.
        const char* reason = strerror_r(systemError, buffer, sizeof buffer);
        detail += ": ";
        detail += AString::FromUTF8(reason ? reason : "");
    }
    NoteFailure(code, detail);
}

void AError::NoteFailure(int code, const AString& detail)
{
    gLastFailure.code = code;
    gLastFailure.detail = detail;
}

void AError::ClearFailure()
{
    gLastFailure.code = 0;
    gLastFailure.detail = AString();
}

int AError::LastFailureCode() { return gLastFailure.code; }

AString AError::FailureDetail(int code)
{
    if (code == 0 || gLastFailure.code != code)
        return AString();
    return gLastFailure.detail;
}
