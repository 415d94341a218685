#pragma once
// The lists of the settings (store accounts, favoured file types, the tag, type and path filters)
// are kept as one string with ":" before every item and after the last (":Rock:Jazz:"; "" for no
// items). Every reader and writer of such a list, in every front end and in the sources that
// filter by it, goes through these functions, so that one text means one list everywhere.

#include "ACommon/base/AString.h"

#include <vector>

namespace liststring {

// The items of `list` in order: the texts between colons, with or without the outer colons
// ("Rock:Jazz" is two items), trimmed, empty ones left out.
std::vector<AString> Items(const AString& list);
// The list of `items` (":a:b:"), empty ones left out; "" when none is left.
AString Join(const std::vector<AString>& items);
// `list` with item `index` replaced by the items `replacement` holds (an edit may type several,
// "Rock:Jazz"), or removed when it holds none; an index past the end appends. Removing the last
// item leaves "".
AString SetItem(const AString& list, int index, const AString& replacement);

// The form in which a tag value and a list item are compared: as the value stands in a song's
// virtual path (characters that cannot be in a file name become "_", so "AC/DC" is "AC_DC"),
// trimmed, "*" when nothing is left ("*" itself stays). Every kind of side compares in this form,
// whether it holds the tag itself or only the virtual path.
AString ComparisonForm(const AString& text);
// Whether an item of `list` is `value`, both in comparison form, case ignored.
bool HoldsValue(const AString& list, const AString& value);
// Whether an item of `list` occurs within `text` (case counts).
bool AnyItemOccursIn(const AString& list, const AString& text);

} // namespace liststring
