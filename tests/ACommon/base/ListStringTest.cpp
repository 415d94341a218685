// The one reading of the settings' lists, and the one comparison of a tag value with their items.

#include "ACommon/base/ListString.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

std::vector<std::string> ItemsOf(const char* list)
{
    std::vector<std::string> out;
    for (const AString& item : liststring::Items(AString(list)))
        out.push_back(item.ToStdString());
    return out;
}

} // namespace

TEST(ListString, ItemsAreTheTrimmedTextsBetweenColons)
{
    struct Case {
        const char* list;
        std::vector<std::string> items;
    };
    for (const auto& [list, items] : std::vector<Case>{{"", {}},
                                                       {":", {}},
                                                       {":Rock:Jazz:", {"Rock", "Jazz"}},
                                                       {"Rock:Jazz", {"Rock", "Jazz"}},
                                                       {"Rock", {"Rock"}},
                                                       {":: Rock ::Jazz", {"Rock", "Jazz"}},
                                                       {":AC/DC:", {"AC/DC"}}})
        EXPECT_EQ(ItemsOf(list), items) << list;
}

TEST(ListString, JoinedItemsReadBackAsTheSameList)
{
    EXPECT_EQ(liststring::Join({}).ToStdString(), "");
    EXPECT_EQ(liststring::Join({AString(), AString()}).ToStdString(), "") << "never a lone colon";
    const AString joined = liststring::Join({AString("Rock"), AString(), AString("AC/DC")});
    EXPECT_EQ(joined.ToStdString(), ":Rock:AC/DC:");
    EXPECT_EQ(ItemsOf(joined.ToStdString().c_str()), (std::vector<std::string>{"Rock", "AC/DC"}));
}

TEST(ListString, AValueIsHeldWhenItMatchesAnItemAsAPathShowsIt)
{
    struct Case {
        const char* list;
        const char* value;
        bool held;
    };
    for (auto [list, value, held] : {Case{":AC/DC:", "AC/DC", true},
                                     {":AC/DC:", "AC_DC", true},
                                     {":AC_DC:", "AC/DC", true},
                                     {":ac/dc:", "AC/DC", true},
                                     {"Rock:Jazz", "Jazz", true},
                                     {":Rock:", " Rock ", true},
                                     {":Rock:", "Rock and Roll", false},
                                     {":Rock and Roll:", "Rock", false},
                                     {":*:", "", true},
                                     {":Rock:", "", false}})
        EXPECT_EQ(liststring::HoldsValue(AString(list), AString(value)), held) << list << " " << value;
}
