#pragma once
// The folder tree of a mounted iPod as the program finds it under a volumes root: SysInfo (or
// SysInfoExtended), iTunesPrefs, an empty database written by the program's own classes, and the
// music folders.

#include <string>

namespace samples {

struct IPodOptions {
    std::string name = "Test iPod";                  // the library playlist's title, which is the iPod's name
    std::string modelNumStr = "MA147";               // the SysInfo line's value; empty: no SysInfo file
    std::string firewireGuid = "0x000A2700138A0000"; // SysInfo's FirewireGuid line; empty: none
    bool autoUpdate = false;                         // bit 0 of iTunesPrefs byte 10
    int musicFolders = 20;                           // iPod_Control/Music/F00 ... F(n-1)
    // A later iPod: the model and GUID in SysInfoExtended (a property list) and no SysInfo, and a
    // database signed as such an iPod checks it.
    bool later = false;
};

// Makes the folder tree of an iPod called `volume` under `volumesRoot` and returns its mount point
// (volumesRoot + "/" + volume, no trailing "/"). Throws when a folder or file cannot be made.
std::string MakeIPod(const std::string& volumesRoot, const std::string& volume,
                     const IPodOptions& options = {});

// The database path of an iPod made by MakeIPod.
std::string DatabasePath(const std::string& root);

} // namespace samples
