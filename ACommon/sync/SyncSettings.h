#pragma once
// SyncSettings: every setting of a song sync by name, as the settings drawer offers them, for front
// ends that set them by name (`pelorin settings`): the sync's own, the song settings, the six
// filters and their lists. A list is kept as ":item:item:"; a list with no item left is the empty
// text (no filter), never ":" (a filter that nothing passes).

#include "ACommon/base/AString.h"

#include <string>
#include <vector>

class ASyncLib;

class SyncSettings {
public:
    enum class Kind { kFlag, kNumber, kList, kText };
    struct Setting {
        const char* key;
        Kind kind;
        const char* meaning;
        int minimum = 0; // of a number
        int maximum = 4;
    };
    // Every setting, in the drawer's order.
    static const std::vector<Setting>& All();
    static const Setting* Find(const std::string& key);

    // The value of `key` as text: "on"/"off" for flags, digits for numbers, the list or text as
    // kept. Empty for an unknown key.
    static std::string Get(const ASyncLib& sync, const std::string& key);
    // Sets `key` from text: flags take on/off, yes/no, true/false or 1/0; lists take items separated
    // by ":" (with or without the outer colons; path items keep their "/"). 0, or kErrInvalidElement for an
    // unknown key or a value that does not fit (`problem` says which).
    static int Set(ASyncLib& sync, const std::string& key, const std::string& value, std::string* problem);

    // The items of a list, in order, trimmed, empty ones left out (liststring::Items).
    static std::vector<AString> Items(const AString& list);
    // A list of `items`: ":a:b:", or "" when there is none (liststring::Join).
    static AString Join(const std::vector<AString>& items);
    // `list` with `item` added at the end (when it is not there yet, case ignored).
    static AString WithItem(const AString& list, const AString& item);
    // `list` without `item` (case ignored); "" when it was the last one.
    static AString WithoutItem(const AString& list, const AString& item);
};
