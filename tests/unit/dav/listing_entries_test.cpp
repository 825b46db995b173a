// From multistatus answers to the host's find records: href decoding, stripping the listed
// path, attributes, sizes and dates, and the names the host is never given.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "dav/listing.h"
#include "plugin/plugin_state.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testsupport::U16;
using testsupport::U8;

// One response element: href, and the props of a 200 propstat (empty: no propstat).
std::string Response(const std::string& href, const std::string& props = "<D:resourcetype/>") {
    std::string text = "<D:response><D:href>" + href + "</D:href>";
    if (!props.empty())
        text += "<D:propstat><D:prop>" + props +
                "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat>";
    return text + "</D:response>";
}

std::string Body(const std::vector<std::string>& responses) {
    std::string body = "<?xml version=\"1.0\" encoding=\"utf-8\"?><D:multistatus xmlns:D=\"DAV:\">";
    for (const std::string& response : responses)
        body += response;
    return body + "</D:multistatus>";
}

struct Entry {
    std::string name;
    uint32_t attributes;
    WIN32_FIND_DATAW record;
};

// Lists body as a cursor for a listed path of depth components would.
std::vector<Entry> List(const std::string& body, int32_t depth, int32_t responseIsUtf8 = 1,
                        int32_t urlsUtf8 = 0) {
    BodyBuffer* buffer = nullptr;
    EXPECT_EQ(CreateBodyBuffer(&buffer), kBodyOk);
    buffer->Append(buffer, body.data(), static_cast<int32_t>(body.size()));
    auto* cursor = new ListingCursor;
    EXPECT_EQ(ParseMultistatus(&cursor->multistatus, buffer), kMultistatusOk);
    DestroyBodyBuffer(&buffer);
    cursor->nextResponse = cursor->multistatus->responses.first;
    cursor->depth = depth;
    cursor->responseIsUtf8 = responseIsUtf8;
    cursor->urlsUtf8 = urlsUtf8;
    std::vector<Entry> entries;
    WIN32_FIND_DATAW record;
    ListingCursor* handedOut = nullptr;
    while (FillFindData(cursor, &record, &handedOut) == 0) {
        EXPECT_EQ(handedOut, cursor);
        entries.push_back({U8(record.name), record.attributes, record});
    }
    EXPECT_EQ(FillFindData(cursor, &record), 1) << "an exhausted cursor stays exhausted";
    FreeListing(cursor);
    return entries;
}

std::string Names(const std::vector<Entry>& entries) {
    std::string names;
    for (const Entry& entry : entries)
        names += (names.empty() ? "" : "|") + entry.name +
                 ((entry.attributes & FileAttributeDirectory) != 0 ? "/" : "");
    return names;
}

class ListingEntriesTest : public ::testing::Test {
  protected:
    static void Log(int32_t, int32_t, char16_t* text) { logs.push_back(U8(text)); }
    void SetUp() override {
        logs.clear();
        saved = Plugin();
        Plugin().hostLog = &Log;
    }
    void TearDown() override { Plugin() = saved; }
    static inline std::vector<std::string> logs;
    PluginState saved;
};

