// `pelorin demo DIR`: makes, for trying Pelorin out, a demonstration volumes root holding an iPod
// with an empty database, and a folder of generated songs to sync onto it.

#include "cli/Commands.h"
#include "cli/DemoFiles.h"
#include "samples/IPodTree.h"

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace cli {
namespace {

constexpr const char* kVolume = "DEMOPOD";
constexpr const char* kModel = "MA147"; // an iPod with video, 60 GB

struct DemoOptions {
    std::string folder;
    std::string name = "Demo iPod";
};

int RunDemo(const DemoOptions& options)
{
    std::error_code error;
    std::filesystem::create_directories(options.folder, error);
    std::filesystem::path folder = std::filesystem::canonical(options.folder, error);
    if (error) {
        std::fprintf(stderr, "pelorin demo: cannot make the folder %s\n", options.folder.c_str());
        return kExitError;
    }
    const std::string volumes = (folder / "Volumes").string();
    const std::string ipod = volumes + "/" + kVolume;
    const std::string songs = (folder / "Songs").string();
    for (const std::string& made : {ipod, songs}) {
        if (std::filesystem::exists(made, error)) {
            std::fprintf(stderr, "pelorin demo: %s exists already; remove it or choose another folder\n",
                         made.c_str());
            return kExitError;
        }
    }
    samples::IPodOptions pod;
    pod.name = options.name;
    pod.modelNumStr = kModel;
    pod.firewireGuid = demo::NewFirewireGuid();
    std::string problem;
    try {
        samples::MakeIPod(volumes, kVolume, pod);
    } catch (const std::exception& failure) {
        problem = failure.what();
    }
    if (!problem.empty() || !demo::WriteSongs(songs, problem)) {
        std::fprintf(stderr, "pelorin demo: %s\n", problem.c_str());
        return kExitError;
    }
    std::cout << "Made a demonstration iPod \"" << options.name << "\" (model " << kModel << ", empty) at\n  "
              << ipod << "\nand " << demo::Catalogue().size() << " songs (MP3 and M4A) in\n  " << songs
              << "\nTry:\n"
              << "  export PELORIN_VOLUMES=" << volumes << "\n"
              << "  pelorin ipods\n"
              << "  pelorin sync --from " << songs << " --type copy-to-ipod --review\n";
    return kExitOk;
}

} // namespace

void AddDemoCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand(
        "demo", "Make a demonstration iPod and a folder of songs in DIR, for trying Pelorin out");
    command->footer(
        "DIR/Volumes/" + std::string(kVolume) +
        " is an iPod's folder tree (SysInfo, iTunesPrefs with automatic update off, an empty "
        "database, the music folders); DIR/Songs holds a few dozen small tagged songs (MP3 and M4A, "
        "silent) by several artists. Point PELORIN_VOLUMES at DIR/Volumes and sync DIR/Songs onto "
        "the iPod with `pelorin sync`. Nothing outside DIR is touched.");
    auto options = std::make_shared<DemoOptions>();
    command->add_option("DIR", options->folder, "The folder to make the demonstration in")->required();
    command->add_option("--ipod-name", options->name, "The demonstration iPod's name (default: Demo iPod)");
    command->callback([options, &exitStatus] { exitStatus = RunDemo(*options); });
}

} // namespace cli
