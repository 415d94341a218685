#include "ACommon/base/CopyAhead.h"

#include "ACommon/base/AError.h"
#include "ACommon/base/AProgress.h"
#include "APlatform/FileSystem.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <fcntl.h>
#include <mutex>
#include <new>
#include <string>
#include <system_error>
#include <thread>
#include <unistd.h>
#include <unordered_map>

struct CopyAhead::State {
    enum class Step { kWaiting, kCopying, kReady, kFailed, kDone };
    struct Item {
        std::string source;
        std::string temporary; // the copy, while kReady
        struct stat read {};   // the file as the copy read it
        std::uint64_t bytes = 0;
        Step step = Step::kWaiting;
    };

    std::mutex guard;
    std::condition_variable changed;
    std::vector<Item> items;
    std::unordered_map<std::string, std::vector<std::size_t>> indexesOf;
    std::string folder;           // where the copies go; empty until the run's first copy of a listed file
    std::size_t next = 0;         // the first item the thread has not started
    std::size_t taken = 0;        // the items before this one are past: taken, copied by the run or skipped
    std::uint64_t bytesAhead = 0; // of the items copied and not yet past
    bool stopping = false;
    std::thread worker;
    Counts counts;

    // The first item from `taken` on that copies `source`, or items.size().
    std::size_t Find(const std::string& source) const
    {
        const auto found = indexesOf.find(source);
        if (found == indexesOf.end())
            return items.size();
        for (std::size_t index : found->second)
            if (index >= taken)
                return index;
        return items.size();
    }

    // Lets the items before `end` go: their copies, made for nothing, are removed. Under `guard`.
    void PassUpTo(std::size_t end)
    {
        for (; taken < end && taken < items.size(); ++taken) {
            Item& item = items[taken];
            if (item.step == Step::kReady) {
                unlink(item.temporary.c_str());
                bytesAhead -= item.bytes;
                ++counts.discarded;
            }
            if (item.step != Step::kCopying)
                item.step = Step::kDone;
        }
        changed.notify_all();
    }

    void Run();
};

namespace {

std::mutex gActiveGuard;
std::shared_ptr<CopyAhead::State> gActive;
CopyAhead::Counts gLastCounts;
std::atomic<bool> gStopping{false};
std::atomic<bool> gPatient{false};

signed char Stopping() { return gStopping.load() ? 1 : 0; }

bool SameFile(const struct stat& a, const struct stat& b)
{
    return a.st_dev == b.st_dev && a.st_ino == b.st_ino && a.st_size == b.st_size &&
           a.st_mtim.tv_sec == b.st_mtim.tv_sec && a.st_mtim.tv_nsec == b.st_mtim.tv_nsec &&
           a.st_ctim.tv_sec == b.st_ctim.tv_sec && a.st_ctim.tv_nsec == b.st_ctim.tv_nsec;
}

std::string ParentOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
}

} // namespace

void CopyAhead::State::Run()
{
    std::unique_lock<std::mutex> hold(guard);
    for (;;) {
        changed.wait(hold, [this] {
            if (stopping)
                return true;
            // Past the files gone by and those the run copies itself.
            for (next = std::max(next, taken); next < items.size() && items[next].step != Step::kWaiting;)
                ++next;
            // Always the next file to be taken; beyond it, a few files and a few megabytes.
            return next < items.size() &&
                   (next == taken || (next < taken + kFilesAhead && bytesAhead < kBytesAhead));
        });
        if (stopping)
            return;
        const std::size_t index = next++;
        Item& item = items[index];
        item.step = Step::kCopying;
        const std::string source = item.source;
        const std::string beside = folder + "/song";
        hold.unlock();

        // Not blocking: a pipe is no file to copy, and its open must not wait for a writer.
        struct stat info {};
        AString temporary;
        int err = kErrUnableToCopy;
        const int fd = open(source.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd >= 0) {
            // A volume short of room gets only the copies the run makes itself, each measured exactly.
            if (fstat(fd, &info) == 0 && S_ISREG(info.st_mode) &&
                platform::RoomToSpare(folder, static_cast<std::uint64_t>(info.st_size))) {
                const AString from = AString::FromUTF8(source), near = AString::FromUTF8(beside);
                err = AFile::CopyToTemporary(&from, fd, info, &near, Stopping, &temporary);
            }
            close(fd);
        }

        hold.lock();
        // An item the run has gone past while it was copied is thrown away.
        if (err == 0 && index >= taken) {
            item.step = Step::kReady;
            item.temporary = temporary.ToStdString();
            item.read = info;
            item.bytes = static_cast<std::uint64_t>(info.st_size);
            bytesAhead += item.bytes;
        } else {
            if (err == 0) { // let go while it was copied
                unlink(temporary.CStr());
                ++counts.discarded;
            }
            item.step = index < taken ? Step::kDone : Step::kFailed;
        }
        changed.notify_all();
    }
}

