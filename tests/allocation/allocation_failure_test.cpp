// Every allocation of the XML layer is made to fail in turn: each failure must give an out-of-
// memory code, hand out nothing and leave nothing allocated.
#include <gtest/gtest.h>

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "failing_allocator.h"
#include "multistatus_trace.h"
#include "xml/markup_scan.h"
#include "xml/multistatus.h"
#include "xml/xml_document.h"

namespace vodarezazuv {
namespace {

using testsupport::AllocationFailed;
using testsupport::FailNothrowAllocation;
using testsupport::LiveAllocations;
using testsupport::PeakBytes;
using testsupport::ResetPeakBytes;

// Runs attempt with the first, second, ... nothrow allocation failing until one run needs no
// failure; returns how many runs failed. attempt returns its result code and leaves nothing
// allocated itself when it succeeds; codeOf(n) is the code expected when allocation n fails.
template <typename Attempt, typename CodeOf>
size_t FailEachAllocation(Attempt attempt, CodeOf codeOf) {
    for (size_t n = 1;; ++n) {
        size_t before = LiveAllocations();
        FailNothrowAllocation(n);
        int32_t result = attempt();
        bool failed = AllocationFailed();
        FailNothrowAllocation(0);
        EXPECT_EQ(LiveAllocations(), before) << "allocation " << n << " failing leaks";
        if (!failed) {
            EXPECT_EQ(result, 0) << "no failure left";
            return n - 1;
        }
        EXPECT_EQ(result, codeOf(n)) << "allocation " << n << " failing";
    }
}

// Every failure gives the same code.
auto Always(int32_t code) {
    return [code](size_t) { return code; };
}

TEST(AllocationFailure, ParseMultistatusFailsCleanlyAtEveryAllocation) {
    for (const char* file : {"apache_propfind_depth1.xml", "rfc4918_propfind_allprop.xml",
                             "rfc4918_lockdiscovery.xml"}) {
        BodyBufferPtr buffer = testsupport::BodyOf(testsupport::ReadMultistatusFixture(file));
        ASSERT_NE(buffer, nullptr);
        Multistatus* reference = nullptr;
        ASSERT_EQ(ParseMultistatus(&reference, buffer.get()), 0);
        const std::string expected = testsupport::TraceMultistatus(*reference);
        FreeMultistatus(&reference);

        // The first allocation is the Multistatus record; then the tree's and the records'
        // interleave, each response being read as soon as its elements are complete. A
        // failure gives the tree's code or the records' own, so each code must come up once
        // per allocation of its kind: the tree's as often as the tree alone allocates.
        size_t treeAllocations = FailEachAllocation(
            [&] {
                XmlDocument* document = nullptr;
                int32_t result = BuildXmlDocument(&document, buffer.get());
                FreeXmlDocument(document);
                return result;
            },
            Always(kXmlNoMemory));
        size_t treeCodes = 0;
        int32_t lastResult = 0;
        auto codeOf = [&lastResult](size_t n) {
            if (n == 1)
                return kMultistatusNoMemory;
            return lastResult == kMultistatusNoMemory ? kMultistatusNoMemory : kXmlNoMemory;
        };
        bool sameRecords = true;
        size_t failures = FailEachAllocation(
            [&] {
                Multistatus* multistatus = reinterpret_cast<Multistatus*>(1);
                int32_t result = ParseMultistatus(&multistatus, buffer.get());
                lastResult = result;
                if (result != 0) {
                    sameRecords = sameRecords && multistatus == nullptr;
                    treeCodes += result == kXmlNoMemory ? 1 : 0;
                    return result;
                }
                sameRecords =
                    sameRecords && testsupport::TraceMultistatus(*multistatus) == expected;
                FreeMultistatus(&multistatus);
                return result;
            },
            codeOf);
        EXPECT_EQ(treeCodes, treeAllocations) << file;
        EXPECT_TRUE(sameRecords) << file;
        EXPECT_GT(failures, 100u) << file;
        EXPECT_GT(failures, treeAllocations + 1) << file << ": the records allocate too";
    }
}

TEST(AllocationFailure, CopyAndCreateFailCleanlyAtEveryAllocation) {
    BodyBufferPtr buffer =
        testsupport::BodyOf("<a xmlns='urn:a'>one<b>two<c/></b><d><e><f>deep</f></e></d>three</a>");
    XmlDocument* document = nullptr;
    ASSERT_EQ(BuildXmlDocument(&document, buffer.get()), kXmlOk);
    XmlDocumentPtr held(document);
    const XmlNode* a = document->root->firstChild;
    size_t failures = FailEachAllocation(
        [&] {
            XmlNode* copy = nullptr;
            int32_t result = CopyXmlNode(a, &copy);
            if (result == kXmlOk) {
                EXPECT_EQ(testsupport::TraceNode(copy), testsupport::TraceNode(a));
                FreeXmlNode(&copy);
            }
            return result;
        },
        Always(kXmlNoMemory));
    EXPECT_GT(failures, 0u);

    FailEachAllocation(
        [] {
            XmlNode* node = nullptr;
            int32_t result = CreateXmlNode(&node, "n", "DAV:", "t");
            FreeXmlNode(&node);
            return result;
        },
        Always(kXmlNoMemory));
    FailEachAllocation(
        [] {
            BodyBuffer* body = nullptr;
            int32_t result = CreateBodyBuffer(&body);
            DestroyBodyBuffer(&body);
            return result;
        },
        Always(kBodyNoMemory));
}

// A few hundred bytes of body can ask for gigabytes of tree: entities that expand to a
// million elements, or a long namespace URI that every element copies. The tree's budget
// stops both early with the out-of-memory code, freeing what was built.
TEST(MemoryBound, SmallBodiesThatAskForAHugeTreeRunOutOfTheirBudget) {
    std::string laughs = "<!DOCTYPE a [<!ENTITY e0 '<x/>'>";
    for (int i = 1; i <= 6; ++i) {
        laughs += "<!ENTITY e" + std::to_string(i) + " '";
        for (int k = 0; k < 10; ++k)
            laughs += "&e" + std::to_string(i - 1) + ";";
        laughs += "'>";
    }
    laughs += "]><a>&e6;</a>";
    // As long a namespace URI as the start tag, one markup token, may carry.
    std::string wideNamespace = "<a xmlns='urn:" + std::string(kMarkupTokenLimit - 16, 'u') + "'>";
    for (int i = 0; i < 20'000; ++i)
        wideNamespace += "<b/>";
    wideNamespace += "</a>";
    struct Case {
        std::string body;
        const char* what;
    } cases[] = {
        {laughs, "nested entities expanding to a million elements"},
        {wideNamespace, "a 16 KB default namespace and 20,000 empty elements"},
    };
    for (const Case& c : cases) {
        BodyBufferPtr buffer = testsupport::BodyOf(c.body);
        ASSERT_NE(buffer, nullptr);
        size_t before = LiveAllocations();
        ResetPeakBytes();
        size_t base = PeakBytes();
        auto start = std::chrono::steady_clock::now();
        XmlDocument* document = nullptr;
        EXPECT_EQ(BuildXmlDocument(&document, buffer.get()), kXmlNoMemory) << c.what;
        EXPECT_EQ(document, nullptr) << c.what;
        Multistatus* multistatus = nullptr;
        EXPECT_EQ(ParseMultistatus(&multistatus, buffer.get()), kXmlNoMemory) << c.what;
        EXPECT_EQ(multistatus, nullptr) << c.what;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(2)) << c.what;
        // Twice the budget leaves room for what the allocator adds to each block.
        size_t budget = kTreeBaseBytes + kTreeBytesPerBodyByte * c.body.size();
        EXPECT_LT(PeakBytes() - base, 2 * budget) << c.what;
        EXPECT_EQ(LiveAllocations(), before) << c.what;
    }
}

}  // namespace
}  // namespace vodarezazuv
