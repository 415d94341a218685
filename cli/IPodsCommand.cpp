// pelorin ipods: the iPods mounted under the volumes root, with what each one is and holds.

#include "ACommon/base/AError.h"
#include "ACommon/base/AString.h"
#include "ACommon/itunesdb/IPodIdentity.h"
#include "ACommon/itunesdb/IPodInfo.h"
#include "ACommon/itunesdb/MountedIPod.h"
#include "ACommon/sync/SyncSpace.h"
#include "ACommon/sync/SyncTally.h"
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

std::string Json(const AString& text) { return JsonString(text.ToStdString()); }

// "iPod classic, 7th generation", or the family alone where the generation is not known.
std::string FamilyAndGeneration(const IPodInfo& info)
{
    std::string text = IPodInfo::FamilyName(info.family);
    if (!info.generation.IsEmpty())
        text += ", " + info.generation.ToStdString();
    return text;
}

std::string From(const AString& source)
{
    return source.IsEmpty() ? std::string() : " (from " + source.ToStdString() + ")";
}

// The used and free space of the iPod's volume as the table shows it; "?" when unknown.
std::string SpaceColumn(const SyncSpace::Volume& volume, bool used)
{
    if (!volume.known)
        return "?";
    return SyncTally::FormatSize(used ? volume.used : volume.free).ToStdString();
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
        auto source = [](const AString& from) { return from.IsEmpty() ? std::string("null") : Json(from); };
        const SyncSpace::Volume space = SyncSpace::Measure(pod.mountPoint);
        auto bytes = [&space](std::uint64_t value) { return space.known ? std::to_string(value) : "null"; };
        out << ", \"totalBytes\": " << bytes(space.total) << ", \"usedBytes\": " << bytes(space.used)
            << ", \"freeBytes\": " << bytes(space.free);
        out << ", \"autoUpdate\": " << (pod.autoUpdate ? (*pod.autoUpdate ? "true" : "false") : "null")
            << ", \"readOnly\": " << (pod.readOnly ? "true" : "false")
            << ", \"generation\": " << Json(pod.info.generation)
            << ", \"firewireGuid\": " << Json(pod.info.firewireGuid)
            << ", \"signing\": " << JsonString(IPodInfo::SchemeName(pod.info.scheme))
            << ", \"sources\": {\"model\": " << source(pod.info.modelSource)
            << ", \"firewireGuid\": " << source(pod.info.guidSource)
            << ", \"signing\": " << source(pod.info.schemeSource) << "}, \"problems\": [";
        for (size_t p = 0; p < pod.signingProblems.size(); ++p)
            out << (p ? ", " : "") << Json(pod.signingProblems[p]);
        out << "], \"supported\": " << (pod.Supported() ? "true" : "false") << "}";
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
    std::vector<std::vector<std::string>> rows{{"NAME", "VOLUME", "MODEL", "FAMILY", "CAPACITY", "USED",
                                                "FREE", "SIGNING", "SONGS", "AUTO UPDATE", "ACCESS"}};
    for (const MountedIPod& pod : pods) {
        const SyncSpace::Volume space = SyncSpace::Measure(pod.mountPoint);
        rows.push_back(
            {pod.databaseRead ? pod.name.ToStdString() : "(unreadable database)", pod.volume.ToStdString(),
             pod.info.model.IsEmpty() ? "-" : pod.info.model.ToStdString(), FamilyAndGeneration(pod.info),
             Capacity(pod.info), SpaceColumn(space, true), SpaceColumn(space, false),
             IPodInfo::SchemeName(pod.info.scheme), pod.databaseRead ? std::to_string(pod.songs) : "?",
             pod.autoUpdate ? (*pod.autoUpdate ? "on" : "off") : "unknown",
             !pod.Supported() ? "not supported"
             : pod.readOnly   ? "read-only"
                              : "read-write"});
    }
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
    // Where each fact came from.
    for (const MountedIPod& pod : pods) {
        if (pod.info.model.IsEmpty() && pod.info.firewireGuid.IsEmpty())
            continue;
        std::cout << "\"" << pod.volume.ToStdString() << "\": model "
                  << (pod.info.model.IsEmpty() ? "unknown" : "M" + pod.info.model.ToStdString())
                  << From(pod.info.modelSource) << ", FireWire GUID "
                  << (pod.info.firewireGuid.IsEmpty() ? "unknown" : pod.info.firewireGuid.ToStdString())
                  << From(pod.info.guidSource) << ", signing " << IPodInfo::SchemeName(pod.info.scheme)
                  << From(pod.info.schemeSource == "SysInfoExtended" ? AString("DBVersion in SysInfoExtended")
                          : pod.info.schemeSource == "model"         ? AString("the model")
                                                                     : pod.info.schemeSource)
                  << ".\n";
    }
    for (const MountedIPod& pod : pods)
        if (pod.info.guidSource == "USB serial number" && pod.info.scheme != IPodInfo::kSchemeNone)
            std::cout
                << "\"" << pod.volume.ToStdString()
                << "\" gives its FireWire GUID only while connected by USB; `pelorin ipods --write-identity "
                << pod.volume.ToStdString() << "` keeps it in SysInfoExtended.\n";
    for (const MountedIPod& pod : pods)
        for (const AString& problem : pod.signingProblems)
            std::cout << "\"" << pod.volume.ToStdString() << "\" is not supported: " << problem.ToStdString()
                      << "\n";
    for (const MountedIPod& pod : pods)
        if (!pod.databaseRead)
            std::cout << "\"" << pod.volume.ToStdString()
                      << "\" has an unreadable database: " << pod.problem.ToStdString() << "\n";
    for (const MountedIPod& pod : pods)
        if (pod.autoUpdate && *pod.autoUpdate)
            std::cout << "\"" << pod.volume.ToStdString()
                      << "\" updates itself automatically from a library; a sync turns that off.\n";
}

