// Builds the element tree of a response body with expat.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "xml/body_buffer.h"
#include "xml/xml_node.h"

namespace vodarezazuv {

struct XmlDocument {
    // A placeholder whose fields are all null; its children are the top-level elements (for
    // a well-formed body exactly one, the document element). Owned.
    XmlNode* root;
    XmlNode* current;  // the open element that receives new children and text
};

// What the tree of one body may allocate for its nodes, names, namespace URIs and text:
// kTreeBytesPerBodyByte for each byte of the body and kTreeBaseBytes besides. Entity
// references and long namespace URIs (which every element of the namespace copies) can make
// a few hundred bytes of body cost gigabytes of tree; past this the build fails with
// kXmlNoMemory. Ordinary answers need two to four bytes of tree per byte of body.
inline constexpr size_t kTreeBytesPerBodyByte = 16;
inline constexpr size_t kTreeBaseBytes = size_t{1} << 20;

// Parses the whole buffer from position 0 into *out. kXmlMissingArgument without out or
// buffer, kXmlNoMemory when memory runs out while the tree is built or the tree would pass
// its allocation budget (above), kXmlNotWellFormed when
// no parser can be created, when the body is not well-formed, namespace-correct XML in an
// encoding expat knows (UTF-8, UTF-16, ISO-8859-1, US-ASCII), or when one of its markup
// tokens is longer than kMarkupTokenLimit (see markup_scan.h). On failure *out is null and
// nothing stays allocated. An empty body gives a document without elements.
//
// With a sink, every child of the document element is handed to it as soon as its end tag
// is read, and freed once the sink has taken what it needs: the tree then never holds more
// than one such child, whatever the size of the body. A result other than kXmlOk from the
// sink ends the build with that result.
struct XmlChildSink {
    int32_t (*onChild)(void* user, const XmlNode* child);
    void* user;
};
int32_t BuildXmlDocument(XmlDocument** out, BodyBuffer* buffer, const XmlChildSink* sink = nullptr);

// Frees the tree and the document; a null document is ignored.
void FreeXmlDocument(XmlDocument* document);

struct XmlDocumentDeleter {
    void operator()(XmlDocument* document) const { FreeXmlDocument(document); }
};
using XmlDocumentPtr = std::unique_ptr<XmlDocument, XmlDocumentDeleter>;

}  // namespace vodarezazuv
