// pelorin: the command-line front end.

#include "cli/Commands.h"

#include "musiclib/LibraryScriptRunner.h"

#include <iostream>

int main(int argc, char** argv)
{
    CLI::App app{"Pelorin keeps the music on a classic iPod and the music in your library in step, and "
                 "cleans up both.",
                 "pelorin"};
    app.require_subcommand(1);
    // PELORIN_VERSION is the project's version, set in CMakeLists.txt.
    app.set_version_flag("--version", "pelorin " PELORIN_VERSION);
    // Scripts go to the embedded music library, opened when the first one runs.
    LibraryScriptRunner scripts;
    platform::SetScriptRunner(&scripts);
    int exitStatus = cli::kExitOk;
    cli::AddFoldersCommand(app, exitStatus);
    cli::AddScanCommand(app, exitStatus);
    cli::AddTagsCommand(app, exitStatus);
    cli::AddIPodsCommand(app, exitStatus);
    cli::AddEjectCommand(app, exitStatus);
    cli::AddSyncCommand(app, exitStatus);
    cli::AddDemoCommand(app, exitStatus);
    cli::AddLibraryCommand(app, exitStatus);
    cli::AddToolCommands(app, exitStatus);
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        int status = app.exit(error);
        return status == 0 ? 0 : cli::kExitUsage;
    }
    return exitStatus;
}
