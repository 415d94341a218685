#pragma once
// GenreTable: the ID3v1 genre list with its common extensions, index 0 "Blues" to 125 "Dance Hall".
// ID3v1 tags store a genre as an index into this list, ID3v2 tags may refer to it as "(17)", and MP4
// files store it (plus one) in the "gnre" item.

class GenreTable {
public:
    static constexpr int kCount = 126;

    // The name of genre `index`, or nullptr when the index lies outside 0 to kCount - 1.
    static const char* Name(int index);
};
