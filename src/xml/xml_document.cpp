#include "xml/xml_document.h"

#include <expat.h>

#include <cstdint>
#include <cstring>
#include <new>

#include "xml/markup_scan.h"

namespace vodarezazuv {

namespace {

// expat reports an element as its namespace URI, this separator and its local name.
constexpr char kNamespaceSeparator = '/';
constexpr int32_t kChunkSize = 128;

struct ParserDeleter {
    void operator()(XML_ParserStruct* parser) const { XML_ParserFree(parser); }
};
using ParserPtr = std::unique_ptr<XML_ParserStruct, ParserDeleter>;

// What the handlers work on. The handlers have no result: the first allocation that fails
// is kept in `failure`, and every later event is ignored, so the tree is never left half
// linked and an end tag never climbs above the root.
struct TreeBuilder {
    XmlDocument* document;
    int32_t failure;
    size_t budget;  // bytes the tree may still allocate
    const XmlChildSink* sink;
};

// Unlinks the last child of its parent and frees it.
void DropLastChild(XmlNode* parent) {
    XmlNode* child = parent->lastChild;
    parent->lastChild = child->prevSibling;
    if (child->prevSibling != nullptr)
        child->prevSibling->nextSibling = nullptr;
    else
        parent->firstChild = nullptr;
    FreeXmlNode(&child);
}

// Takes bytes from the budget; once they do not fit, the build fails as out of memory.
bool Charge(TreeBuilder* builder, size_t bytes) {
    if (bytes > builder->budget) {
        builder->failure = kXmlNoMemory;
        return false;
    }
    builder->budget -= bytes;
    return true;
}

size_t TreeBudget(BodyBuffer* buffer) {
    int32_t length = 0;
    buffer->Size(buffer, &length);
    return kTreeBaseBytes + kTreeBytesPerBodyByte * static_cast<size_t>(length > 0 ? length : 0);
}

// A copy of the first `length` bytes of text; null when memory is short.
char* CopyPrefix(const char* text, size_t length) {
    char* copy = new (std::nothrow) char[length + 1];
    if (copy != nullptr) {
        std::memcpy(copy, text, length);
        copy[length] = 0;
    }
    return copy;
}

// Splits at the last separator, so a namespace URI that itself ends in "/" keeps it.
int32_t NodeOfExpandedName(const char* expanded, XmlNode** out) {
    const char* separator = std::strrchr(expanded, kNamespaceSeparator);
    const char* localName = separator != nullptr ? separator + 1 : expanded;
    int32_t result = CreateXmlNode(out, localName, nullptr, nullptr);
    if (result != kXmlOk || separator == nullptr)
        return result;
    (*out)->namespaceUri = CopyPrefix(expanded, static_cast<size_t>(separator - expanded));
    if ((*out)->namespaceUri == nullptr) {
        FreeXmlNode(out);
        return kXmlNoMemory;
    }
    return kXmlOk;
}

void XMLCALL OnStartElement(void* userData, const XML_Char* name, const XML_Char**) {
    auto* builder = static_cast<TreeBuilder*>(userData);
    // The node, its local name and its namespace URI, each with a NUL.
    if (builder->failure != kXmlOk || !Charge(builder, sizeof(XmlNode) + std::strlen(name) + 2))
        return;
    XmlNode* node = nullptr;
    builder->failure = NodeOfExpandedName(name, &node);
    if (builder->failure != kXmlOk)
        return;
    AppendXmlChild(builder->document->current, node);
    builder->document->current = node;
}

void XMLCALL OnEndElement(void* userData, const XML_Char*) {
    auto* builder = static_cast<TreeBuilder*>(userData);
    XmlDocument* document = builder->document;
    if (builder->failure != kXmlOk || document->current == document->root)
        return;
    XmlNode* element = document->current;
    XmlNode* parent = element->parent;
    document->current = parent;
    if (builder->sink != nullptr && parent != document->root && parent->parent == document->root) {
        builder->failure = builder->sink->onChild(builder->sink->user, element);
        if (builder->failure == kXmlOk)
            DropLastChild(parent);
    }
}

void XMLCALL OnCharacterData(void* userData, const XML_Char* run, int length) {
    auto* builder = static_cast<TreeBuilder*>(userData);
    if (builder->failure != kXmlOk || length <= 0)
        return;
    XmlNode* node = builder->document->current;
    size_t capacity = XmlTextCapacityFor(node, static_cast<size_t>(length));
    if (capacity == SIZE_MAX || !Charge(builder, capacity - node->textCapacity))
        builder->failure = kXmlNoMemory;
    else
        builder->failure = AppendXmlText(node, run, static_cast<size_t>(length));
}

// Receives the declaration, comments, processing instructions and the document type, which
// are not kept. Registered as the expanding default handler, so that references to internal
// entities still arrive as character data.
void XMLCALL OnOtherMarkup(void*, const XML_Char*, int) {}

int32_t ParseStatus(const TreeBuilder& builder, XML_Status status) {
    if (builder.failure != kXmlOk)
        return builder.failure;
    return status == XML_STATUS_OK ? kXmlOk : kXmlNotWellFormed;
}

// Hands the buffer to the parser in chunks of 128 bytes; a chunk shorter than that is the
// last. A body whose length is a multiple of 128 gets a last empty call with the final flag,
// so that one cut off at such a boundary is refused like any other; an empty body makes no
// call at all and yields an empty document.
int32_t FeedParser(XML_Parser parser, const TreeBuilder& builder, BodyBuffer* buffer) {
    buffer->Seek(buffer, 0);
    char chunk[kChunkSize];
    int32_t count = 0;
    bool parsed = false;
    while (buffer->Read(buffer, chunk, kChunkSize, &count) == kBodyOk && count > 0) {
        int isFinal = count < kChunkSize ? 1 : 0;
        int32_t result = ParseStatus(builder, XML_Parse(parser, chunk, count, isFinal));
        if (result != kXmlOk || isFinal)
            return result;
        parsed = true;
    }
    if (!parsed)
        return kXmlOk;
    return ParseStatus(builder, XML_Parse(parser, chunk, 0, 1));
}

XmlDocument* NewDocument() {
    auto* document = new (std::nothrow) XmlDocument{};
    if (document == nullptr)
        return nullptr;
    document->root = new (std::nothrow) XmlNode{};
    if (document->root == nullptr) {
        delete document;
        return nullptr;
    }
    document->current = document->root;
    return document;
}

}  // namespace

int32_t BuildXmlDocument(XmlDocument** out, BodyBuffer* buffer, const XmlChildSink* sink) {
    if (out == nullptr || buffer == nullptr)
        return kXmlMissingArgument;
    *out = nullptr;
    // Refused before anything is built: expat's time on such a body would grow with the
    // square of its longest token.
    if (!MarkupTokensFitIn(buffer, kMarkupTokenLimit))
        return kXmlNotWellFormed;
    XmlDocumentPtr document(NewDocument());
    if (!document)
        return kXmlNoMemory;
    ParserPtr parser(XML_ParserCreateNS(nullptr, kNamespaceSeparator));
    if (!parser)
        return kXmlNotWellFormed;
    TreeBuilder builder{document.get(), kXmlOk, TreeBudget(buffer), sink};
    XML_SetUserData(parser.get(), &builder);
    XML_SetElementHandler(parser.get(), OnStartElement, OnEndElement);
    XML_SetCharacterDataHandler(parser.get(), OnCharacterData);
    XML_SetDefaultHandlerExpand(parser.get(), OnOtherMarkup);
    int32_t result = FeedParser(parser.get(), builder, buffer);
    parser.reset();
    if (result != kXmlOk)
        return result;
    *out = document.release();
    return kXmlOk;
}

void FreeXmlDocument(XmlDocument* document) {
    if (document == nullptr)
        return;
    FreeXmlNode(&document->root);
    delete document;
}

}  // namespace vodarezazuv
