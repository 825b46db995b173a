// Feeds arbitrary bytes through the path of a PROPFIND answer: into a BodyBuffer block by
// block, through ParseMultistatus, a walk over every record and copied element, and
// FreeMultistatus. The sanitizers and the leak checker judge the outcome.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "xml/body_buffer.h"
#include "xml/multistatus.h"
#include "xml/xml_node.h"

namespace {

using namespace vodarezazuv;

// The listing reads a response in blocks of this size.
constexpr size_t kBlock = 8192;

size_t Touch(const char* text) {
    return text != nullptr ? std::strlen(text) : 0;
}

// Visits every node below top in document order by the links, without recursion.
size_t WalkElement(const XmlNode* top) {
    size_t seen = 0;
    const XmlNode* node = top;
    while (node != nullptr) {
        seen += Touch(node->name) + Touch(node->namespaceUri) + Touch(node->text);
        if (node->firstChild != nullptr) {
            node = node->firstChild;
            continue;
        }
        while (node != top && node->nextSibling == nullptr)
            node = node->parent;
        node = node == top ? nullptr : node->nextSibling;
    }
    return seen;
}

size_t WalkProps(const DavProps& props) {
    size_t seen = Touch(props.displayName) + Touch(props.contentType) + Touch(props.owner) +
                  Touch(props.group) + static_cast<size_t>(props.contentLength) +
                  props.creationDate + props.lastModified;
    if (props.supportedLocks != nullptr) {
        for (const LockEntry* entry = props.supportedLocks->first; entry; entry = entry->next)
            seen += static_cast<size_t>(entry->scope) + static_cast<size_t>(entry->type);
    }
    if (props.activeLocks != nullptr) {
        for (const ActiveLock* lock = props.activeLocks->first; lock; lock = lock->next)
            seen += Touch(lock->owner) + Touch(lock->group) + Touch(lock->timeout) +
                    Touch(lock->lockToken) + static_cast<size_t>(lock->depth);
    }
    for (const XmlNode* node = props.otherProps.first; node; node = node->nextSibling)
        seen += WalkElement(node);
    if (FindActiveLock(&props, LockScopeExclusive, LockTypeWrite) != nullptr)
        ++seen;
    return seen;
}

size_t WalkMultistatus(const Multistatus& multistatus) {
    size_t seen = 0;
    for (const DavResponse* response = multistatus.responses.first; response;
         response = response->next) {
        seen += Touch(response->href);
        for (const PropStat* propStat = response->propStats.first; propStat;
             propStat = propStat->next) {
            seen += Touch(propStat->reasonPhrase) + static_cast<size_t>(propStat->statusCode);
            if (propStat->props != nullptr)
                seen += WalkProps(*propStat->props);
        }
        if (FindPropsByStatus(response, 200, 200) != nullptr)
            ++seen;
    }
    return seen;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    BodyBuffer* buffer = nullptr;
    if (CreateBodyBuffer(&buffer) != kBodyOk)
        return 0;
    BodyBufferPtr held(buffer);
    for (size_t done = 0; done < size; done += kBlock) {
        size_t count = size - done < kBlock ? size - done : kBlock;
        if (buffer->Append(buffer, data + done, static_cast<int32_t>(count)) != kBodyOk)
            return 0;
    }
    Multistatus* multistatus = nullptr;
    if (ParseMultistatus(&multistatus, buffer) != 0) {
        if (multistatus != nullptr)
            __builtin_trap();  // a failure hands out nothing
        return 0;
    }
    volatile size_t seen = WalkMultistatus(*multistatus);
    (void)seen;
    FreeMultistatus(&multistatus);
    return 0;
}
