#include "xml/multistatus.h"

#include <gtest/gtest.h>

#include <string>

#include "multistatus_trace.h"

namespace vodarezazuv {
namespace {

using testsupport::BodyOf;
using testsupport::TraceMultistatus;

struct Parsed {
    int32_t result;
    std::string trace;
    MultistatusPtr multistatus;
};

Parsed Parse(const std::string& body) {
    BodyBufferPtr buffer = BodyOf(body);
    Multistatus* multistatus = reinterpret_cast<Multistatus*>(1);
    int32_t result = ParseMultistatus(&multistatus, buffer.get());
    if (result != 0)
        return {result, multistatus == nullptr ? "" : "multistatus handed out on failure", nullptr};
    MultistatusPtr held(multistatus);
    std::string trace = TraceMultistatus(*held);
    return {result, trace, std::move(held)};
}

// One response /r with one 200 propstat whose prop holds `props`.
std::string WithProps(const std::string& props) {
    return "<D:multistatus xmlns:D='DAV:'><D:response><D:href>/r</D:href><D:propstat><D:prop>" +
           props + "</D:prop><D:status>HTTP/1.1 200 OK</D:status></D:propstat></D:response>" +
           "</D:multistatus>";
}

// The props lines of a WithProps body.
std::string PropsTrace(const std::string& props) {
    Parsed parsed = Parse(WithProps(props));
    if (parsed.result != 0)
        return "result " + std::to_string(parsed.result);
    const std::string head = "response \"/r\"\n propstat 200 \"OK\"";
    if (parsed.trace.compare(0, head.size(), head) != 0)
        return "unexpected: " + parsed.trace;
    return parsed.trace.size() > head.size() ? parsed.trace.substr(head.size() + 4) : "";
}

struct PropsCase {
    const char* props;
    const char* trace;
};

void ExpectProps(const PropsCase* begin, const PropsCase* end) {
    for (const PropsCase* c = begin; c != end; ++c)
        EXPECT_EQ(PropsTrace(c->props), c->trace) << c->props;
}

TEST(ParseMultistatus, ReadsDatesLengthAndTextsAndTheFirstValueWins) {
    const PropsCase cases[] = {
        {"<D:creationdate>1997-12-01T17:42:21-08:00</D:creationdate>",
         "created 1997-12-02T01:42:21Z"},
        {"<D:getlastmodified>Mon, 12 Jan 1998 09:25:56 GMT</D:getlastmodified>",
         "modified 1998-01-12T09:25:56Z"},
        {"<D:getlastmodified>unknown</D:getlastmodified>"
         "<D:getlastmodified>Mon, 12 Jan 1998 09:25:56 GMT</D:getlastmodified>"
         "<D:getlastmodified>Tue, 13 Jan 1998 10:00:00 GMT</D:getlastmodified>",
         "modified 1998-01-12T09:25:56Z"},
        // A date that reads as 0 leaves room for a later one.
        {"<D:creationdate>never</D:creationdate><D:creationdate/>"
         "<D:creationdate>2000-01-01</D:creationdate><D:creationdate>2001-01-01</D:creationdate>",
         "created 2000-01-01T00:00:00Z"},
        {"<D:getcontentlength>5000000000</D:getcontentlength>", "length 5000000000"},
        {"<D:getcontentlength> \n+12 bytes</D:getcontentlength>", "length 12"},
        {"<D:getcontentlength>-5</D:getcontentlength>", "length -5"},
        {"<D:getcontentlength>99999999999999999999</D:getcontentlength>",
         "length 9223372036854775807"},
        {"<D:getcontentlength>-99999999999999999999</D:getcontentlength>",
         "length -9223372036854775808"},
        {"<D:getcontentlength>none</D:getcontentlength><D:getcontentlength>0</D:getcontentlength>"
         "<D:getcontentlength>7</D:getcontentlength><D:getcontentlength>8</D:getcontentlength>",
         "length 7"},
        {"<D:displayname/><D:displayname> a &amp; b "
         "</D:displayname><D:displayname>c</D:displayname>",
         "name \" a & b \""},
        {"<D:getcontenttype>text/html</D:getcontenttype><D:getcontenttype>x/y</D:getcontenttype>",
         "type \"text/html\""},
    };
    ExpectProps(std::begin(cases), std::end(cases));
}

TEST(ParseMultistatus, CollectionFlagComesFromTheFirstChildOfResourceType) {
    const PropsCase cases[] = {
        {"<D:resourcetype><D:collection/></D:resourcetype>", "collection 1"},
        {"<D:resourcetype>\n  <D:collection/>\n</D:resourcetype>", "collection 1"},
        // Another namespace first: only the first child is looked at.
        {"<D:resourcetype><C:calendar xmlns:C='urn:c'/><D:collection/></D:resourcetype>", ""},
        {"<D:resourcetype><collection/></D:resourcetype>", ""},  // in no namespace
        {"<D:resourcetype/><D:resourcetype><D:collection/></D:resourcetype>", "collection 1"},
        {"<D:resourcetype><D:collection/></D:resourcetype><D:resourcetype><D:x/></D:resourcetype>",
         "collection 1"},
    };
    ExpectProps(std::begin(cases), std::end(cases));
}

TEST(ParseMultistatus, OwnerAndGroupComeFromTheirChildAndTheLastWins) {
    const PropsCase cases[] = {
        {"<D:owner><D:href>/u/ann</D:href></D:owner>", "owner \"/u/ann\""},
        {"<D:owner><D:href>/u/a</D:href></D:owner><D:owner><D:href>/u/b</D:href></D:owner>",
         "owner \"/u/b\""},
        {"<D:owner>plain text is not used</D:owner>", ""},
        {"<D:owner><D:href>/u/a</D:href></D:owner><D:owner><D:href/></D:owner>", "owner \"/u/a\""},
        {"<D:group><x:name xmlns:x='urn:x'>staff</x:name></D:group>", "group \"staff\""},
        {"<D:group><D:href>g1</D:href></D:group><D:group><D:href>g2</D:href></D:group>",
         "group \"g2\""},
        {"<D:group><D:href>/g/staff</D:href></D:group>", "group \"/g/staff\""},
    };
    ExpectProps(std::begin(cases), std::end(cases));
}

TEST(ParseMultistatus, ReadsSupportedLocksAndTheLastListWins) {
    const PropsCase cases[] = {
        {"<D:supportedlock>"
         "<D:lockentry><D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/></D:locktype>"
         "</D:lockentry>"
         "<D:other/>"
         "<D:lockentry><D:lockscope><D:shared/></D:lockscope><D:locktype><D:write/></D:locktype>"
         "</D:lockentry>"
         "<D:lockentry><D:lockscope/><D:locktype><x:read xmlns:x='urn:x'/></D:locktype>"
         "</D:lockentry>"
         "<D:lockentry><D:lockscope><D:shared/></D:lockscope><D:lockscope><D:exclusive/>"
         "</D:lockscope></D:lockentry>"
         "</D:supportedlock>",
         "supportedlock exclusive/write shared/write none/none exclusive/none"},
        {"<D:supportedlock/>", "supportedlock"},  // present and empty: not the same as absent
        {"<D:supportedlock><D:lockentry/></D:supportedlock><D:supportedlock/>", "supportedlock"},
    };
    ExpectProps(std::begin(cases), std::end(cases));
}

TEST(ParseMultistatus, ReadsActiveLocks) {
    const PropsCase cases[] = {
        {"<D:lockdiscovery><D:activelock>"
         "<D:locktype><D:write/></D:locktype><D:lockscope><D:exclusive/></D:lockscope>"
         "<D:depth>Infinity</D:depth><D:owner><D:href>mailto:ann@example.com</D:href></D:owner>"
         "<D:timeout>Second-3600</D:timeout>"
         "<D:locktoken><D:href>urn:uuid:1</D:href></D:locktoken>"
         "</D:activelock></D:lockdiscovery>",
         "lockdiscovery\n   activelock exclusive/write depth=2147483647 "
         "owner=\"mailto:ann@example.com\" timeout=\"Second-3600\" token=\"urn:uuid:1\""},
        // Plain owner text counts here; the first owner, timeout and token win, the last
        // scope, type and depth.
        {"<D:lockdiscovery><D:activelock>"
         "<D:owner>Jane</D:owner><D:owner>John</D:owner><D:group>staff</D:group>"
         "<D:lockscope><D:exclusive/></D:lockscope><D:lockscope><D:shared/></D:lockscope>"
         "<D:locktype><D:write/></D:locktype><D:locktype/>"
         "<D:depth>1</D:depth><D:depth>0</D:depth>"
         "<D:timeout>Infinite</D:timeout><D:timeout>Second-1</D:timeout>"
         "<D:locktoken><D:x>no href</D:x></D:locktoken>"
         "<D:locktoken><D:href>urn:a</D:href></D:locktoken>"
         "<D:locktoken><D:href>urn:b</D:href></D:locktoken>"
         "</D:activelock><D:activelock/></D:lockdiscovery>",
         "lockdiscovery\n   activelock shared/none depth=0 owner=\"Jane\" group=\"staff\" "
         "timeout=\"Infinite\" token=\"urn:a\"\n   activelock none/none depth=0"},
        // A first child without text leaves the element's own text; a group as an href.
        {"<D:lockdiscovery><D:activelock>"
         "<D:owner>Ann<D:href/></D:owner><D:group><D:href>/g/staff</D:href></D:group>"
         "</D:activelock><D:activelock><D:group>staff<D:href/></D:group></D:activelock>"
         "</D:lockdiscovery>",
         "lockdiscovery\n   activelock none/none depth=0 owner=\"Ann\" group=\"/g/staff\"\n"
         "   activelock none/none depth=0 group=\"staff\""},
        {"<D:lockdiscovery/>", "lockdiscovery"},
        {"<D:lockdiscovery><D:activelock/></D:lockdiscovery><D:lockdiscovery/>", "lockdiscovery"},
    };
    ExpectProps(std::begin(cases), std::end(cases));
}

TEST(ParseMultistatus, DepthInfinityIsCaseInsensitiveAndOtherDepthsAreNumbers) {
    struct Case {
        const char* text;
        int32_t depth;
    } cases[] = {
        {"Infinity", kDepthInfinity},
        {"infinity", kDepthInfinity},
        {"INFINITY", kDepthInfinity},
        {"iNfInItY", kDepthInfinity},
        {" Infinity", 0},
        {"Infinity ", 0},
        {"Infinit", 0},
        {"0", 0},
        {"1", 1},
        {" -3x", -3},
        {"99999999999", INT32_MAX},
        {"-99999999999", INT32_MIN},
        {"", 0},
    };
    for (const Case& c : cases) {
        Parsed parsed = Parse(WithProps(std::string("<D:lockdiscovery><D:activelock><D:depth>") +
                                        c.text + "</D:depth></D:activelock></D:lockdiscovery>"));
        ASSERT_EQ(parsed.result, 0);
        const DavProps* props = FindPropsByStatus(parsed.multistatus->responses.first, 200, 200);
        ASSERT_NE(props, nullptr);
        ASSERT_NE(props->activeLocks->first, nullptr);
        EXPECT_EQ(props->activeLocks->first->depth, c.depth) << '"' << c.text << '"';
    }
}

TEST(ParseMultistatus, KeepsEveryOtherPropertyWithItsNamespaceTextAndChildren) {
    const PropsCase cases[] = {
        {"<D:getetag>\"zzyzx\"</D:getetag>", "other {DAV:}getetag=\"\\\"zzyzx\\\"\""},
        {"<Z:Win32FileAttributes xmlns:Z='urn:schemas-microsoft-com:'>00000020"
         "</Z:Win32FileAttributes>",
         "other {urn:schemas-microsoft-com:}Win32FileAttributes=\"00000020\""},
        {"<R:bigbox xmlns:R='http://ns.example.com/boxschema/' a='1'>"
         "<R:BoxType>Box type A</R:BoxType></R:bigbox><plain>p</plain>"
         "<x:creationdate xmlns:x='urn:x'>2000-01-01</x:creationdate>",
         "other {http://ns.example.com/boxschema/}bigbox({http://ns.example.com/boxschema/}BoxType="
         "\"Box type A\")\n   other plain=\"p\"\n   other {urn:x}creationdate=\"2000-01-01\""},
    };
    ExpectProps(std::begin(cases), std::end(cases));
}

TEST(ParseMultistatus, ReadsResponsesHrefsAndStatuses) {
    struct Case {
        const char* body;
        const char* trace;
    } cases[] = {
        // The first href with text, whitespace and all.
        {"<m xmlns='DAV:'><response><href/><href>/a b/</href><href>/c</href></response></m>",
         "response \"/a b/\""},
        {"<m xmlns='DAV:'><response><href>http://h/x</href><status>HTTP/1.1 423 Locked</status>"
         "</response><response/></m>",
         "response \"http://h/x\"\nresponse"},
        {"<m xmlns='DAV:'><response><propstat><status>HTTP/1.1 404 Not Found</status></propstat>"
         "<propstat><status>HTTP/1.1 200</status><prop/></propstat></response></m>",
         "response\n propstat 404 \"Not Found\" (no prop)\n propstat 200"},
        // A status without three digits after the first blank sets nothing, so the next one
        // is read; once one was read the rest are not.
        {"<m xmlns='DAV:'><response><propstat><status>HTTP/1.1 2</status><status>HTTP/1.1</status>"
         "<status>HTTP/1.1 2x0 OK</status><status/><status>HTTP/1.1 207  Multi\nStatus </status>"
         "<status>HTTP/1.1 500 Error</status></propstat></response></m>",
         "response\n propstat 207 \" Multi\\nStatus \" (no prop)"},
        {"<m xmlns='DAV:'><response><propstat><status>x 999</status></propstat></response></m>",
         "response\n propstat 999 (no prop)"},
        // A later prop in the same propstat replaces the earlier one.
        {"<m xmlns='DAV:'><response><propstat><prop><displayname>old</displayname></prop>"
         "<prop><getcontentlength>3</getcontentlength></prop></propstat></response></m>",
         "response\n propstat 0\n   length 3"},
        // Any document element counts; only its direct response children do.
        {"<x:whatever xmlns:x='urn:y' xmlns:D='DAV:'><D:response><D:href>/1</D:href></D:response>"
         "<D:wrapper><D:response><D:href>/nested</D:href></D:response></D:wrapper>"
         "<x:response/><response/></x:whatever>",
         "response \"/1\""},
        {"<multistatus><response><href>/no-namespace</href></response></multistatus>", ""},
        {"<D:error xmlns:D='DAV:'><D:lock-token-submitted/></D:error>", ""},
        {"", ""},
    };
    for (const Case& c : cases) {
        Parsed parsed = Parse(c.body);
        EXPECT_EQ(parsed.result, 0) << c.body;
        EXPECT_EQ(parsed.trace, c.trace) << c.body;
    }
}

TEST(ParseMultistatus, FailsWithoutAMultistatusOnBadInput) {
    EXPECT_EQ(Parse("<D:multistatus xmlns:D='DAV:'><D:response>").result, kXmlNotWellFormed);
    EXPECT_EQ(Parse("<D:multistatus>").result, kXmlNotWellFormed);
    BodyBufferPtr buffer = BodyOf("<a/>");
    Multistatus* multistatus = nullptr;
    EXPECT_EQ(ParseMultistatus(nullptr, buffer.get()), kXmlMissingArgument);
    EXPECT_EQ(ParseMultistatus(&multistatus, nullptr), kXmlMissingArgument);
    EXPECT_EQ(multistatus, nullptr);
    FreeMultistatus(&multistatus);
    FreeMultistatus(nullptr);
}

TEST(FindPropsByStatus, TakesTheFirstPropStatInTheRangeEvenWithoutProps) {
    Parsed parsed = Parse(
        "<m xmlns='DAV:'>"
        "<response><propstat><prop><displayname>missing</displayname></prop>"
        "<status>HTTP/1.1 404 Not Found</status></propstat>"
        "<propstat><prop><displayname>found</displayname></prop>"
        "<status>HTTP/1.1 200 OK</status></propstat></response>"
        "<response><propstat><status>HTTP/1.1 200 OK</status></propstat>"
        "<propstat><prop><displayname>later</displayname></prop>"
        "<status>HTTP/1.1 200 OK</status></propstat></response>"
        "</m>");
    ASSERT_EQ(parsed.result, 0);
    const DavResponse* first = parsed.multistatus->responses.first;
    const DavResponse* second = first->next;
    struct Case {
        const DavResponse* response;
        int32_t low, high;
        const char* name;
    } cases[] = {
        {first, 200, 200, "found"},   {first, 400, 499, "missing"}, {first, 100, 999, "missing"},
        {first, 201, 399, nullptr},   {second, 200, 200, nullptr},  // first 200 has no prop
        {nullptr, 200, 200, nullptr},
    };
    for (const Case& c : cases) {
        const DavProps* props = FindPropsByStatus(c.response, c.low, c.high);
        if (c.name == nullptr)
            EXPECT_EQ(props, nullptr) << c.low << "-" << c.high;
        else if (props == nullptr)
            ADD_FAILURE() << "no props for " << c.low << "-" << c.high;
        else
            EXPECT_STREQ(props->displayName, c.name);
    }
}

TEST(FindActiveLock, TakesTheFirstLockOfTheScopeAndType) {
    Parsed parsed = Parse(WithProps(
        "<D:lockdiscovery>"
        "<D:activelock><D:lockscope><D:shared/></D:lockscope><D:locktype><D:write/></D:locktype>"
        "<D:owner>shared</D:owner></D:activelock>"
        "<D:activelock><D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/>"
        "</D:locktype><D:owner>first</D:owner></D:activelock>"
        "<D:activelock><D:lockscope><D:exclusive/></D:lockscope><D:locktype><D:write/>"
        "</D:locktype><D:owner>second</D:owner></D:activelock>"
        "</D:lockdiscovery>"));
    ASSERT_EQ(parsed.result, 0);
    const DavProps* props = FindPropsByStatus(parsed.multistatus->responses.first, 200, 200);
    ASSERT_NE(props, nullptr);
    const ActiveLock* exclusive = FindActiveLock(props, LockScopeExclusive, LockTypeWrite);
    ASSERT_NE(exclusive, nullptr);
    EXPECT_STREQ(exclusive->owner, "first");
    const ActiveLock* shared = FindActiveLock(props, LockScopeShared, LockTypeWrite);
    ASSERT_NE(shared, nullptr);
    EXPECT_STREQ(shared->owner, "shared");
    EXPECT_EQ(FindActiveLock(props, LockScopeExclusive, LockTypeNone), nullptr);
    EXPECT_EQ(FindActiveLock(nullptr, LockScopeExclusive, LockTypeWrite), nullptr);

    Parsed noLocks = Parse(WithProps("<D:displayname>x</D:displayname>"));
    const DavProps* without = FindPropsByStatus(noLocks.multistatus->responses.first, 200, 200);
    ASSERT_NE(without, nullptr);
    EXPECT_EQ(FindActiveLock(without, LockScopeExclusive, LockTypeWrite), nullptr);
}

// A property nested a million levels deep is copied into otherProps and freed with the
// multistatus, without recursion.
TEST(ParseMultistatus, KeepsAndFreesAPropertyNestedAMillionLevelsDeep) {
    constexpr int kDepth = 1'000'000;
    std::string nested;
    nested.reserve(7 * kDepth + 8);
    for (int i = 0; i < kDepth; ++i)
        nested += "<x>";
    for (int i = 0; i < kDepth; ++i)
        nested += "</x>";
    Parsed parsed = Parse(WithProps("<D:displayname>n</D:displayname>" + nested));
    ASSERT_EQ(parsed.result, 0);
    const DavProps* props = FindPropsByStatus(parsed.multistatus->responses.first, 200, 200);
    ASSERT_NE(props, nullptr);
    EXPECT_STREQ(props->displayName, "n");
    int depth = 0;
    for (const XmlNode* node = props->otherProps.first; node != nullptr; node = node->firstChild)
        ++depth;
    EXPECT_EQ(depth, kDepth);
}

}  // namespace
}  // namespace vodarezazuv
