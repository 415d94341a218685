#pragma once
// ScriptRunner: runs the text of a script and gives back its reply. What runs it is the front end's
// choice: the application installs the embedded music library's interpreter as the process's
// runner, tests may install their own. A runner may be called from several threads; it runs one
// script at a time and makes a second caller wait.

#include "APlatform/ScriptDescriptor.h"

#include <optional>
#include <string>
#include <string_view>

namespace platform {

class ScriptRunner {
public:
    virtual ~ScriptRunner() = default;
    // The reply of the script, or no descriptor when the script failed (it does not parse, names
    // what does not exist, or cannot be carried out); a failed script changes nothing. With
    // `error`, the reason of a failure is stored there in words.
    virtual std::optional<ScriptDescriptor> Run(std::string_view source, std::string* error) = 0;
};

// The process's runner; null until a front end installs one (once, at start-up).
void SetScriptRunner(ScriptRunner* runner);
ScriptRunner* GetScriptRunner();

} // namespace platform
