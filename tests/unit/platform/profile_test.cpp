#include "platform/profile.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>

#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testsupport::NameList;
using testsupport::ReadFile;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;

class ProfileTest : public ::testing::Test {
  protected:
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    std::u16string path = U16(file);

    std::string Get(const char16_t* section, const char16_t* key, size_t size = 512,
                    const char16_t* fallback = u"<none>") {
        std::u16string out(size, u'#');
        ProfileGetString(section, key, fallback, out.data(), size, path.c_str());
        return U8(out.c_str());
    }
    std::string Keys(const char16_t* section, size_t size = 1024) {
        std::u16string out(size, u'#');
        ProfileGetString(section, nullptr, u"", out.data(), size, path.c_str());
        return NameList(out.c_str());
    }
    std::string Sections(size_t size = 8192) {
        std::u16string out(size, u'#');
        ProfileGetSectionNames(out.data(), size, path.c_str());
        return NameList(out.c_str());
    }
    bool Write(const char16_t* section, const char16_t* key, const char16_t* value) {
        return ProfileWriteString(section, key, value, path.c_str());
    }
};

TEST_F(ProfileTest, MissingFileReadsEmptyAndTheFirstWriteCreatesIt) {
    EXPECT_EQ(Sections(), "");
    EXPECT_EQ(Get(u"a", u"server"), "<none>");
    EXPECT_EQ(ProfileGetInt(u"a", u"proxynr", 1, path.c_str()), 1);
    EXPECT_TRUE(Write(u"a", nullptr, nullptr));  // removing from nothing creates nothing
    EXPECT_TRUE(Write(u"a", u"user", nullptr));
    EXPECT_FALSE(std::filesystem::exists(file));

    ASSERT_TRUE(Write(u"a", u"server", u"host/dav"));
    EXPECT_EQ(ReadFile(file), "[a]\nserver=host/dav\n");
    struct stat info {};
    ASSERT_EQ(stat(file.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0600u) << "a new file holds passwords: only its owner reads it";
}

TEST_F(ProfileTest, NamesCompareWithoutCaseAndBlanksAreNotPartOfThem) {
    WriteFile(file, "[Server One]\n  User = bob  \n");
    EXPECT_EQ(Get(u"server one", u"USER"), "bob");
    EXPECT_EQ(Get(u"  SERVER ONE ", u"user"), "bob");
    EXPECT_EQ(Get(u"Server On", u"user"), "<none>");
    ASSERT_TRUE(Write(u"SERVER ONE", u"user", u"alice"));
    EXPECT_EQ(ReadFile(file), "[Server One]\nUser=alice\n") << "the file's spelling stays";
}

TEST_F(ProfileTest, ListsKeepFileOrderAndNameEachSectionOnce) {
    WriteFile(file, "; comment\n[b]\nz=1\na=2\n[a]\nserver=x\n[B]\ny=3\nz=4\n[c]\nnot a key\n");
    EXPECT_EQ(Sections(), "b|a|c");
    EXPECT_EQ(Keys(u"b"), "z|a|y") << "sections of one name read as one";
    EXPECT_EQ(Get(u"b", u"z"), "1") << "the first value counts";
    EXPECT_EQ(Keys(u"c"), "");
    EXPECT_EQ(Keys(u"missing"), "");
}

TEST_F(ProfileTest, ListsHoldOnlyTheNamesThatFitWhole) {
    WriteFile(file, "[alpha]\n[beta]\n[gamma]\n");
    struct Case {
        size_t size;
        const char* expected;
    } cases[] = {
        {8192, "alpha|beta|gamma"},
        {12, "alpha|beta"},  // alpha\0beta\0 and the list's end
        {11, "alpha"},       // beta would not leave room for the list's end
        {7, "alpha"},
        {6, ""},
        {1, ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Sections(c.size), c.expected) << c.size;
}

TEST_F(ProfileTest, ValuesAreCutToTheCallersBuffer) {
    WriteFile(file, "[a]\nserver=abcdefghij\n");
    EXPECT_EQ(Get(u"a", u"server", 11), "abcdefghij");
    EXPECT_EQ(Get(u"a", u"server", 5), "abcd");
    EXPECT_EQ(Get(u"a", u"server", 1), "");
    EXPECT_EQ(Get(u"a", u"missing", 4, u"default"), "def");
    EXPECT_EQ(Get(u"a", u"missing", 16, nullptr), "");
}

TEST_F(ProfileTest, IntegersComeFromTheLeadingDigits) {
    WriteFile(file,
              "[a]\nplain=42\nsuffix=12abc\nletters=abc\nempty=\nminus=-1\nblank= 7\n"
              "huge=99999999999\nzero=0\n");
    struct Case {
        const char16_t* key;
        int32_t expected;
    } cases[] = {
        {u"plain", 42}, {u"suffix", 12},      {u"letters", 0}, {u"empty", 0},   {u"minus", 0},
        {u"blank", 7},  {u"huge", INT32_MAX}, {u"zero", 0},    {u"absent", -1},  // the caller's
                                                                                 // default
    };
    for (const Case& c : cases) {
        EXPECT_EQ(ProfileGetInt(u"a", c.key, -1, path.c_str()), c.expected) << U8(c.key);
    }
}

TEST_F(ProfileTest, WritesKeepEveryOtherLineOfTheFile) {
    const std::string before =
        "; kept comment\r\n"
        "\r\n"
        "[proxy]\r\n"
        "proxytype=2\r\n"
        "\r\n"
        "[a]\r\n"
        "server = host/dav ; not a comment\r\n"
        "unknown=kept\r\n"
        "# another comment\r\n"
        "[b]\r\n"
        "server=b\r\n";
    WriteFile(file, before);
    ASSERT_TRUE(Write(u"a", u"user", u"bob"));
    ASSERT_TRUE(Write(u"a", u"unknown", u"changed"));
    ASSERT_TRUE(Write(u"b", u"server", nullptr));
    ASSERT_TRUE(Write(u"c", u"server", u"c"));
    EXPECT_EQ(ReadFile(file),
              "; kept comment\r\n"
              "\r\n"
              "[proxy]\r\n"
              "proxytype=2\r\n"
              "\r\n"
              "[a]\r\n"
              "server = host/dav ; not a comment\r\n"
              "unknown=changed\r\n"
              "user=bob\r\n"
              "# another comment\r\n"
              "[b]\r\n"
              "[c]\r\n"
              "server=c\r\n");
    EXPECT_EQ(Get(u"a", u"server"), "host/dav ; not a comment");
}

TEST_F(ProfileTest, RemovingASectionRemovesEveryPartOfItAndNothingElse) {
    WriteFile(file, "[a]\nserver=1\n[b]\nserver=2\n; about b\n[A]\nuser=x\n[c]\nserver=3");
    ASSERT_TRUE(Write(u"a", nullptr, nullptr));
    EXPECT_EQ(ReadFile(file), "[b]\nserver=2\n; about b\n[c]\nserver=3");
    ASSERT_TRUE(Write(u"c", u"user", u"u"));
    EXPECT_EQ(ReadFile(file), "[b]\nserver=2\n; about b\n[c]\nserver=3\nuser=u\n")
        << "a last line without line end gets one before the new line";
}

TEST_F(ProfileTest, CommentsAfterARemovedSectionStay) {
    WriteFile(file,
              "[a]\nserver=1\n; about a\nuser=u\n\n; --- proxies ---\n[proxy]\nproxytype=1\n");
    ASSERT_TRUE(Write(u"a", nullptr, nullptr));
    EXPECT_EQ(ReadFile(file), "\n; --- proxies ---\n[proxy]\nproxytype=1\n");
}

TEST_F(ProfileTest, AnEmptySectionNameHidesNothing) {
    WriteFile(file, "[ ]\nx=1\n[]\n[a]\nserver=x\n");
    EXPECT_EQ(Sections(), "a");
}

TEST_F(ProfileTest, SeveralChangesAreOneWriteOrNone) {
    WriteFile(file, "[a]\nserver=x\n");
    ProfileChange changes[] = {
        {u"b", u"server", u"y"},
        {u"a", nullptr, nullptr},
        {u"b", u"user", u"u"},
    };
    ASSERT_TRUE(ProfileWriteAll(changes, 3, path.c_str()));
    EXPECT_EQ(ReadFile(file), "[b]\nserver=y\nuser=u\n");

    ProfileChange refused[] = {
        {u"c", u"server", u"z"},
        {u"b", nullptr, nullptr},
        {u"c", u"user", u"line\nbreak"},  // one change that cannot be stored stops them all
    };
    EXPECT_FALSE(ProfileWriteAll(refused, 3, path.c_str()));
    EXPECT_EQ(ReadFile(file), "[b]\nserver=y\nuser=u\n");
}

TEST_F(ProfileTest, ACutValueNeverEndsInHalfAPair) {
    WriteFile(file, "[a]\nuser=ab\xF0\x9F\x98\x80\n");
    EXPECT_EQ(Get(u"a", u"user", 4), "ab");
    EXPECT_EQ(Get(u"a", u"user", 5), "ab\xF0\x9F\x98\x80");
}

TEST_F(ProfileTest, AFifoInThePlaceOfTheFileIsRefusedWithoutHanging) {
    ASSERT_EQ(mkfifo(file.c_str(), 0600), 0);
    EXPECT_EQ(Sections(), "");
    EXPECT_FALSE(Write(u"a", u"server", u"x"));
    struct stat info {};
    ASSERT_EQ(lstat(file.c_str(), &info), 0);
    EXPECT_TRUE(S_ISFIFO(info.st_mode));
}

TEST_F(ProfileTest, AnUnchangedValueDoesNotRewriteTheFile) {
    WriteFile(file, "[a]\nserver=x\n");
    struct stat before {};
    ASSERT_EQ(stat(file.c_str(), &before), 0);
    ASSERT_TRUE(Write(u"a", u"server", u"x"));
    struct stat after {};
    ASSERT_EQ(stat(file.c_str(), &after), 0);
    EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST_F(ProfileTest, ReadsUtf8Utf16AndWindows1252) {
    struct Case {
        const char* what;
        std::string bytes;
    } cases[] = {
        {"UTF-8", "[a]\nuser=J\xC3\xBCrgen\n"},
        {"UTF-8 with byte-order mark", "\xEF\xBB\xBF[a]\nuser=J\xC3\xBCrgen\n"},
        {"Windows-1252", "[a]\nuser=J\xFCrgen\n"},
        {"UTF-16LE with byte-order mark",
         std::string("\xFF\xFE[\0a\0]\0\r\0\n\0u\0s\0e\0r\0=\0J\0\xFC\0r\0g\0e\0n\0\r\0\n\0", 36)},
    };
    for (const Case& c : cases) {
        WriteFile(file, c.bytes);
        EXPECT_EQ(Get(u"a", u"user"), "J\xC3\xBCrgen") << c.what;
        EXPECT_EQ(Sections(), "a") << c.what;
    }
}

TEST_F(ProfileTest, WritesUtf8AndKeepsAByteOrderMark) {
    WriteFile(file, std::string("\xFF\xFE[\0a\0]\0\r\0\n\0x\0=\0\xFC\0\r\0\n\0", 22));
    ASSERT_TRUE(Write(u"a", u"y", u"\u20ac"));
    EXPECT_EQ(ReadFile(file), "[a]\r\nx=\xC3\xBC\r\ny=\xE2\x82\xAC\r\n");

    WriteFile(file, "\xEF\xBB\xBF[a]\nx=1\n");
    ASSERT_TRUE(Write(u"a", u"x", u"2"));
    EXPECT_EQ(ReadFile(file), "\xEF\xBB\xBF[a]\nx=2\n");

    WriteFile(file, "[a]\nold=\xE4\n");
    ASSERT_TRUE(Write(u"a", u"new", u"1"));
    EXPECT_EQ(ReadFile(file), "[a]\nold=\xC3\xA4\nnew=1\n") << "Windows-1252 is rewritten as UTF-8";
}

TEST_F(ProfileTest, NamesAndValuesThatCannotBeStoredAreRefused) {
    const std::string before = "[a]\nserver=x\n";
    WriteFile(file, before);
    struct Case {
        const char16_t* section;
        const char16_t* key;
        const char16_t* value;
    } cases[] = {
        {u"a\nserver=evil", u"user", u"x"},  // a line break would inject a key
        {u"a", u"user\r\nserver", u"x"},
        {u"a", u"user", u"x\nserver=evil"},
        {u"a", u"us=er", u"x"},  // "=" ends a key name
        {u"a", u"[b]", u"x"},    // would read as a section
        {u"a", u";user", u"x"},  // would read as a comment
        {u"a", u"  ", u"x"},
        {u"", u"user", u"x"},
        {u"  ", nullptr, nullptr},
        {u" a", u"user", u"x"},  // blanks at the ends are lost on reading
        {u"a", u"user ", u"x"},
        {u"a", u"user", u"x "},
        {u"a", u"user", u"\tx"},
        {u"a\xdc00", u"user", u"x"},  // a lone surrogate has no UTF-8 form
        {u"a", u"user", u"x\xd800y"},
    };
    for (const Case& c : cases) {
        EXPECT_FALSE(Write(c.section, c.key, c.value))
            << U8(c.section) << "/" << U8(c.key ? c.key : u"");
    }
    EXPECT_EQ(ReadFile(file), before);
}

TEST_F(ProfileTest, SectionNamesMayHoldBrackets) {
    ASSERT_TRUE(Write(u"a]b[c", u"server", u"x"));
    EXPECT_EQ(Sections(), "a]b[c");
    EXPECT_EQ(Get(u"a]b[c", u"server"), "x");
}

TEST_F(ProfileTest, AFileThatCannotBeReadIsNeverOverwritten) {
    // Too large to be a settings file: read as empty, and a write must not replace it.
    {
        std::ofstream out(file, std::ios::binary);
        out << "[a]\nserver=x\n";
    }
    std::filesystem::resize_file(file, (1u << 20) + 1);
    EXPECT_EQ(Sections(), "");
    EXPECT_FALSE(Write(u"b", u"server", u"y"));
    EXPECT_EQ(std::filesystem::file_size(file), (1u << 20) + 1);

    // A directory where the file should be.
    std::u16string dirPath = U16(dir.path());
    EXPECT_FALSE(ProfileWriteString(u"a", u"b", u"c", dirPath.c_str()));
    EXPECT_TRUE(std::filesystem::is_directory(dir.path()));
}

TEST_F(ProfileTest, AFailedWriteLeavesTheOldFileAndNoTemporaryFile) {
    std::u16string missingDir = U16(dir.File("no/such/dir/vodarezazuv.ini"));
    EXPECT_FALSE(ProfileWriteString(u"a", u"server", u"x", missingDir.c_str()));

    WriteFile(file, "[a]\nserver=x\n");
    ASSERT_TRUE(Write(u"a", u"user", u"u"));
    size_t entries = 0;
    for (auto& entry : std::filesystem::directory_iterator(dir.path())) {
        ++entries;
        EXPECT_EQ(entry.path().filename(), "vodarezazuv.ini");
    }
    EXPECT_EQ(entries, 1u);
}

TEST_F(ProfileTest, AFullDiskLeavesTheOldFileWhole) {
    const std::string before = "[a]\nserver=x\n[b]\nserver=y\n";
    WriteFile(file, before);
    {
        testsupport::FileSizeLimit full(before.size());
        EXPECT_FALSE(Write(u"a", u"user", u"someone"));
    }
    EXPECT_EQ(ReadFile(file), before);
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(dir.path()),
                            std::filesystem::directory_iterator()),
              1)
        << "no temporary file is left behind";
}

TEST_F(ProfileTest, AWriteThroughALinkChangesTheLinkedFileAndKeepsItsMode) {
    std::string target = dir.File("real.ini");
    WriteFile(target, "[a]\nserver=x\n");
    ASSERT_EQ(chmod(target.c_str(), 0640), 0);
    ASSERT_EQ(symlink(target.c_str(), file.c_str()), 0);
    ASSERT_TRUE(Write(u"a", u"user", u"u"));
    EXPECT_TRUE(std::filesystem::is_symlink(file));
    EXPECT_EQ(ReadFile(target), "[a]\nserver=x\nuser=u\n");
    struct stat info {};
    ASSERT_EQ(stat(target.c_str(), &info), 0);
    EXPECT_EQ(info.st_mode & 0777, 0640u);

    // A link whose file does not exist yet: the file is made where the link points.
    std::string dangling = dir.File("dangling.ini");
    ASSERT_EQ(symlink("later.ini", dangling.c_str()), 0);
    std::u16string danglingPath = U16(dangling);
    ASSERT_TRUE(ProfileWriteString(u"a", u"server", u"x", danglingPath.c_str()));
    EXPECT_TRUE(std::filesystem::is_symlink(dangling));
    EXPECT_EQ(ReadFile(dir.File("later.ini")), "[a]\nserver=x\n");
}

}  // namespace
}  // namespace vodarezazuv
