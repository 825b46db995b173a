// Traces of the element trees the XML layer built, as one string per tree, so that a test
// compares the whole result at once. Links that do not agree (a sibling whose prevSibling is
// not the one before, a child whose parent is not the parent) show up as "!link".
#pragma once

#include <cstdint>
#include <fstream>
#include <iterator>
#include <string>
#include <string_view>

#include "xml/body_buffer.h"
#include "xml/xml_node.h"

namespace testsupport {

// A buffer holding bytes, appended in one piece; null when that fails.
inline vodarezazuv::BodyBufferPtr BodyOf(std::string_view bytes) {
    vodarezazuv::BodyBuffer* buffer = nullptr;
    if (vodarezazuv::CreateBodyBuffer(&buffer) != 0)
        return nullptr;
    vodarezazuv::BodyBufferPtr held(buffer);
    if (buffer->Append(buffer, bytes.data(), static_cast<int32_t>(bytes.size())) != 0)
        return nullptr;
    return held;
}

inline std::string ReadMultistatusFixture(const std::string& name) {
    std::ifstream in(std::string(TEST_DATA_DIR) + "/multistatus/" + name, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// Text in double quotes, with \n, \r, \t, \", \\ and other control bytes escaped.
inline std::string Quoted(const char* text) {
    std::string out = "\"";
    for (const char* p = text; *p != 0; ++p) {
        unsigned char c = static_cast<unsigned char>(*p);
        if (c == '\n')
            out += "\\n";
        else if (c == '\r')
            out += "\\r";
        else if (c == '\t')
            out += "\\t";
        else if (c == '"' || c == '\\')
            out += std::string("\\") + static_cast<char>(c);
        else if (c < 0x20 || c == 0x7F) {
            const char* hex = "0123456789abcdef";
            out += std::string("\\x") + hex[c >> 4] + hex[c & 15];
        } else
            out += static_cast<char>(c);
    }
    return out + "\"";
}

// {namespace}name="text"(children...), children separated by blanks. Walks by the links,
// without recursion, and checks them on the way.
inline std::string TraceNode(const vodarezazuv::XmlNode* node) {
    using vodarezazuv::XmlNode;
    std::string out;
    auto open = [&out](const XmlNode* n) {
        if (n->namespaceUri != nullptr)
            out += std::string("{") + n->namespaceUri + "}";
        out += n->name != nullptr ? n->name : "(null)";
        if (n->text != nullptr)
            out += "=" + Quoted(n->text);
    };
    const XmlNode* n = node;
    open(n);
    while (true) {
        if (n->firstChild != nullptr) {
            if (n->firstChild->parent != n || n->firstChild->prevSibling != nullptr)
                out += "!link";
            out += "(";
            n = n->firstChild;
            open(n);
            continue;
        }
        while (n != node && n->nextSibling == nullptr) {
            if (n->parent->lastChild != n)
                out += "!link";
            out += ")";
            n = n->parent;
        }
        if (n == node)
            break;
        if (n->nextSibling->prevSibling != n || n->nextSibling->parent != n->parent)
            out += "!link";
        out += " ";
        n = n->nextSibling;
        open(n);
    }
    return out;
}

// The top-level elements of a document, as TraceNode writes them, separated by blanks.
inline std::string TraceChildren(const vodarezazuv::XmlNode* parent) {
    std::string out;
    for (const vodarezazuv::XmlNode* child = parent->firstChild; child != nullptr;
         child = child->nextSibling)
        out += (out.empty() ? "" : " ") + TraceNode(child);
    return out;
}

}  // namespace testsupport
