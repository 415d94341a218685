#pragma once
// Well-known folders of this platform. Paths are UTF-8, absolute, without a trailing "/".

#include <string>

namespace platform {

std::string HomeFolder(); // $HOME, else the password database entry
std::string
ApplicationSupportFolder();    // $XDG_DATA_HOME or ~/.local/share (macOS: ~/Library/Application Support)
std::string TemporaryFolder(); // $TMPDIR, else /tmp

// The folder under which removable volumes are mounted: $PELORIN_VOLUMES when set, else /Volumes
// where it exists, else /media/$USER or /run/media/$USER where it exists; when neither does yet,
// /run/media/$USER on systems that have /run/media but no /media, else /media/$USER.
std::string VolumesRoot();

// The mount point of the volume called `name`: the volumes root joined with the name. Every place
// that needs a volume's path by its name goes through here.
std::string VolumePath(const std::string& name);

// The music library's folder: $PELORIN_LIBRARY when set (made absolute), else ~/Music/iTunes.
std::string LibraryFolder();
// The files in it that the library keeps for its readers: the XML property list that names the
// music folder, and the preferences property list that holds the user's store account.
std::string LibraryXmlPath();
std::string LibraryPreferencesPath();

} // namespace platform
