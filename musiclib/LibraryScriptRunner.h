#pragma once
// LibraryScriptRunner: the script runner of the platform (APlatform/ScriptRunner.h) over the
// embedded music library. The library is opened on the first script (and made when its folder holds
// none) and kept open; before the first script of each run (the first after opening or a Flush) the
// tracks whose files changed are read again; scripts run one at a time, a second caller waiting for the
// first. A script that fails gives no reply; one that ran without a value gives the empty descriptor.

#include "musiclib/MusicLibrary.h"

#include "APlatform/ScriptRunner.h"

#include <memory>
#include <mutex>
#include <string>

class LibraryScriptRunner : public platform::ScriptRunner {
public:
    // The library in `folder` (platform::LibraryFolder() when empty).
    explicit LibraryScriptRunner(std::string folder = std::string());
    ~LibraryScriptRunner() override;

    std::optional<platform::ScriptDescriptor> Run(std::string_view source, std::string* error) override;
    // Writes back what attached iPods hold unsaved. 0 or an error code.
    int Flush();

private:
    std::mutex mutex;
    std::string folder;
    std::unique_ptr<MusicLibrary> library;
    bool refreshDue = true;
};
