#include "musiclib/LibraryScriptRunner.h"

#include "ACommon/base/AError.h"
#include "APlatform/KnownFolders.h"

#include <exception>

LibraryScriptRunner::LibraryScriptRunner(std::string folder) : folder(std::move(folder)) {}

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
    return library ? library->Flush(nullptr) : 0;
}
