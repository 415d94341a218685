// pelorin ipods: the iPods mounted under the volumes root, with what each one is and holds.

#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "APlatform/KnownFolders.h"
#include "cli/Commands.h"
#include "cli/Terminal.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <memory>
#include <optional>
#include <sstream>
#include <string>
#include <vector>

namespace cli {

namespace {

std::string Capacity(const IPodInfo& info)
{
    if (info.capacity <= 0)
        return "-";
    char text[32];
    std::snprintf(text, sizeof text, "%g GB", info.capacity);
    return text;
}

void PrintJson(const std::vector<MountedIPod>& pods)
{
    std::ostringstream out;
    out << "[";
    for (size_t i = 0; i < pods.size(); ++i) {
        const MountedIPod& pod = pods[i];
        out << (i ? ",\n " : "\n ")
            << "{\"name\": " << (pod.databaseRead ? JsonString(pod.name.ToStdString()) : "null")
            << ", \"volume\": " << JsonString(pod.volume.ToStdString())
            << ", \"path\": " << JsonString(pod.mountPoint.ToStdString())
            << ", \"model\": " << JsonString(pod.info.model.ToStdString())
            << ", \"family\": " << pod.info.family
            << ", \"familyName\": " << JsonString(IPodInfo::FamilyName(pod.info.family))
            << ", \"capacityGB\": " << pod.info.capacity << ", \"songs\": ";
        if (pod.databaseRead)
            out << pod.songs;
        else
            out << "null";
        out << ", \"autoUpdate\": " << (pod.autoUpdate ? (*pod.autoUpdate ? "true" : "false") : "null")
            << ", \"readOnly\": " << (pod.readOnly ? "true" : "false")
            << ", \"supported\": " << (pod.signedDatabase ? "false" : "true") << "}";
    }
    out << (pods.empty() ? "]\n" : "\n]\n");
    std::cout << out.str();
}

void PrintTable(const std::vector<MountedIPod>& pods, const std::string& volumesRoot)
{
    if (pods.empty()) {
        std::cout << "No iPod is mounted under " << volumesRoot
                  << MountedIPod::WithoutDatabaseNote(AString::FromUTF8(volumesRoot)) << ".\n";
        return;
    }
    std::vector<std::vector<std::string>> rows{
        {"NAME", "VOLUME", "MODEL", "FAMILY", "CAPACITY", "SONGS", "AUTO UPDATE", "ACCESS"}};
    for (const MountedIPod& pod : pods)
        rows.push_back({pod.databaseRead ? pod.name.ToStdString() : "(unreadable database)",
                        pod.volume.ToStdString(),
                        pod.info.model.IsEmpty() ? "-" : pod.info.model.ToStdString(),
                        IPodInfo::FamilyName(pod.info.family), Capacity(pod.info),
                        pod.databaseRead ? std::to_string(pod.songs) : "?",
                        pod.autoUpdate ? (*pod.autoUpdate ? "on" : "off") : "unknown",
                        pod.signedDatabase ? "not supported"
                        : pod.readOnly     ? "read-only"
                                           : "read-write"});
    // Widths in characters of UTF-8 text (continuation bytes do not count).
    auto width = [](const std::string& text) {
        return static_cast<size_t>(
            std::count_if(text.begin(), text.end(), [](char c) { return (c & 0xC0) != 0x80; }));
    };
    std::vector<size_t> widths(rows[0].size(), 0);
    for (const auto& row : rows)
        for (size_t c = 0; c < row.size(); ++c)
            widths[c] = std::max(widths[c], width(row[c]));
    for (const auto& row : rows) {
        std::string line;
        for (size_t c = 0; c < row.size(); ++c) {
            line += row[c];
            if (c + 1 < row.size())
                line += std::string(widths[c] - width(row[c]) + 2, ' ');
        }
        std::cout << line << "\n";
    }
    for (const MountedIPod& pod : pods)
        if (pod.readOnly)
            std::cout
                << "\"" << pod.volume.ToStdString()
                << "\" is mounted read-only: its music can be listed but not changed. "
                << "An iPod formatted as journaled HFS+ must be mounted writable (or reformatted as FAT) "
                   "before Pelorin can sync it.\n";
    for (const MountedIPod& pod : pods)
        if (pod.signedDatabase)
            std::cout << "\"" << pod.volume.ToStdString()
                      << "\" is not supported: it checks its music database with a signature that Pelorin "
                         "cannot make yet, so a sync would leave it showing no songs.\n";
    for (const MountedIPod& pod : pods)
        if (!pod.databaseRead)
            std::cout << "\"" << pod.volume.ToStdString()
                      << "\" has an unreadable database: " << pod.problem.ToStdString() << "\n";
    for (const MountedIPod& pod : pods)
        if (pod.autoUpdate && *pod.autoUpdate)
            std::cout << "\"" << pod.volume.ToStdString()
                      << "\" updates itself automatically from a library; a sync turns that off.\n";
}

} // namespace

void AddIPodsCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand("ipods", "List the iPods mounted under the volumes folder");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "Print the list as JSON");
    command->callback([json, &exitStatus] {
        const std::string volumesRoot = platform::VolumesRoot();
        std::error_code unreadable;
        std::filesystem::directory_iterator(volumesRoot, unreadable);
        if (unreadable && unreadable != std::errc::no_such_file_or_directory) {
            std::fprintf(stderr, "pelorin ipods: cannot read the volumes folder %s: %s\n",
                         volumesRoot.c_str(), unreadable.message().c_str());
            exitStatus = kExitError;
            return;
        }
        std::vector<MountedIPod> pods = MountedIPod::FindAll(AString::FromUTF8(volumesRoot));
        // What the list says a database holds is what a run would find in it.
        for (MountedIPod& pod : pods)
            MountedIPod::ReadWholeDatabase(&pod);
        if (*json)
            PrintJson(pods);
        else
            PrintTable(pods, volumesRoot);
        exitStatus = kExitOk;
    });
}

} // namespace cli
