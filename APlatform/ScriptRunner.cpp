#include "APlatform/ScriptRunner.h"

#include <atomic>

namespace platform {
namespace {

std::atomic<ScriptRunner*> gRunner{nullptr};

} // namespace

void SetScriptRunner(ScriptRunner* runner) { gRunner.store(runner); }

ScriptRunner* GetScriptRunner() { return gRunner.load(); }

} // namespace platform
