#include "xml/markup_scan.h"

#include <gtest/gtest.h>

#include <string>

#include "xml_trace.h"

namespace vodarezazuv {
namespace {

using testsupport::BodyOf;

constexpr int32_t kLimit = 16;

std::string Many(char c, size_t count) {
    return std::string(count, c);
}

// Each code unit of text (ASCII only) as UTF-16, little-endian or big-endian.
std::string Utf16(const std::u16string& text, bool bigEndian) {
    std::string bytes;
    for (char16_t unit : text) {
        char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += bigEndian ? std::string{high, low} : std::string{low, high};
    }
    return bytes;
}

bool Fits(const std::string& body) {
    BodyBufferPtr buffer = BodyOf(body);
    return MarkupTokensFitIn(buffer.get(), kLimit);
}

TEST(MarkupScan, MeasuresEveryTokenExpatRescansAndNothingElse) {
    const std::string x20 = Many('x', 20);
    struct Case {
        std::string body;
        bool fits;
        const char* what;
    } cases[] = {
        {"<a>" + Many('x', 1000) + "</a>", true, "text is no token"},
        {"<a b='" + Many('v', 7) + "'/>", true, "a tag of exactly the limit"},
        {"<a b='" + Many('v', 8) + "'/>", false, "a tag one byte longer"},
        {"<" + x20 + "/>", false, "a long element name"},
        {"<a></" + x20 + ">", false, "a long end tag"},
        {"<a b='>'>" + x20 + "</a>", true, "a quoted \">\" inside a tag, then text"},
        {"<a b='>" + x20 + "'/>", false, "a \">\" in a value does not end the tag"},
        {"<a b=\"'\">" + x20 + "</a>", true, "the other quote inside a value"},
        {"<a><!-- > -->" + x20 + "</a>", true, "a \">\" inside a short comment"},
        {"<a><!--" + x20 + "--></a>", false, "a long comment"},
        {"<a><!-->" + x20 + "--></a>", false, "\"<!-->\" does not end a comment"},
        {"<?pi " + x20 + "?><a/>", false, "a long processing instruction"},
        {"<?p > ?><a>" + x20 + "</a>", true, "a \">\" inside a short one"},
        {"<a><![CDATA[<b c='" + x20 + x20 + "]]></a>", true, "CDATA is no token"},
        {"<a><![CDATA[]]]>" + x20 + "</a>", true, "CDATA ending in three brackets"},
        {"<a>&amp;" + x20 + "&#x20AC;</a>", true, "short references"},
        {"<a>&" + x20 + ";</a>", false, "a long reference"},
        {"<!DOCTYPE a [<!ENTITY e 'xx'>   <!ENTITY f 'y'>]><a/>", true,
         "a document type measured declaration by declaration"},
        {"<!DOCTYPE a [<!ENTITY e '" + x20 + "'>]><a/>", false, "a long entity value"},
        {"<!DOCTYPE a [<!ENTITY e '>]" + x20 + "'>]><a/>", false, "quotes in a declaration"},
        {"<!DOCTYPE a [%" + x20 + ";]><a/>", false, "a long parameter entity reference"},
        {"<!DOCTYPE " + x20 + " []><a/>", false, "a long document type name"},
        {"<!DOCTYPE a [<!-- [ -->]><a>" + x20 + "</a>", true, "a comment in the subset"},
        {"<a>" + Many('y', 100) + "&x", true, "a body cut off inside a short token"},
        {Utf16(u"<a b='" + std::u16string(20, u'x') + u"'/>", false), false, "UTF-16LE tag"},
        {Utf16(u"\uFEFF<a>" + std::u16string(20, u'x') + u"</a>", true), true,
         "UTF-16BE with byte order mark"},
        {Utf16(u"\uFEFF<a b='" + std::u16string(4, u'x') + u"'/>", true), false,
         "a UTF-16BE tag, measured in bytes"},
        // Text whose units hold the bytes of "<" and a quote: marks only as whole units.
        {Utf16(u"<a>" + std::u16string(40, u'\u4E3C') + std::u16string(40, u'\u2722') + u"</a>",
               false),
         true, "UTF-16 text with mark bytes inside its characters"},
        {"", true, "an empty body"},
        {"<", true, "one byte"},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Fits(c.body), c.fits) << c.what;
}

}  // namespace
}  // namespace vodarezazuv
