#pragma once
// CopyAhead: the files a run is about to copy onto a volume, copied ahead by a thread of their own
// into temporary files on it while the run is busy with the files before them (their tags, the
// journal, the database). The run's copy of such a file (AFile::CopyWithProgress of a file it has
// open, unflushed) then only renames the finished temporary file into place.
//
// A copy ahead is taken only when it is the file the run opened, unchanged since (the same file,
// size, modification and change times as when the thread read it and as when the run opened it).
// Anything else (a file changed or replaced meanwhile, a copy that failed, the volume short of
// room, a file copied out of turn) makes the run copy the file itself, as it would without this,
// with the same checks and messages. A copy ahead is an ordinary temporary file of this program
// (".NAME.pelorin-PID-N.tmp"): the files not taken are removed when the run's copying ends, and a
// run that is killed leaves them to the next run's recovery, as it would a copy cut short.
//
// The copying starts at the first file the run copies itself: the copies ahead go into the folder
// above the one that copy went into (an iPod's music folder, holding its F00...F49 folders).

#include "ACommon/base/AFile.h"

#include <memory>
#include <vector>

class CopyAhead {
public:
    // Copies ahead the files `sources` (in the order the run copies them) for as long as this
    // lives. Only one at a time: while another lives, this one copies nothing.
    explicit CopyAhead(const std::vector<AString>& sources);
    // Stops the copying and removes every copy ahead not taken.
    ~CopyAhead();
    CopyAhead(const CopyAhead&) = delete;
    CopyAhead& operator=(const CopyAhead&) = delete;

    // For the copy of `from`, open as `fd` and as `opened` describes it at its opening, to `to`:
    // true when a copy ahead of it was put in place (`*err` 0) or the wait for it was cancelled
    // (`*err` kErrUserCancel), false when the caller is to copy it itself.
    static bool Take(const AString& from, int fd, const struct stat& opened, const AString& to,
                     CancelProc cancel, AProgress* progress, int* err);

    // What the copying did, for tests and measurements: the copies ahead put in place, and those
    // made and then thrown away (a file changed meanwhile, copied out of turn, or never copied).
    struct Counts {
        int taken = 0;
        int discarded = 0;
    };
    static Counts LastCounts();
    // Seam for tests: with `patient`, the copy of a file the thread has not begun yet waits for it
    // rather than being made by the run, so that which copies are taken does not depend on timing.
    static void SetPatientForTesting(bool patient);

    // How far ahead the thread copies: at most this many files, and at most this many bytes beyond
    // the first file waiting to be taken.
    static constexpr int kFilesAhead = 3;
    static constexpr std::uint64_t kBytesAhead = 32ULL << 20;

    struct State;

private:
    std::shared_ptr<State> state;
};
