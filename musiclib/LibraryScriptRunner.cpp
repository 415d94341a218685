#include "musiclib/LibraryScriptRunner.h"

#include "ACommon/base/AError.h"
#include "APlatform/KnownFolders.h"

#include <exception>

LibraryScriptRunner::LibraryScriptRunner(std::string libraryFolder) : folder(std::move(libraryFolder)) {}

LibraryScriptRunner::~LibraryScriptRunner() = default;

std::optional<platform::ScriptDescriptor> LibraryScriptRunner::Run(std::string_view source,
                                                                   std::string* error)
{
    std::lock_guard<std::mutex> guard(mutex);
    std::string why;
    try {
        if (!library) {
            const std::string where = folder.empty() ? platform::LibraryFolder() : folder;
            if (int err = MusicLibrary::Open(where, true, library, why); err != 0) {
                AError::NoteFailure(err, AString::FromUTF8(why));
                if (error)
                    *error = why;
                return std::nullopt;
            }
        }
        // Files retagged since the library last read them are read again before a run's first script
        // (the opening of the library, or the first script after a run flushed its changes), so
        // that a sync matches songs by the tags their files hold now.
        if (refreshDue) {
            refreshDue = false;
            int refreshed = 0;
            library->Library().RefreshChanged(std::string(), refreshed);
        }
        ScriptValue result;
        if (library->RunScript(source, result, why) != 0) {
            if (error)
                *error = why;
            return std::nullopt;
        }
        return std::move(result).ToDescriptor();
    } catch (const std::exception& failure) {
        if (error)
            *error = failure.what();
        return std::nullopt;
    }
}

int LibraryScriptRunner::Flush()
{
    std::lock_guard<std::mutex> guard(mutex);
    refreshDue = true;
    return library ? library->Flush(nullptr) : 0;
}
