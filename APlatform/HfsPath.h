#pragma once
// The colon-separated paths that a script names files with ("add alias ..."): a volume name, then
// the path's components, each joined by ":", with a ":" inside a name written as "/". A path under
// the volumes root belongs to that volume ("/media/u/IPOD/a.mp3" is "IPOD:a.mp3"); any other path
// belongs to the volume "Root" ("/home/a/x.mp3" is "Root:home:a:x.mp3"). Both directions work on
// bytes, so a path comes back byte for byte. A volume that is itself called "Root" is written from
// the file-system root, so that its paths cannot be read as paths of other folders.

#include <optional>
#include <string>

namespace platform {

// The colon path of an absolute POSIX path; empty for a path that is not absolute.
std::string PosixToHfsPath(const std::string& posixPath);
// The POSIX path of a colon path; no value for text without a volume name or for the volume "Root"
// without a path.
std::optional<std::string> HfsToPosixPath(const std::string& hfsPath);

} // namespace platform
