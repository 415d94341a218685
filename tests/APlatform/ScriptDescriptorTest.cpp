#include "APlatform/ScriptDescriptor.h"

#include <gtest/gtest.h>

using platform::ScriptDescriptor;

TEST(ScriptDescriptor, CoercionsGiveWhatTheReplyDecoderReads)
{
    struct Case {
        ScriptDescriptor reply;
        std::int32_t int32;
        double real;
        bool boolean;
        const char* text; // null: no string value
    };
    const Case cases[] = {
        {ScriptDescriptor(), 0, 0, false, nullptr},
        {ScriptDescriptor::Integer(42), 42, 42, true, "42"},
        {ScriptDescriptor::Integer(5000000000LL), INT32_MAX, 5e9, true, "5000000000"},
        {ScriptDescriptor::Real(-7.9), -7, -7.9, false, "-7.9"},
        {ScriptDescriptor::Real(7), 7, 7, false, "7.0"},
        {ScriptDescriptor::Boolean(true), 1, 1, true, "true"},
        {ScriptDescriptor::String("7.0.2"), 7, 7.0, false, "7.0.2"},
        {ScriptDescriptor::String("kSpN"), 0, 0, false, "kSpN"},
        {ScriptDescriptor::String("True"), 0, 0, true, "True"},
        {ScriptDescriptor::Alias("/a/b.mp3"), 0, 0, false, "/a/b.mp3"},
        {ScriptDescriptor::Data({1, 2}), 0, 0, false, nullptr},
        {ScriptDescriptor::List({ScriptDescriptor::Integer(1)}), 0, 0, false, nullptr},
    };
    for (const Case& c : cases) {
        const std::string what = c.reply.Describe();
        EXPECT_EQ(c.reply.Int32Value(), c.int32) << what;
        EXPECT_DOUBLE_EQ(c.reply.DoubleValue(), c.real) << what;
        EXPECT_EQ(c.reply.BooleanValue(), c.boolean) << what;
        EXPECT_EQ(c.reply.StringValue().has_value(), c.text != nullptr) << what;
        if (c.text) {
            EXPECT_EQ(*c.reply.StringValue(), c.text) << what;
        }
    }
    const ScriptDescriptor list = ScriptDescriptor::List(
        {ScriptDescriptor::String("a\"b"), ScriptDescriptor(), ScriptDescriptor::Data({1})});
    EXPECT_EQ(list.NumberOfItems(), 3);
    EXPECT_EQ(list.ItemAt(1)->StringValue(), "a\"b");
    EXPECT_EQ(list.ItemAt(0), nullptr);
    EXPECT_EQ(list.ItemAt(4), nullptr);
    EXPECT_EQ(list.Describe(), "{\"a\\\"b\", missing value, \xC2\xAB"
                               "data 1 bytes\xC2\xBB}");
    EXPECT_EQ(ScriptDescriptor::Alias("/x").AliasPath(), "/x");
    EXPECT_FALSE(ScriptDescriptor::String("/x").AliasPath());
}
