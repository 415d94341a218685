#pragma once
// TrackArtwork: the pictures of a music file: those embedded in its tags, in their order, then one
// image in its folder (cover, folder, front; .jpg, .jpeg, .png; case ignored; the first of these
// that is there). Only JPEG and PNG pictures are taken, and none over kMaxPictureBytes or whose
// width or height is over kMaxPictureSide pixels: nothing downstream has to decode such a one.

#include "musiclib/MusicSource.h"

#include <cstdint>
#include <string>
#include <vector>

class TrackArtwork {
public:
    static constexpr std::uint64_t kMaxPictureBytes = 16ull * 1024 * 1024;
    static constexpr int kMaxPictureSide = 8000;

    // Appends the pictures of the file at `path`; with `folderImages` also the folder's image.
    // A file that cannot be read has no pictures.
    static void Read(const std::string& path, bool folderImages, std::vector<TrackPicture>& out);
    // The format ("JPEG" or "PNG") of picture bytes that pass the limits; empty otherwise. The
    // dimensions come from the picture's header; nothing is decoded.
    static std::string Inspect(const std::vector<std::uint8_t>& bytes);
};
