#include "ACommon/AFile.h"
#include "ACommon/AFileList.h"
#include "ACommon/AProgress.h"
#include "ACommon/AString.h"
#include "ACommon/CRC32.h"
#include "fixtures/TempDir.h"

#include <gtest/gtest.h>

TEST(Smoke, Strings)
{
    AString a("\xC3\xA9");   // é precomposed
    AString b("e\xCC\x81");  // e + combining acute
    EXPECT_EQ(a.Compare(b), 0);
    EXPECT_FALSE(a == b);
    EXPECT_EQ(AString("xabcx").Find(AString("ABC"), 0, 0), 1);
    EXPECT_EQ(AString("xabcx").Find(AString("ABC"), 0, 1), -1);
    EXPECT_EQ(AString("caf\xC3\xA9 X").Find(AString("E\xCC\x81 x"), 0, 0), 3);
    AString s("a/b:c");
    AString::FormatPathString(s, '_', 0);
    EXPECT_EQ(s, "a_b_c");
    AString spaces("   ");
    AString::FormatPathString(spaces, '_', 0);
    EXPECT_EQ(spaces, "_ _");
    EXPECT_EQ(AString("A 1b.mp3").ExtractFileNum(), 1);
    EXPECT_EQ(AString::Base26Num(26), "BA");
    EXPECT_EQ(AString::Base26Num(676), "BAA");
    EXPECT_EQ(AString("b").CompareNoCase(AString("A")), 1);
    EXPECT_EQ(AString("Beyonc\xC3\xA9 b").CompareNoCase(AString("BEYONCE\xCC\x81 A")), 1);
    AString path("a/");
    path.AppendPathComponent("b");
    EXPECT_EQ(path, "a/b");
    CRC32 crc;
    crc.Update(reinterpret_cast<const unsigned char*>("abc"), 3);
    EXPECT_EQ(crc.GetValue(), 0x352441C2u);
}

TEST(Smoke, FilesAndState)
{
    fixtures::TempDir dir;
    AString p = dir.A("x/y/z");
    EXPECT_EQ(AFile::CreateDir(&p), 0);
    EXPECT_EQ(AFile::CreateDir(&p), -10000);
    fixtures::WriteFile(dir / "big", std::string(1000000, 'a'));
    fixtures::WriteFile(dir / "dest", std::string(2000000, 'b'));
    AString from = dir.A("big"), to = dir.A("dest");
    EXPECT_EQ(AFile::CopyWithProgress(&from, &to, nullptr, &AProgress::Shared()), 0);
    EXPECT_EQ(fixtures::ReadText(dir / "dest"), std::string(1000000, 'a'));
    AString state = dir.A("state");
    AFile f;
    ASSERT_EQ(f.Open(&state, 2), 0);
    AFileList list;
    AString root("/r");
    list.SetRootPath(&root);
    list.Add(new AString("b.mp3"));
    list.Add(new AString("A.mp3"));
    list.Sort(1);
    EXPECT_EQ(*list.Get(0), "A.mp3");
    EXPECT_EQ(list.WriteState(&f), 0);
    f.Close(1);
    ASSERT_EQ(f.Open(&state, 1), 0);
    AFileList back;
    EXPECT_EQ(back.ReadState(&f), 0);
    EXPECT_EQ(back.Count(), 2);
    EXPECT_EQ(*back.Get(1), "b.mp3");
    EXPECT_EQ(back.GetRootPath(), "/r/");
    EXPECT_EQ(fixtures::ListFiles(dir.Path()), (std::vector<std::string>{"big", "dest", "state"}));
}
