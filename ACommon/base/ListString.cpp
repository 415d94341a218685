#include "ACommon/base/ListString.h"

#include <algorithm>

namespace liststring {

std::vector<AString> Items(const AString& list)
{
    std::vector<AString> items;
    const std::u16string& units = list.Units();
    std::size_t start = 0;
    while (start <= units.size()) {
        std::size_t end = units.find(u':', start);
        if (end == std::u16string::npos)
            end = units.size();
        AString item(units.substr(start, end - start));
        item.Trim();
        if (!item.IsEmpty())
            items.push_back(std::move(item));
        start = end + 1;
    }
    return items;
}

AString Join(const std::vector<AString>& items)
{
    AString list;
    for (const AString& item : items) {
        if (item.IsEmpty())
            continue;
        list += ':';
        list += item;
    }
    if (!list.IsEmpty())
        list += ':';
    return list;
}

AString SetItem(const AString& list, int index, const AString& replacement)
{
    if (index < 0)
        return list;
    std::vector<AString> items = Items(list);
    const std::vector<AString> typed = Items(replacement);
    const auto at = items.begin() + std::min<std::size_t>(static_cast<std::size_t>(index), items.size());
    const auto next = at == items.end() ? at : items.erase(at);
    items.insert(next, typed.begin(), typed.end());
    return Join(items);
}

AString ComparisonForm(const AString& text)
{
    // "*" is already the form of an empty value; made path-safe again it would read "_".
    if (text == "*")
        return text;
    AString form = text;
    AString::FormatPathString(form, '_', 0);
    form.Trim();
    if (form.IsEmpty())
        form = "*";
    return form;
}

bool HoldsValue(const AString& list, const AString& value)
{
    const AString wanted = ComparisonForm(value);
    for (const AString& item : Items(list))
        if (ComparisonForm(item).CompareNoCase(wanted) == 0)
            return true;
    return false;
}

bool AnyItemOccursIn(const AString& list, const AString& text)
{
    for (const AString& item : Items(list))
        if (text.Find(item, 0, 1) >= 0)
            return true;
    return false;
}

} // namespace liststring
