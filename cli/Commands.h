#pragma once
// The subcommands of `pelorin`. Each adds itself to the application; its callback runs the command
// and records the exit status in `exitStatus`.

#include <CLI/CLI.hpp>

namespace cli {

// Exit statuses of every command.
enum ExitStatus : int {
    kExitOk = 0,
    kExitError = 1,
    kExitUsage = 2,
    kExitCancelled = 130,
};

// pelorin folders LEFT RIGHT --type TYPE ...: one sync run between two plain folders.
void AddFoldersCommand(CLI::App& app, int& exitStatus);
// pelorin scan duplicates FOLDER ...: the duplicate scan over a folder of songs (cli/ScanCommand.cpp).
void AddScanCommand(CLI::App& app, int& exitStatus);
// pelorin tags FILE...: what Pelorin reads from each music file (cli/TagsCommand.cpp).
void AddTagsCommand(CLI::App& app, int& exitStatus);
// pelorin ipods [--json]: the mounted iPods (name, volume, model, family, capacity, songs,
// automatic update, read-only volumes).
void AddIPodsCommand(CLI::App& app, int& exitStatus);

// pelorin eject [NAME]: unmounts the iPod NAME (the only one mounted when left out) and powers it
// off; refused while a sync changes it (cli/EjectCommand.cpp).
void AddEjectCommand(CLI::App& app, int& exitStatus);
int EjectIPod(const std::string& wanted);

// pelorin sync [--playlist NAME | --from FOLDER] [--ipod NAME] --type TYPE ...: one song sync run
// between the music library (or one of its playlists), or a folder of songs, and a mounted iPod:
// through the library for an iPod attached to it, else through the iPod's own database.
void AddSyncCommand(CLI::App& app, int& exitStatus);
// pelorin demo DIR: a demonstration iPod and a folder of songs, for trying Pelorin out.
void AddDemoCommand(CLI::App& app, int& exitStatus);
// pelorin library init|info|tracks|playlists|playlist|add|import|account|attach-ipod|detach-ipod|script:
// the embedded music library (cli/LibraryCommand.cpp).
void AddLibraryCommand(CLI::App& app, int& exitStatus);

// pelorin tool NAME --side SIDE, pelorin add --to SIDE PATH..., pelorin settings show|set|add|remove:
// the library tools and an iPod's saved settings (cli/ToolCommand.cpp).
void AddToolCommands(CLI::App& app, int& exitStatus);

} // namespace cli
