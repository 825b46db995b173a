// The element tree of a response body: elements only, each with its namespace URI, local
// name and character data. Attributes, comments and processing instructions are not kept.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

namespace vodarezazuv {

// Results of the tree operations: the 16-bit forms of -1, -2 and -4, zero-extended. Callers
// test only for zero.
inline constexpr int32_t kXmlOk = 0;
inline constexpr int32_t kXmlNotWellFormed = 0xFFFF;  // also: no parser could be created
inline constexpr int32_t kXmlNoMemory = 0xFFFE;
inline constexpr int32_t kXmlMissingArgument = 0xFFFC;

// One element. A node owns its three strings and its children; the children of a parent form
// a doubly linked list in document order.
struct XmlNode {
    char* name;          // local name, UTF-8
    char* text;          // all character data directly inside, concatenated; null when none
    char* namespaceUri;  // null when the element is in no namespace
    XmlNode* parent;
    XmlNode* prevSibling;
    XmlNode* nextSibling;
    XmlNode* firstChild;  // owns the list of children
    XmlNode* lastChild;
    // Bytes of text without its NUL, and bytes allocated for it: text grows geometrically,
    // so many short runs of character data cost linear time.
    size_t textLength;
    size_t textCapacity;
};

// A node with copies of the given strings and no links. The name is required (else
// kXmlMissingArgument, as without out); namespaceUri and text may be null. kXmlNoMemory when
// an allocation fails, and then nothing stays allocated.
int32_t CreateXmlNode(XmlNode** out, const char* name, const char* namespaceUri, const char* text);

// Links child as the new last child of parent.
void AppendXmlChild(XmlNode* parent, XmlNode* child);

// Adds a run of character data to the node's text. kXmlNoMemory leaves the text as it was.
int32_t AppendXmlText(XmlNode* node, const char* run, size_t length);

// The bytes the node's text block will hold once a run of `length` bytes is appended:
// textCapacity when the run fits, else the grown size AppendXmlText allocates. SIZE_MAX when
// the text could not grow that far.
size_t XmlTextCapacityFor(const XmlNode* node, size_t length);

// Frees the node in *holder with its strings and its whole subtree (not its siblings), and
// clears the holder. Works without recursion, so the depth of the tree does not matter.
void FreeXmlNode(XmlNode** holder);

// A deep copy of node: name, namespace URI, text and all descendants; the copy has no parent
// and no siblings. Works without recursion. On failure nothing stays allocated.
int32_t CopyXmlNode(const XmlNode* node, XmlNode** copy);

// True when node is in namespace namespaceUri with the local name localName, both compared
// byte by byte. An element in no namespace never matches.
bool XmlNodeIs(const XmlNode* node, const char* localName, const char* namespaceUri);

struct XmlNodeDeleter {
    void operator()(XmlNode* node) const { FreeXmlNode(&node); }
};
using XmlNodePtr = std::unique_ptr<XmlNode, XmlNodeDeleter>;

}  // namespace vodarezazuv
