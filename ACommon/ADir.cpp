#include "ACommon/ADir.h"

#include "ACommon/AError.h"

namespace {

// The entries of a filter list ":a:b:c:": the texts between consecutive colons, read from the
// character after the first colon; text after the last colon is ignored.
template <typename Visit>
bool AnyListEntry(const AString& list, Visit visit)
{
    int colon = list.Find(':', 0);
    while (colon >= 0) {
        int next = list.Find(':', colon + 1);
        if (next < 0)
            break;
        if (next > colon + 1 && visit(list.Mid(colon + 1, next - colon - 1)))
            return true;
        colon = next;
    }
    return false;
}

} // namespace

bool ADir::TypeFilterCheck(const AString* path) const
{
    if (typeFilterMode == 0 || !path)
        return true;
    AString extension;
    path->PathExtension(&extension);
    AString key(":");
    key += extension;
    key += ':';
    if ((typeFilterMode & 0x1) && !typeIncludeFilter.IsEmpty()) {
        if (extension.IsEmpty() || typeIncludeFilter.Find(key, 0, 0) < 0)
            return false;
    }
    if ((typeFilterMode & 0x2) && !typeExcludeFilter.IsEmpty()) {
        if (!extension.IsEmpty() && typeExcludeFilter.Find(key, 0, 0) >= 0)
            return false;
    }
    return true;
}

bool ADir::PathFilterCheck(const AString* path) const
{
    if (!path)
        return true;
    auto occursIn = [path](const AString& entry) { return path->Find(entry, 0, 1) >= 0; };
    if ((pathFilterMode & 0x1) && !pathIncludeFilter.IsEmpty() && !AnyListEntry(pathIncludeFilter, occursIn))
        return false;
    if ((pathFilterMode & 0x2) && !pathExcludeFilter.IsEmpty() && AnyListEntry(pathExcludeFilter, occursIn))
        return false;
    return true;
}
