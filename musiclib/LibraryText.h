#pragma once
// LibraryText: how the library compares the names and tags it keeps (UTF-8 text): case ignored,
// canonically equivalent text (a composed letter and its decomposed form) equal.

#include <string>
#include <string_view>

class LibraryText {
public:
    // -1, 0 or 1. Text that is not valid UTF-8 compares by its bytes.
    static int Compare(std::string_view a, std::string_view b);
    static bool Equal(std::string_view a, std::string_view b) { return Compare(a, b) == 0; }
    // The form in which equal texts are the same bytes (for unique keys).
    static std::string Key(std::string_view text);
    // Why `name` cannot name a playlist (empty, not UTF-8, a control character such as a line
    // break, longer than kMaxNameLength characters); empty when it can.
    static std::string CheckName(std::string_view name);

    static constexpr std::size_t kMaxNameLength = 255;
};
