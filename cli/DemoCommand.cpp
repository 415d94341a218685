// `pelorin demo DIR`: makes, for trying Pelorin out, a demonstration volumes root holding an iPod
// with an empty database, a folder of generated songs, and a music library that holds those songs
// and has the iPod attached, so that the library can be synced with the iPod.

#include "cli/Commands.h"
#include "cli/DemoFiles.h"
#include "musiclib/FolderImport.h"
#include "musiclib/MusicLibrary.h"
#include "samples/IPodTree.h"

#include <cstdlib>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <iostream>
#include <memory>
#include <string>

namespace cli {
namespace {

constexpr const char* kVolume = "DEMOPOD";
// The models the demonstration can make, by the name given to --model.
struct DemoModel {
    const char* name;
    const char* modelNumStr;
    const char* description;
};
constexpr DemoModel kModels[] = {
    {"video", "MA147", "an iPod with video, 60 GB"},
    {"classic", "MC293", "an iPod classic of the 7th generation, 160 GB, whose database is signed"},
    {"nano", "MA099", "an iPod nano of the 1st generation, 2 GB"},
};

struct DemoOptions {
    std::string folder;
    std::string name = "Demo iPod";
    std::string model = "video";
};

// The demonstration's library: the songs added where they lie, the iPod attached.
bool MakeLibrary(const std::string& folder, const std::string& songs, const std::string& volumes,
                 std::string& problem)
{
    std::unique_ptr<MusicLibrary> library;
    if (MusicLibrary::Open(folder, true, library, problem) != 0)
        return false;
    FolderImport::Summary summary;
    if (FolderImport::Run(*library, songs, std::string(), nullptr, nullptr, summary, problem) != 0)
        return false;
    // The iPod is found under the demonstration's volumes folder, for this process only.
    const char* was = std::getenv("PELORIN_VOLUMES");
    const std::string previous = was ? was : "";
    setenv("PELORIN_VOLUMES", volumes.c_str(), 1);
    const int err = library->AttachIPod(kVolume, problem);
    if (was)
        setenv("PELORIN_VOLUMES", previous.c_str(), 1);
    else
        unsetenv("PELORIN_VOLUMES");
    return err == 0;
}

int RunDemo(const DemoOptions& options)
{
    const DemoModel* model = nullptr;
    for (const DemoModel& known : kModels)
        if (options.model == known.name)
            model = &known;
    if (!model) {
        std::fprintf(stderr, "pelorin demo: --model is one of video, classic, nano (not %s)\n",
                     options.model.c_str());
        return kExitUsage;
    }
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
    const std::string libraryFolder = (folder / "Library").string();
    for (const std::string& made : {ipod, songs, libraryFolder}) {
        if (std::filesystem::exists(made, error)) {
            std::fprintf(stderr, "pelorin demo: %s exists already; remove it or choose another folder\n",
                         made.c_str());
            return kExitError;
        }
    }
    samples::IPodOptions pod;
    pod.name = options.name;
    pod.modelNumStr = model->modelNumStr;
    pod.firewireGuid = demo::NewFirewireGuid();
    std::string problem;
    try {
        samples::MakeIPod(volumes, kVolume, pod);
    } catch (const std::exception& failure) {
        problem = failure.what();
    }
    if (!problem.empty() || !demo::WriteSongs(songs, problem) ||
        !MakeLibrary(libraryFolder, songs, volumes, problem)) {
        std::fprintf(stderr, "pelorin demo: %s\n", problem.c_str());
        return kExitError;
    }
    std::cout << "Made a demonstration iPod \"" << options.name << "\" (model " << model->modelNumStr << ", "
              << model->description << ", empty) at\n  " << ipod << "\n"
              << demo::Catalogue().size() << " songs (MP3 and M4A) in\n  " << songs
              << "\nand a music library holding them, with the iPod attached, in\n  " << libraryFolder
              << "\nTry:\n"
              << "  export PELORIN_VOLUMES=" << volumes << "\n"
              << "  export PELORIN_LIBRARY=" << libraryFolder << "\n"
              << "  pelorin ipods\n"
              << "  pelorin sync --type copy-to-ipod --review\n";
    return kExitOk;
}

} // namespace

void AddDemoCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand(
        "demo",
        "Make a demonstration iPod, a folder of songs and a music library in DIR, for trying Pelorin out");
    command->footer(
        "DIR/Volumes/" + std::string(kVolume) +
        " is an iPod's folder tree (SysInfo, iTunesPrefs with automatic update off, an empty "
        "database, the music folders); DIR/Songs holds a few dozen small tagged songs (MP3 and M4A, "
        "silent) by several artists; DIR/Library is a music library holding those songs (where they lie) "
        "with the iPod attached to it. Point PELORIN_VOLUMES at DIR/Volumes and PELORIN_LIBRARY at "
        "DIR/Library, and sync the library with the iPod with `pelorin sync` (or DIR/Songs with "
        "`pelorin sync --from`). Nothing outside DIR is touched.");
    auto options = std::make_shared<DemoOptions>();
    command->add_option("DIR", options->folder, "The folder to make the demonstration in")->required();
    command->add_option("--ipod-name", options->name, "The demonstration iPod's name (default: Demo iPod)");
    command->add_option("--model", options->model,
                        "The kind of iPod to make: video (default), classic (its database signed with its "
                        "FireWire GUID) or nano");
    command->callback([options, &exitStatus] { exitStatus = RunDemo(*options); });
}

} // namespace cli