int WriteIdentity(const std::string& wanted)
{
    const std::string volumesRoot = platform::VolumesRoot();
    const std::vector<MountedIPod> pods = MountedIPod::FindAll(AString::FromUTF8(volumesRoot));
    const MountedIPod* pod = wanted.empty() ? nullptr : MountedIPod::Choose(pods, AString::FromUTF8(wanted));
    if (!pod) {
        std::fprintf(stderr, "pelorin ipods: no iPod called \"%s\" is mounted under %s\n", wanted.c_str(),
                     volumesRoot.c_str());
        return kExitUsage;
    }
    const std::string where = pod->mountPoint.ToStdString() + "/iPod_Control/Device/SysInfoExtended";
    if (pod->readOnly) {
        std::fprintf(stderr, "pelorin ipods: the iPod on %s is mounted read-only; nothing was written\n",
                     pod->mountPoint.CStr());
        return kExitError;
    }
    const int err = IPodIdentity::WriteExtendedFile(pod->mountPoint, pod->info);
    if (err == kErrNotSupported) {
        std::fprintf(
            stderr,
            "pelorin ipods: the iPod on %s has a SysInfoExtended already (%s); it was left as it is. "
            "Remove it first if it belongs to another iPod.\n",
            pod->mountPoint.CStr(), where.c_str());
        return kExitError;
    }
    if (err == kErrUnknown) {
        std::fprintf(
            stderr,
            "pelorin ipods: the FireWire GUID of the iPod on %s cannot be found: neither SysInfo nor "
            "SysInfoExtended holds it, and no Apple USB device with a serial number is behind its "
            "volume. Connect the iPod by USB (not through a dock that hides it) and mount it, then "
            "run this again. Nothing was written.\n",
            pod->mountPoint.CStr());
        return kExitError;
    }
    if (err != 0) {
        AString text;
        AError::AddErrorMsg(&text, err);
        std::fprintf(stderr, "pelorin ipods: cannot write %s: %d%s\n", where.c_str(), err, text.CStr());
        return kExitError;
    }
    std::cout << "Wrote " << where << ": FireWire GUID " << pod->info.firewireGuid.ToStdString()
              << From(pod->info.guidSource);
    if (!pod->info.model.IsEmpty())
        std::cout << ", model M" << pod->info.model.ToStdString();
    if (pod->info.scheme >= 0)
        std::cout << ", signing " << IPodInfo::SchemeName(pod->info.scheme);
    std::cout << ".\n";
    return kExitOk;
}

} // namespace

void AddIPodsCommand(CLI::App& app, int& exitStatus)
{
    CLI::App* command = app.add_subcommand("ipods", "List the iPods mounted under the volumes folder");
    auto json = std::make_shared<bool>(false);
    command->add_flag("--json", *json, "Print the list as JSON");
    auto writeIdentity = std::make_shared<std::string>();
    command
        ->add_option("--write-identity", *writeIdentity,
                     "Write iPod_Control/Device/SysInfoExtended for the iPod NAME (name or volume) from "
                     "what was found about it, so that later runs and other programs agree")
        ->option_text("NAME");
    command->callback([json, writeIdentity, command, &exitStatus] {
        if (command->count("--write-identity") > 0) {
            exitStatus = WriteIdentity(*writeIdentity);
            return;
        }
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
