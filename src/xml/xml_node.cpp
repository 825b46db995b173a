#include "xml/xml_node.h"

#include <cstring>
#include <new>

#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

void FreeStrings(XmlNode* node) {
    delete[] node->name;
    delete[] node->namespaceUri;
    delete[] node->text;
}

// Duplicates text into *copy (null stays null); false when memory is short.
bool CopyOptional(const char* text, char** copy) {
    *copy = nullptr;
    if (text == nullptr)
        return true;
    *copy = DuplicateText(text).release();
    return *copy != nullptr;
}

// The capacity that holds `needed` bytes: a first run gets exactly its size, later runs at
// least double the block, which keeps the cost of many runs linear.
size_t GrownTextCapacity(size_t capacity, size_t needed) {
    size_t doubled = capacity > SIZE_MAX / 2 ? SIZE_MAX : 2 * capacity;
    return doubled > needed ? doubled : needed;
}

}  // namespace

int32_t CreateXmlNode(XmlNode** out, const char* name, const char* namespaceUri, const char* text) {
    if (out == nullptr || name == nullptr)
        return kXmlMissingArgument;
    auto* node = new (std::nothrow) XmlNode{};
    if (node == nullptr)
        return kXmlNoMemory;
    bool copied = CopyOptional(name, &node->name) &&
                  CopyOptional(namespaceUri, &node->namespaceUri) &&
                  CopyOptional(text, &node->text);
    if (!copied) {
        FreeStrings(node);
        delete node;
        return kXmlNoMemory;
    }
    if (node->text != nullptr) {
        node->textLength = std::strlen(node->text);
        node->textCapacity = node->textLength + 1;
    }
    *out = node;
    return kXmlOk;
}

void AppendXmlChild(XmlNode* parent, XmlNode* child) {
    child->parent = parent;
    child->prevSibling = parent->lastChild;
    child->nextSibling = nullptr;
    if (parent->lastChild != nullptr)
        parent->lastChild->nextSibling = child;
    else
        parent->firstChild = child;
    parent->lastChild = child;
}

size_t XmlTextCapacityFor(const XmlNode* node, size_t length) {
    if (length > SIZE_MAX - 1 - node->textLength)
        return SIZE_MAX;
    size_t needed = node->textLength + length + 1;
    return needed > node->textCapacity ? GrownTextCapacity(node->textCapacity, needed)
                                       : node->textCapacity;
}

int32_t AppendXmlText(XmlNode* node, const char* run, size_t length) {
    size_t capacity = XmlTextCapacityFor(node, length);
    if (capacity == SIZE_MAX)
        return kXmlNoMemory;
    if (capacity > node->textCapacity) {
        char* grown = new (std::nothrow) char[capacity];
        if (grown == nullptr)
            return kXmlNoMemory;
        if (node->textLength > 0)
            std::memcpy(grown, node->text, node->textLength);
        delete[] node->text;
        node->text = grown;
        node->textCapacity = capacity;
    }
    std::memcpy(node->text + node->textLength, run, length);
    node->textLength += length;
    node->text[node->textLength] = 0;
    return kXmlOk;
}

// The subtree is freed through a work list threaded through the sibling links: each node's
// children are spliced in front of the nodes still pending, so no stack grows with depth.
void FreeXmlNode(XmlNode** holder) {
    if (holder == nullptr || *holder == nullptr)
        return;
    XmlNode* pending = *holder;
    pending->nextSibling = nullptr;
    while (pending != nullptr) {
        XmlNode* node = pending;
        pending = node->nextSibling;
        if (node->firstChild != nullptr) {
            node->lastChild->nextSibling = pending;
            pending = node->firstChild;
        }
        FreeStrings(node);
        delete node;
    }
    *holder = nullptr;
}

// Walks the source in document order by its links, keeping the copy's cursor at the node
// that mirrors the source's; climbing stops at the node being copied.
int32_t CopyXmlNode(const XmlNode* node, XmlNode** copy) {
    if (node == nullptr || copy == nullptr)
        return kXmlMissingArgument;
    XmlNode* top = nullptr;
    int32_t result = CreateXmlNode(&top, node->name, node->namespaceUri, node->text);
    const XmlNode* source = node;
    XmlNode* target = top;
    while (result == kXmlOk) {
        const XmlNode* next = source->firstChild;
        XmlNode* parent = target;
        if (next == nullptr) {
            while (source != node && source->nextSibling == nullptr) {
                source = source->parent;
                target = target->parent;
            }
            if (source == node)
                break;
            next = source->nextSibling;
            parent = target->parent;
        }
        XmlNode* made = nullptr;
        result = CreateXmlNode(&made, next->name, next->namespaceUri, next->text);
        if (result == kXmlOk) {
            AppendXmlChild(parent, made);
            source = next;
            target = made;
        }
    }
    if (result != kXmlOk) {
        FreeXmlNode(&top);
        return result;
    }
    *copy = top;
    return kXmlOk;
}

bool XmlNodeIs(const XmlNode* node, const char* localName, const char* namespaceUri) {
    if (node == nullptr || node->name == nullptr || node->namespaceUri == nullptr ||
        localName == nullptr || namespaceUri == nullptr)
        return false;
    return std::strcmp(node->name, localName) == 0 &&
           std::strcmp(node->namespaceUri, namespaceUri) == 0;
}

}  // namespace vodarezazuv
