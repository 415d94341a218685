#pragma once
// The editable lists of the settings (Apple IDs, favoured file types, the filters) live in the sync
// as one string, ":" before every item and after the last ("" for no items). Items never hold a
// colon: an item is made path-safe ("_" for a colon) and trimmed before it is stored.

#include "ACommon/base/AString.h"

#include <vector>

namespace liststring {

std::vector<AString> Items(const AString& list);
// The list string of `items`, leaving out empty ones; "" when none is left.
AString Join(const std::vector<AString>& items);
// `list` with item `index` replaced by `replacement` (made safe and trimmed) or, when that is empty,
// removed; an index past the end appends. Removing the last item leaves "".
AString SetItem(const AString& list, int index, const AString& replacement);
// The text an edited item is stored as.
AString SafeItem(const AString& text);

} // namespace liststring
