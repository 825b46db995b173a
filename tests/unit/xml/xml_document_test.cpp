#include "xml/xml_document.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <string>
#include <vector>

#include "xml/markup_scan.h"
#include "xml_trace.h"

namespace vodarezazuv {
namespace {

using testsupport::BodyOf;
using testsupport::TraceChildren;
using testsupport::TraceNode;

struct Built {
    int32_t result;
    std::string trace;
};

Built Build(const std::string& body) {
    BodyBufferPtr buffer = BodyOf(body);
    // A sentinel that the builder must overwrite; only what it hands out is freed.
    XmlDocument* const untouched = reinterpret_cast<XmlDocument*>(1);
    XmlDocument* document = untouched;
    int32_t result = BuildXmlDocument(&document, buffer.get());
    if (document == untouched)
        return {result, "the output was not set"};
    XmlDocumentPtr held(document);
    if (result != kXmlOk)
        return {result, document == nullptr ? "" : "document handed out on failure"};
    if (document->current != document->root)
        return {result, "current is not the root"};
    return {result, TraceChildren(document->root)};
}

// A body of exactly `length` bytes: the element a holding `before`, then x characters, then
// `after`. Used to put a piece of text across the 128-byte chunk boundary.
std::string Padded(const std::string& before, const std::string& after, size_t length) {
    std::string open = "<a>" + before, close = after + "</a>";
    return open + std::string(length - open.size() - close.size(), 'x') + close;
}

TEST(BuildXmlDocument, KeepsElementsWithTheirNamespaceAndAllTheirText) {
    struct Case {
        const char* body;
        const char* trace;
    } cases[] = {
        // Text before and after a child is one string; the child has none.
        {"<a xmlns='DAV:'>x<b/>y</a>", "{DAV:}a=\"xy\"({DAV:}b)"},
        // The URI keeps its own trailing slash; the name is only the local part.
        {"<R:bigbox xmlns:R='http://ns.example.com/boxschema/'/>",
         "{http://ns.example.com/boxschema/}bigbox"},
        {"<plain><x/></plain>", "plain(x)"},
        {"<D:a xmlns:D='DAV:' xmlns='urn:x'><b/><D:c/><e xmlns=''/></D:a>",
         "{DAV:}a({urn:x}b {DAV:}c e)"},
        {"<a>x &amp; y&lt;&#228;&#x20AC;</a>", "a=\"x & y<\xC3\xA4\xE2\x82\xAC\""},
        {"<a><![CDATA[<not>&amp;]]></a>", "a=\"<not>&amp;\""},
        {"<a>\n <b/>\r\n</a>", "a=\"\\n \\n\"(b)"},  // white space kept, line ends as XML says
        {"<a x='1' xmlns:D='DAV:' D:y='2'/>", "a"},  // attributes are not kept
        // Declaration, comments, processing instructions and the document type are dropped;
        // internal entities are still expanded.
        {"<?xml version='1.0' encoding='utf-8'?><!-- c --><?pi x?>"
         "<!DOCTYPE a [<!ENTITY e 'ee'>]><a><!--in-->t<?pi y?>&e;</a><!-- end -->",
         "a=\"tee\""},
        // An external entity is neither fetched nor expanded.
        {"<!DOCTYPE a [<!ENTITY e SYSTEM 'file:///etc/passwd'>]><a>&e;</a>", "a"},
        {"<?xml version='1.0' encoding='ISO-8859-1'?><a>\xE4</a>", "a=\"\xC3\xA4\""},
        {"<a><b><c>deep</c></b><d/></a>", "a(b(c=\"deep\") d)"},
    };
    for (const Case& c : cases) {
        Built built = Build(c.body);
        EXPECT_EQ(built.result, kXmlOk) << c.body;
        EXPECT_EQ(built.trace, c.trace) << c.body;
    }
}

TEST(BuildXmlDocument, ReadsUtf16BodiesByTheirByteOrderMark) {
    const char utf16[] = "\xFF\xFE<\0a\0>\0\xE4\0<\0/\0a\0>\0";
    Built built = Build(std::string(utf16, sizeof utf16 - 1));
    EXPECT_EQ(built.result, kXmlOk);
    EXPECT_EQ(built.trace, "a=\"\xC3\xA4\"");
}

TEST(BuildXmlDocument, JoinsTextAcrossTheChunkBoundary) {
    struct Case {
        std::string body;
        const char* what;
    } cases[] = {
        {Padded("", "\xC3\xA4", 129 + 4), "a two-byte character across bytes 127 and 128"},
        {Padded("", "&amp;", 128 + 2 + 4), "an entity reference across the boundary"},
        {Padded("", "", 129), "a run of text across the boundary"},
    };
    for (const Case& c : cases) {
        Built built = Build(c.body);
        ASSERT_EQ(built.result, kXmlOk) << c.what;
        std::string text = c.body.substr(3, c.body.size() - 7);
        if (text.find("&amp;") != std::string::npos)
            text.replace(text.find("&amp;"), 5, "&");
        EXPECT_EQ(built.trace, "a=\"" + text + "\"") << c.what;
    }
}

TEST(BuildXmlDocument, AnEmptyBodyGivesADocumentWithoutElements) {
    BodyBuffer* buffer = nullptr;
    ASSERT_EQ(CreateBodyBuffer(&buffer), kBodyOk);
    BodyBufferPtr held(buffer);
    XmlDocument* document = nullptr;
    ASSERT_EQ(BuildXmlDocument(&document, buffer), kXmlOk);
    ASSERT_NE(document, nullptr);
    EXPECT_EQ(document->root->firstChild, nullptr);
    EXPECT_EQ(document->root->name, nullptr);
    EXPECT_EQ(document->current, document->root);
    FreeXmlDocument(document);
    FreeXmlDocument(nullptr);
}

TEST(BuildXmlDocument, RefusesBodiesThatAreNotWellFormed) {
    std::string laughs = "<!DOCTYPE a [<!ENTITY l0 'lollollollollollollollollollol'>";
    for (int i = 1; i <= 9; ++i) {
        std::string previous = "&l" + std::to_string(i - 1) + ";";
        std::string ten;
        for (int k = 0; k < 10; ++k)
            ten += previous;
        laughs += "<!ENTITY l" + std::to_string(i) + " '" + ten + "'>";
    }
    laughs += "]><a>&l9;</a>";
    struct Case {
        std::string body;
        const char* what;
    } cases[] = {
        {"<a>", "cut off inside the only, final chunk"},
        {Padded("", "", 128).substr(0, 124), "cut off in the first chunk"},
        {"<a>" + std::string(125, 'x'), "cut off at exactly 128 bytes: a last empty final call"},
        {"<a>" + std::string(253, 'x'), "cut off at exactly 256 bytes"},
        {"<a></b>", "mismatched end tag"},
        {"<a/><b/>", "two document elements"},
        {"hello", "no markup"},
        {"<D:a/>", "undeclared prefix"},
        {"<?xml version='1.0' encoding='Windows-1252'?><a/>", "encoding expat does not know"},
        {"<a>&#0;</a>", "a character XML does not allow"},
        {"<a>&undefined;</a>", "undefined entity"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Build(c.body).result, kXmlNotWellFormed) << c.what;
    // Entities that expand a billion times: the tree's budget stops the text long before
    // expat's own protection would.
    EXPECT_EQ(Build(laughs).result, kXmlNoMemory);
    EXPECT_EQ(Build("<a>" + std::string(126, 'x') + "</a>").result, kXmlOk) << "129 bytes";
    EXPECT_EQ(Build(Padded("", "", 128)).result, kXmlOk) << "a whole document of 128 bytes";
}

// expat scans an incomplete token again on every chunk, so one token of a megabyte would
// take seconds and a few megabytes minutes: such a body is refused after one quick pass.
TEST(BuildXmlDocument, RefusesAMegabyteTokenQuicklyAndStillParsesRealAnswers) {
    const std::string mega(1 << 20, 'v');
    struct Case {
        std::string body;
        const char* what;
    } cases[] = {
        {"<a b='" + mega + "'/>", "a megabyte attribute value"},
        {"<a" + mega + "/>", "a megabyte element name"},
        {"<a><!--" + mega + "--></a>", "a megabyte comment"},
    };
    for (const Case& c : cases) {
        auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(Build(c.body).result, kXmlNotWellFormed) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
    }
    EXPECT_EQ(Build("<a b='" + std::string(kMarkupTokenLimit - 9, 'v') + "'/>").result, kXmlOk)
        << "a tag of exactly the limit";
    for (const char* file : {"apache_propfind_depth1.xml", "apache_propfind_depth1_nested.xml",
                             "rfc4918_lockdiscovery.xml"}) {
        Built built = Build(testsupport::ReadMultistatusFixture(file));
        EXPECT_EQ(built.result, kXmlOk) << file;
        EXPECT_NE(built.trace, "") << file;
    }
}

TEST(BuildXmlDocument, MissingArgumentsAreRefused) {
    BodyBufferPtr buffer = BodyOf("<a/>");
    XmlDocument* document = nullptr;
    EXPECT_EQ(BuildXmlDocument(nullptr, buffer.get()), kXmlMissingArgument);
    EXPECT_EQ(BuildXmlDocument(&document, nullptr), kXmlMissingArgument);
    EXPECT_EQ(document, nullptr);
}

// The buffer's own operations are replaced by recording ones, which shows how the builder
// reads: from position 0 whatever was read before, 128 bytes at a time, once to measure the
// markup tokens and once for the parser.
// BodyBuffer is a base, so an operation gets back to the whole object with a static_cast.
struct RecordingBody : BodyBuffer {
    std::string calls;
};

int32_t RecordSeek(BodyBuffer* self, int32_t position) {
    auto* recording = static_cast<RecordingBody*>(self);
    recording->calls += "seek " + std::to_string(position) + ";";
    self->readPos = position;
    return kBodyOk;
}

int32_t RecordRead(BodyBuffer* self, void* destination, int32_t maximum, int32_t* count) {
    auto* recording = static_cast<RecordingBody*>(self);
    int32_t remaining = self->length - self->readPos;
    *count = maximum < remaining ? maximum : remaining;
    std::memcpy(destination, self->data + self->readPos, static_cast<size_t>(*count));
    self->readPos += *count;
    recording->calls += "read " + std::to_string(maximum) + "=" + std::to_string(*count) + ";";
    return kBodyOk;
}

TEST(BuildXmlDocument, ReadsTheBufferFromTheStartIn128ByteChunks) {
    struct Case {
        size_t length;
        const char* calls;
    } cases[] = {
        {129, "seek 0;read 128=128;read 128=1;read 128=0;seek 0;read 128=128;read 128=1;"},
        {100, "seek 0;read 128=100;read 128=0;seek 0;read 128=100;"},
        {256,
         "seek 0;read 128=128;read 128=128;read 128=0;seek 0;read 128=128;read 128=128;read "
         "128=0;"},
    };
    for (const Case& c : cases) {
        BodyBufferPtr source = BodyOf(Padded("", "", c.length));
        RecordingBody recording{*source, ""};
        recording.Seek = RecordSeek;
        recording.Read = RecordRead;
        recording.readPos = 50;
        XmlDocument* document = nullptr;
        EXPECT_EQ(BuildXmlDocument(&document, &recording), kXmlOk) << c.length;
        FreeXmlDocument(document);
        EXPECT_EQ(recording.calls, c.calls) << c.length;
    }
}

TEST(XmlNode, CreateCopiesItsStringsAndNeedsAName) {
    std::string name = "n", uri = "DAV:", text = "t";
    XmlNode* node = nullptr;
    ASSERT_EQ(CreateXmlNode(&node, name.c_str(), uri.c_str(), text.c_str()), kXmlOk);
    XmlNodePtr held(node);
    name[0] = uri[0] = text[0] = '?';
    EXPECT_EQ(TraceNode(node), "{DAV:}n=\"t\"");
    EXPECT_EQ(node->parent, nullptr);
    EXPECT_EQ(node->nextSibling, nullptr);
    XmlNode* other = nullptr;
    EXPECT_EQ(CreateXmlNode(&other, nullptr, "DAV:", nullptr), kXmlMissingArgument);
    EXPECT_EQ(CreateXmlNode(nullptr, "n", nullptr, nullptr), kXmlMissingArgument);
    EXPECT_EQ(other, nullptr);
}

TEST(XmlNode, IsMatchesLocalNameAndNamespaceExactly) {
    XmlNode* dav = nullptr;
    XmlNode* plain = nullptr;
    ASSERT_EQ(CreateXmlNode(&dav, "href", "DAV:", nullptr), kXmlOk);
    ASSERT_EQ(CreateXmlNode(&plain, "href", nullptr, nullptr), kXmlOk);
    XmlNodePtr heldDav(dav), heldPlain(plain);
    struct Case {
        const XmlNode* node;
        const char* name;
        const char* uri;
        bool is;
    } cases[] = {
        {dav, "href", "DAV:", true},  {dav, "HREF", "DAV:", false},  // names compare with case
        {dav, "href", "dav:", false}, {dav, "href", "DAV:/", false},
        {dav, "hre", "DAV:", false},  {plain, "href", "DAV:", false},  // no namespace never matches
        {plain, "href", "", false},   {nullptr, "href", "DAV:", false},
    };
    for (const Case& c : cases)
        EXPECT_EQ(XmlNodeIs(c.node, c.name, c.uri), c.is) << c.name << " in " << c.uri;
}

// Parses body and hands out the document element, detached from its document.
XmlNodePtr ElementOf(const std::string& body) {
    BodyBufferPtr buffer = BodyOf(body);
    XmlDocument* document = nullptr;
    if (BuildXmlDocument(&document, buffer.get()) != kXmlOk)
        return nullptr;
    XmlNode* element = document->root->firstChild;
    document->root->firstChild = document->root->lastChild = nullptr;
    FreeXmlDocument(document);
    if (element != nullptr)
        element->parent = nullptr;
    return XmlNodePtr(element);
}

TEST(XmlNode, CopyIsDeepAndLeavesOutTheSiblings) {
    XmlNodePtr element =
        ElementOf("<r xmlns:v='urn:v/'><v:a>one<v:b>two<c/>three</v:b><v:d/>four</v:a><e/></r>");
    ASSERT_NE(element, nullptr);
    const XmlNode* a = element->firstChild;
    XmlNode* copy = nullptr;
    ASSERT_EQ(CopyXmlNode(a, &copy), kXmlOk);
    XmlNodePtr heldCopy(copy);
    EXPECT_EQ(TraceNode(copy), "{urn:v/}a=\"onefour\"({urn:v/}b=\"twothree\"(c) {urn:v/}d)");
    EXPECT_EQ(TraceNode(copy), TraceNode(a));
    EXPECT_EQ(copy->parent, nullptr);
    EXPECT_EQ(copy->nextSibling, nullptr);
    EXPECT_NE(copy->firstChild, a->firstChild);

    XmlNode* leaf = nullptr;
    ASSERT_EQ(CopyXmlNode(a->lastChild, &leaf), kXmlOk);
    XmlNodePtr heldLeaf(leaf);
    EXPECT_EQ(TraceNode(leaf), "{urn:v/}d");
    EXPECT_EQ(CopyXmlNode(nullptr, &leaf), kXmlMissingArgument);
    EXPECT_EQ(CopyXmlNode(a, nullptr), kXmlMissingArgument);
}

TEST(XmlNode, FreeTakesTheSubtreeAndClearsTheHolder) {
    XmlNodePtr element = ElementOf("<r><a><b/><c><d/></c></a><e>kept</e></r>");
    ASSERT_NE(element, nullptr);
    XmlNode* a = element->firstChild;
    XmlNode* e = a->nextSibling;
    element->firstChild = e;  // unlinked by hand; the sibling must survive the free
    e->prevSibling = nullptr;
    FreeXmlNode(&a);
    EXPECT_EQ(a, nullptr);
    EXPECT_EQ(TraceNode(element.get()), "r(e=\"kept\")");
    FreeXmlNode(&a);
    FreeXmlNode(nullptr);
}

// A server can nest elements as deep as it likes; expat accepts it, so building, copying and
// freeing must not depend on the depth.
TEST(XmlNode, AMillionLevelsDeepCopyAndFreeWithoutRecursion) {
    constexpr int kDepth = 1'000'000;
    std::string body;
    body.reserve(7 * kDepth + 16);
    for (int i = 0; i < kDepth; ++i)
        body += "<a>";
    body += "end";
    for (int i = 0; i < kDepth; ++i)
        body += "</a>";
    XmlNodePtr element = ElementOf(body);
    ASSERT_NE(element, nullptr);
    XmlNode* copy = nullptr;
    ASSERT_EQ(CopyXmlNode(element.get(), &copy), kXmlOk);
    XmlNodePtr heldCopy(copy);
    int depth = 1;
    const XmlNode* node = copy;
    for (; node->firstChild != nullptr; node = node->firstChild) {
        ASSERT_EQ(node->firstChild->parent, node);
        ++depth;
    }
    EXPECT_EQ(depth, kDepth);
    ASSERT_NE(node->text, nullptr);
    EXPECT_STREQ(node->text, "end");
}

// Text grows geometrically: a hundred thousand runs move the text a few dozen times, not
// once per run, so a body of many tiny runs costs linear time.
TEST(XmlNode, TextOfManyRunsIsMovedOnlyLogarithmicallyOften) {
    XmlNode* node = nullptr;
    ASSERT_EQ(CreateXmlNode(&node, "a", nullptr, nullptr), kXmlOk);
    XmlNodePtr held(node);
    int moves = 0;
    const char* before = nullptr;
    for (int i = 0; i < 100'000; ++i) {
        ASSERT_EQ(AppendXmlText(node, i % 2 == 0 ? "ab" : "c", i % 2 == 0 ? 2 : 1), kXmlOk);
        if (node->text != before)
            ++moves;
        before = node->text;
    }
    EXPECT_LE(moves, 40);
    EXPECT_EQ(node->textLength, 150'000u);
    EXPECT_EQ(std::string(node->text).size(), 150'000u);
    EXPECT_EQ(std::string(node->text, 6), "abcabc");

    std::string manyRuns = "<a>";
    for (int i = 0; i < 200'000; ++i)
        manyRuns += "&amp;";
    manyRuns += "</a>";
    XmlNodePtr parsed = ElementOf(manyRuns);
    ASSERT_NE(parsed, nullptr);
    EXPECT_EQ(parsed->textLength, 200'000u);
}

TEST(XmlDocumentTest, ASinkGetsEachChildOfTheDocumentElementWhole) {
    struct Seen {
        std::vector<std::string> children;
        bool alone = true;  // no earlier child was still in the tree
        int stopAt = 0;
    } seen;
    auto onChild = [](void* user, const XmlNode* child) -> int32_t {
        auto& s = *static_cast<Seen*>(user);
        std::string text = child->name;
        for (const XmlNode* c = child->firstChild; c != nullptr; c = c->nextSibling)
            text += std::string(":") + c->name + "=" + (c->text != nullptr ? c->text : "");
        s.children.push_back(text);
        s.alone = s.alone && child->prevSibling == nullptr;
        return static_cast<int>(s.children.size()) == s.stopAt ? kXmlNoMemory : kXmlOk;
    };
    XmlChildSink sink{onChild, &seen};
    BodyBufferPtr buffer =
        BodyOf("<m xmlns='DAV:'>t<r><h>1</h></r><x/><r><h>2</h><h>3</h></r></m>");
    XmlDocument* document = nullptr;
    ASSERT_EQ(BuildXmlDocument(&document, buffer.get(), &sink), kXmlOk);
    XmlDocumentPtr held(document);
    EXPECT_EQ(seen.children, (std::vector<std::string>{"r:h=1", "x", "r:h=2:h=3"}));
    EXPECT_TRUE(seen.alone) << "a child is freed once the sink has it";
    ASSERT_NE(document->root->firstChild, nullptr);
    EXPECT_EQ(document->root->firstChild->firstChild, nullptr);
    EXPECT_STREQ(document->root->firstChild->text, "t") << "the document element stays";

    // A failure of the sink ends the build with its code, and nothing is handed out.
    seen = Seen{};
    seen.stopAt = 2;
    document = reinterpret_cast<XmlDocument*>(1);
    EXPECT_EQ(BuildXmlDocument(&document, buffer.get(), &sink), kXmlNoMemory);
    EXPECT_EQ(document, nullptr);
    EXPECT_EQ(seen.children.size(), 2u);
}

}  // namespace
}  // namespace vodarezazuv