CopyAhead::CopyAhead(const std::vector<AString>& sources)
{
    std::lock_guard<std::mutex> hold(gActiveGuard);
    if (gActive || sources.empty())
        return;
    try {
        auto made = std::make_shared<State>();
        made->items.reserve(sources.size());
        for (const AString& source : sources) {
            State::Item item;
            item.source = source.ToStdString();
            made->indexesOf[item.source].push_back(made->items.size());
            made->items.push_back(std::move(item));
        }
        state = std::move(made);
    } catch (const std::bad_alloc&) {
        return; // nothing is copied ahead: the run copies every file itself
    }
    gStopping = false;
    gActive = state;
}

CopyAhead::~CopyAhead()
{
    if (!state)
        return;
    {
        std::lock_guard<std::mutex> hold(gActiveGuard);
        gActive.reset();
    }
    {
        std::lock_guard<std::mutex> hold(state->guard);
        state->stopping = true;
        gStopping = true;
        state->changed.notify_all();
    }
    if (state->worker.joinable())
        state->worker.join();
    Counts counts;
    {
        std::lock_guard<std::mutex> hold(state->guard);
        state->PassUpTo(state->items.size());
        counts = state->counts;
    }
    std::lock_guard<std::mutex> hold(gActiveGuard);
    gLastCounts = counts;
}

void CopyAhead::SetPatientForTesting(bool patient) { gPatient = patient; }

CopyAhead::Counts CopyAhead::LastCounts()
{
    std::lock_guard<std::mutex> hold(gActiveGuard);
    if (gActive) {
        std::lock_guard<std::mutex> inner(gActive->guard);
        return gActive->counts;
    }
    return gLastCounts;
}

bool CopyAhead::Take(const AString& from, int fd, const struct stat& opened, const AString& to,
                     CancelProc cancel, AProgress* progress, int* err)
{
    std::shared_ptr<State> state;
    {
        std::lock_guard<std::mutex> hold(gActiveGuard);
        state = gActive;
    }
    if (!state)
        return false;
    const std::string source = from.ToStdString(), destination = to.ToStdString();
    std::unique_lock<std::mutex> hold(state->guard);
    const std::size_t index = state->Find(source);
    if (index >= state->items.size())
        return false;
    // The run's first copy shows where the files go: the copying starts with the file after it.
    if (state->folder.empty()) {
        state->folder = ParentOf(ParentOf(destination));
        if (state->folder.empty() || state->stopping)
            return false;
        state->PassUpTo(index + 1);
        try {
            state->worker = std::thread([state] { state->Run(); });
        } catch (const std::system_error&) {
            state->stopping = true; // no thread: every file is copied by the run
        }
        return false;
    }
    // The files before this one were not copied by the run (already there, or out of turn): their
    // copies ahead go. So does this one's when the thread has not begun it: the run copies it.
    state->PassUpTo(index);
    State::Item& item = state->items[index];
    if (gPatient && item.step == State::Step::kWaiting && !state->stopping)
        state->changed.wait(hold, [&item] { return item.step != State::Step::kWaiting; });
    const bool large = opened.st_size >= static_cast<off_t>(AFile::kLargeFileSize);
    if (item.step == State::Step::kCopying) {
        // The run is quicker than the thread: rather than wait again, it copies the next file itself
        // while the thread goes on with the one after.
        if (index + 1 < state->items.size() && state->items[index + 1].step == State::Step::kWaiting &&
            !gPatient)
            state->items[index + 1].step = State::Step::kDone;
        while (item.step == State::Step::kCopying) {
            state->changed.wait_for(hold, std::chrono::milliseconds(50));
            if (large && cancel && item.step == State::Step::kCopying) {
                hold.unlock();
                const bool cancelled = cancel() != 0;
                hold.lock();
                if (cancelled) {
                    state->PassUpTo(index + 1);
                    *err = kErrUserCancel;
                    return true;
                }
            }
        }
    }
    const bool ready = item.step == State::Step::kReady;
    const std::string temporary = item.temporary;
    const struct stat read = item.read;
    if (ready) {
        state->bytesAhead -= item.bytes;
        item.step = State::Step::kDone; // the thread is past it: nothing else touches the copy
    }
    state->PassUpTo(index + 1);
    if (!ready)
        return false;
    hold.unlock();

    // The copy is the file the run opened only when the file as the thread found it before copying
    // it, as the run opened it and as it is now, after the copy was made, are one and the same:
    // nothing changed it while it was read or since. And it goes only onto the volume it was made on.
    struct stat now {};
    const bool same = fstat(fd, &now) == 0 && SameFile(read, opened) && SameFile(now, opened) &&
                      ParentOf(ParentOf(destination)) == state->folder;
    // A large file's copy heeds a cancel as the run's own copy would, before its first chunk.
    const bool cancelled = same && large && cancel && cancel() != 0;
    if (same && !cancelled && rename(temporary.c_str(), destination.c_str()) == 0) {
        if (progress && large)
            progress->UpdateDivision(1.0, nullptr, nullptr, nullptr, 0);
        hold.lock();
        ++state->counts.taken;
        *err = 0;
        return true;
    }
    unlink(temporary.c_str());
    hold.lock();
    ++state->counts.discarded;
    if (cancelled)
        *err = kErrUserCancel;
    return cancelled;
}
