// Feeds arbitrary bytes, as the text of a script, to the library's tokenizer and parser. Bad text
// must give an error and an empty program, never a crash, a hang, deep recursion or a huge
// allocation; text that parses must parse the same way again.

#include "musiclib/ScriptParser.h"

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size)
{
    const std::string_view text(reinterpret_cast<const char*>(data), size);
    ScriptProgram program;
    std::string error;
    if (ScriptParser::Parse(text, program, error) != 0) {
        if (!program.statements.empty() || error.empty())
            std::abort();
        return 0;
    }
    ScriptProgram again;
    if (ScriptParser::Parse(text, again, error) != 0 ||
        again.statements.size() != program.statements.size() || again.changes != program.changes)
        std::abort();
    return 0;
}
