#include "http/response.h"

#include <cstring>

#include "plugin/reporting.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

// The raw headers are offered 8191 bytes: 4095 characters and a terminator.
constexpr uint32_t kRawHeaderBytes = 8191;
constexpr size_t kStatusLineLimit = 256;

bool StartsWithNoCase(const char16_t* text, const char16_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        char16_t a = *text, b = *prefix;
        if (a >= u'A' && a <= u'Z')
            a = static_cast<char16_t>(a - u'A' + u'a');
        if (b >= u'A' && b <= u'Z')
            b = static_cast<char16_t>(b - u'A' + u'a');
        if (a != b)
            return false;
    }
    return true;
}

// Whether needle occurs in the first length characters of text.
bool Contains(const char16_t* text, size_t length, const char16_t* needle) {
    size_t n = WideLength(needle);
    for (size_t i = 0; i + n <= length; ++i) {
        if (std::memcmp(text + i, needle, n * sizeof(char16_t)) == 0)
            return true;
    }
    return false;
}

// Queries raw headers into buffer (kRawHeaderBytes / 2 + 1 elements). The client gives the
// lines separated by terminators and ended by an empty one; false when the query fails.
bool QueryRawHeaders(NetHandle request, uint32_t modifiers, char16_t* buffer) {
    uint32_t length = kRawHeaderBytes;
    if (!NetQueryInfo(request, kNetQueryRawHeaders | modifiers, buffer, &length, nullptr))
        return false;
    // Two terminators past the bytes written close the list even if the client left none.
    size_t characters = length / sizeof(char16_t);
    buffer[characters] = 0;
    if (characters + 1 <= kRawHeaderBytes / 2)
        buffer[characters + 1] = 0;
    return true;
}

// Joins the strings after the first with line feeds into out, in place of the list.
void JoinRemaining(char16_t* list, char16_t* out, size_t limit) {
    out[0] = 0;
    const char16_t* line = list + WideLength(list) + 1;
    bool first = true;
    while (*line != 0) {
        if (!first)
            AppendBoundedW(out, u"\n", limit);
        AppendBoundedW(out, line, limit);
        first = false;
        line += WideLength(line) + 1;
    }
}

}  // namespace

int32_t WinInetHasChunkedBug() {
    return NetHasChunkedBug() != 0 ? 1 : 0;
}

int32_t ReadResponseStatus(NetHandle request, int32_t detailedlog, int32_t chunkedCheck) {
    static constexpr size_t kListChars = kRawHeaderBytes / 2 + 1;
    char16_t list[kListChars + 1];
    char16_t joined[kListChars + 1];

    if (QueryRawHeaders(request, kNetQueryFlagRequestHeaders, list)) {
        LogLine(list);
        if (detailedlog != 0) {
            JoinRemaining(list, joined, kListChars);
            LogLine(joined);
        }
    }

    bool affected = false;
    if ((detailedlog != 0 || chunkedCheck != 0) && QueryRawHeaders(request, 0, list)) {
        if (detailedlog != 0) {
            LogLine(u"******Received headers");
            LogLine(list);
        }
        joined[0] = 0;
        size_t joinedLength = 0;
        const char16_t* line = list + WideLength(list) + 1;
        bool first = true;
        while (*line != 0) {
            if (!first)
                AppendBoundedW(joined, u"\n", kListChars);
            AppendBoundedW(joined, line, kListChars);
            joinedLength = WideLength(joined);
            first = false;
            if (chunkedCheck != 0 && StartsWithNoCase(line, u"Transfer-Encoding:") &&
                Contains(joined, joinedLength, u"chunked") && WinInetHasChunkedBug() == 1)
                affected = true;
            line += WideLength(line) + 1;
        }
        if (detailedlog != 0)
            LogLine(joined);
    }

    char16_t code[8] = u"";
    uint32_t codeLength = 15;
    if (!NetQueryInfo(request, kNetQueryStatusCode, code, &codeLength, nullptr))
        CopyBoundedW(code, u"400", 7);
    code[7] = 0;

    char16_t status[kStatusLineLimit + 1] = u"";
    if (code[0] != u'2')
        CopyBoundedW(status, u"Error: ", kStatusLineLimit);
    AppendBoundedW(status, code, kStatusLineLimit);
    AppendBoundedW(status, u" ", kStatusLineLimit);
    size_t used = WideLength(status);
    uint32_t reasonBytes = static_cast<uint32_t>(kStatusLineLimit - used);
    if (NetQueryInfo(request, kNetQueryStatusText, status + used, &reasonBytes, nullptr)) {
        status[kStatusLineLimit] = 0;
        LogLine(status);
    }

    int32_t number = 0;
    for (const char16_t* digit = code; *digit >= u'0' && *digit <= u'9'; ++digit)
        number = number * 10 + (*digit - u'0');
    if (affected && number / 100 == 2)
        return -1;
    return number;
}

int32_t HeadersDeclareUtf8(char* text) {
    for (char* c = text; *c != 0; ++c) {
        if (*c >= 'A' && *c <= 'Z')
            *c = static_cast<char>(*c - 'A' + 'a');
    }
    const char* type = std::strstr(text, "content-type:");
    if (type == nullptr)
        return 0;
    return std::strstr(type + 13, "utf-8") != nullptr ? 1 : 0;
}

int32_t XmlDeclaresUtf8(const char* text) {
    const char* encoding = std::strstr(text, "encoding=");
    if (encoding == nullptr)
        return 0;
    const char* c = encoding + 9;
    while (*c == '"' || *c == ' ' || *c == '\r' || *c == '\n' || *c == '\t')
        ++c;
    static constexpr char kUtf8[] = "utf-8";
    for (size_t i = 0; i < 5; ++i) {
        char lower = c[i];
        if (lower >= 'A' && lower <= 'Z')
            lower = static_cast<char>(lower - 'A' + 'a');
        if (lower != kUtf8[i])
            return 0;
    }
    return 1;
}

}  // namespace vodarezazuv
