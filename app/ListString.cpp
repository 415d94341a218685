#include "app/ListString.h"

#include <string>

namespace liststring {

std::vector<AString> Items(const AString& list)
{
    std::vector<AString> items;
    const std::string text = list.ToStdString();
    std::size_t start = text.find(':');
    while (start != std::string::npos) {
        const std::size_t end = text.find(':', start + 1);
        if (end == std::string::npos)
            break;
        if (end > start + 1)
            items.push_back(AString::FromUTF8(text.substr(start + 1, end - start - 1)));
        start = end;
    }
    return items;
}

AString Join(const std::vector<AString>& items)
{
    std::string text;
    for (const AString& item : items)
        if (!item.IsEmpty())
            text += ":" + item.ToStdString();
    return text.empty() ? AString() : AString::FromUTF8(text + ":");
}

AString SafeItem(const AString& text)
{
    AString safe = text;
    AString::FormatPathString(safe, '_', 0);
    std::string bytes = safe.ToStdString();
    for (char& c : bytes)
        if (c == ':')
            c = '_';
    const std::size_t first = bytes.find_first_not_of(" \t\r\n");
    if (first == std::string::npos)
        return AString();
    const std::size_t last = bytes.find_last_not_of(" \t\r\n");
    return AString::FromUTF8(bytes.substr(first, last - first + 1));
}

AString SetItem(const AString& list, int index, const AString& replacement)
{
    std::vector<AString> items = Items(list);
    const AString safe = SafeItem(replacement);
    if (index < 0)
        return list;
    if (index >= static_cast<int>(items.size()))
        items.push_back(safe);
    else
        items[static_cast<std::size_t>(index)] = safe;
    return Join(items);
}

} // namespace liststring