TEST_F(ListingEntriesTest, TheListedPathIsStrippedFromEveryHref) {
    struct Case {
        const char* what;
        std::vector<std::string> responses;
        int32_t depth;
        const char* names;
    } cases[] = {
        {"the collection itself is skipped",
         {Response("/dav/dir/"), Response("/dav/dir/a.txt"),
          Response("/dav/dir/sub/", "<D:resourcetype><D:collection/></D:resourcetype>")},
         2,
         "a.txt|sub/"},
        {"the root has depth 0", {Response("/"), Response("/file.txt")}, 0, "file.txt"},
        {"absolute hrefs, any case of the scheme",
         {Response("https://host:8443/dav/dir/a%20b.txt"), Response("HTTPS://host/dav/dir/c.txt"),
          Response("http://host/dav/dir/d.txt"), Response("http://host/dav/dir/")},
         2,
         "a b.txt|c.txt|d.txt"},
        {"an href shorter than its scheme gives no entry",
         {Response("http:/"), Response("/dav/dir/ok")},
         2,
         "ok"},
        {"a collection without a slash is a directory",
         {Response("/dav/dir/sub", "<D:resourcetype><D:collection/></D:resourcetype>")},
         2,
         "sub/"},
        {"a deeper href lists its first component as a directory",
         {Response("/dav/dir/sub/x.txt"), Response("/dav/dir/a/b/c.txt")},
         2,
         "sub/|a/"},
        {"a response without href ends the listing",
         {Response("/dav/dir/a"), "<D:response></D:response>", Response("/dav/dir/b")},
         2,
         "a"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Names(List(Body(c.responses), c.depth)), c.names) << c.what;
}

TEST_F(ListingEntriesTest, HrefsDecodeByTheirRoute) {
    struct Case {
        const char* what;
        const char* href;
        int32_t responseIsUtf8, urlsUtf8;
        const char* name;
    } cases[] = {
        {"B: declared UTF-8, escapes of UTF-8", "/d/%C3%A4.txt", 1, 0, "ä.txt"},
        {"C: declared UTF-8, escapes that are no UTF-8", "/d/%E4.txt", 1, 0, "ä.txt"},
        {"C: raw UTF-8 and an ANSI escape together", "/d/\xC3\xA4%E4", 1, 0, "ää"},
        {"A: nothing declared, ANSI escapes", "/d/%E4%DF", 0, 0, "äß"},
        {"A: UTF-8 escapes read as ANSI", "/d/%C3%A4", 0, 0, "Ã¤"},
        {"B: the connection says UTF-8", "/d/%C3%A4", 0, 1, "ä"},
        {"lower-case hex", "/d/%c3%a4", 1, 0, "ä"},
        {"letters beyond F keep their value", "/d/%G1", 0, 0, "\x01"},
        {"C: a % without two characters ends the name", "/d/ab%4", 1, 0, "ab"},
        {"A: a % without two characters ends the name", "/d/ab%4", 0, 0, "ab"},
        {"B: a % at the very end ends the name", "/d/ab%", 0, 1, "ab"},
        {"a character that is no digit or letter is passed over", "/d/%/4x", 0, 0, "\x04x"},
        {"the Euro sign of the code page", "/d/%80", 0, 0, "€"},
    };
    for (const Case& c : cases) {
        std::string body = Body({Response(std::string(c.href))});
        std::vector<Entry> entries = List(body, 1, c.responseIsUtf8, c.urlsUtf8);
        // A control character reaches the host as it is.
        ASSERT_EQ(entries.size(), 1u) << c.what;
        EXPECT_EQ(entries[0].name, c.name) << c.what;
    }
}

TEST_F(ListingEntriesTest, SizesDatesAndLocksBecomeTheRecord) {
    std::string lock = [](const char* scope, const char* owner) {
        return std::string(
                   "<D:lockdiscovery><D:activelock><D:locktype><D:write/></D:locktype>"
                   "<D:lockscope><D:") +
               scope + "/></D:lockscope>" + owner + "</D:activelock></D:lockdiscovery>";
    }("exclusive", "<D:owner>alice</D:owner>");
    std::string body = Body({
        Response("/d/big",
                 "<D:getcontentlength>5368709120</D:getcontentlength>"
                 "<D:getlastmodified>Tue, 12 Jan 1998 09:25:56 GMT</D:getlastmodified>"
                 "<D:creationdate>1997-12-01T17:42:21Z</D:creationdate>"),
        Response("/d/noprops", ""),
        Response("/d/locked", lock),
        Response("/d/lockeddir/", lock),
        Response("/d/shared",
                 "<D:lockdiscovery><D:activelock><D:locktype><D:write/>"
                 "</D:locktype><D:lockscope><D:shared/></D:lockscope><D:owner>bob"
                 "</D:owner></D:activelock></D:lockdiscovery>"),
        Response("/d/ownerless",
                 "<D:lockdiscovery><D:activelock><D:locktype><D:write/>"
                 "</D:locktype><D:lockscope><D:exclusive/></D:lockscope>"
                 "</D:activelock></D:lockdiscovery>"),
    });
    std::vector<Entry> entries = List(body, 1);
    ASSERT_EQ(entries.size(), 6u);
    const WIN32_FIND_DATAW& big = entries[0].record;
    EXPECT_EQ(big.sizeHigh, 1u);
    EXPECT_EQ(big.sizeLow, 1073741824u);
    uint64_t written = (uint64_t{big.lastWriteTime.high} << 32) | big.lastWriteTime.low;
    EXPECT_EQ(written, 125290707560000000ull) << "1998-01-12 09:25:56 UTC";
    uint64_t created = (uint64_t{big.creationTime.high} << 32) | big.creationTime.low;
    EXPECT_EQ(created, 125254717410000000ull) << "1997-12-01 17:42:21 UTC";
    EXPECT_EQ(big.lastAccessTime.low | big.lastAccessTime.high, 0u);
    EXPECT_EQ(big.attributes, 0u);

    const WIN32_FIND_DATAW& bare = entries[1].record;
    EXPECT_EQ(bare.sizeHigh | bare.sizeLow | bare.creationTime.low | bare.creationTime.high, 0u);
    EXPECT_EQ(bare.lastWriteTime.low, 0xFFFFFFFEu) << "the host's mark for a missing time";
    EXPECT_EQ(bare.lastWriteTime.high, 0xFFFFFFFFu);

    EXPECT_EQ(entries[2].attributes, uint32_t{FileAttributeReadonly});
    EXPECT_EQ(entries[3].attributes, uint32_t{FileAttributeReadonly | FileAttributeDirectory});
    EXPECT_EQ(entries[4].attributes, 0u) << "a shared lock changes nothing";
    EXPECT_EQ(entries[5].attributes, 0u) << "nor an exclusive lock without owner";
}

TEST_F(ListingEntriesTest, NamesTheHostWouldMisreadAreNeverHandedOut) {
    std::string longName(300, 'x');
    std::string body = Body({
        Response("/d/."),
        Response("/d/.."),
        Response("/d/./"),
        Response("/d/%2E%2E"),
        Response("/d//"),
        Response("/d/back%5Cslash"),
        Response("/d/nul%00tail"),
        Response("/d/" + longName),
        Response("/d/kept"),
        Response("/d/" + std::string(258, 'y')),
    });
    std::vector<Entry> entries = List(body, 1);
    ASSERT_EQ(entries.size(), 2u);
    EXPECT_EQ(entries[0].name, "kept");
    EXPECT_EQ(entries[1].name.size(), 258u) << "a name that fits is whole";
    // The skipped names that are not just "here" or "up" are logged, once each.
    std::string joined;
    for (const std::string& line : logs)
        joined += line + "\n";
    EXPECT_NE(joined.find("back\\slash"), std::string::npos) << joined;
    EXPECT_NE(joined.find("nul"), std::string::npos) << joined;
    EXPECT_NE(joined.find(longName.substr(0, 100)), std::string::npos);
    EXPECT_EQ(joined.find("\n.."), std::string::npos) << joined;
}

TEST_F(ListingEntriesTest, AUtf8SequenceCutAtTheEndIsNoWholeName) {
    // The connection says UTF-8; the last escape starts a sequence that never ends.
    EXPECT_TRUE(List(Body({Response("/d/ab%C3")}), 1, 0, 1).empty());
    EXPECT_EQ(Names(List(Body({Response("/d/ab%C3%A4")}), 1, 0, 1)), "abä");
}

TEST_F(ListingEntriesTest, AnEmptyOrMissingCursorHasNoEntry) {
    WIN32_FIND_DATAW record;
    EXPECT_EQ(FillFindData(nullptr, &record), 1);
    EXPECT_EQ(NextEntry(nullptr), 0);
    EXPECT_EQ(FreeListing(nullptr), 0);
    EXPECT_TRUE(List(Body({}), 1).empty());
}

TEST(PercentDecodeTest, UTF8TestAcceptsOnlyWellFormedSequences) {
    struct Case {
        std::string bytes;
        bool passes;
    } cases[] = {
        {"plain", false},       {"\xC3\xA4", true},
        {"\xE2\x82\xAC", true}, {"\xF0\x9F\x98\x80", true},
        {"\xE4", false},        {"\xC3", false},
        {"\xA4x", false},       {"\xC3\xA4\xE4", false},
        {"\xC0\x80", true},     {"\xFC\x80\x80\x80\x80\x80", true},
        {"\xE2\x82x", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(PassesUtf8Test(c.bytes), c.passes) << testing::PrintToString(c.bytes);
}

}  // namespace
}  // namespace vodarezazuv
