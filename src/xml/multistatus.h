// The multistatus answer of a PROPFIND as plain records: one DavResponse per response
// element, each with its PropStat records, each of those with the properties the plugin
// understands and copies of all others. What the properties mean to the host is decided in
// src/dav.
#pragma once

#include <cstdint>
#include <memory>

#include "xml/body_buffer.h"
#include "xml/xml_node.h"

namespace vodarezazuv {

// Results of the multistatus operations: 0, and out of memory while the records are built.
// ParseMultistatus also passes on the results of BuildXmlDocument.
inline constexpr int32_t kMultistatusOk = 0;
inline constexpr int32_t kMultistatusNoMemory = 0xFFFB;

// The value of an activelock's depth "infinity".
inline constexpr int32_t kDepthInfinity = INT32_MAX;

enum LockScope : int32_t { LockScopeNone = 0, LockScopeShared = 1, LockScopeExclusive = 2 };
enum LockType : int32_t { LockTypeNone = 0, LockTypeWrite = 1 };

// A doubly linked list in document order; each record links its neighbours through its own
// `prev` and `next`. The owner of the list owns its records.
template <typename Record>
struct RecordList {
    Record* first = nullptr;
    Record* last = nullptr;
};

struct LockEntry {
    LockScope scope = LockScopeNone;
    LockType type = LockTypeNone;
    LockEntry* prev = nullptr;
    LockEntry* next = nullptr;
};

struct ActiveLock {
    LockScope scope = LockScopeNone;
    LockType type = LockTypeNone;
    char* owner = nullptr;
    char* group = nullptr;
    int32_t depth = 0;          // kDepthInfinity for "infinity"
    char* timeout = nullptr;    // as sent, e.g. "Second-3600"
    char* lockToken = nullptr;  // the href inside locktoken
    ActiveLock* prev = nullptr;
    ActiveLock* next = nullptr;
};

// The properties of one propstat. Every string is owned, UTF-8, as the element text was
// sent (entities expanded, nothing trimmed).
struct DavProps {
    uint64_t creationDate = 0;  // FILETIME in UTC; 0 when not given
    uint64_t lastModified = 0;  // FILETIME in UTC; 0 when not given
    char* displayName = nullptr;
    int32_t isCollection = 0;                         // 1 when resourcetype holds collection
    RecordList<LockEntry>* supportedLocks = nullptr;  // null when no supportedlock was sent
    RecordList<ActiveLock>* activeLocks = nullptr;    // null when no lockdiscovery was sent
    int64_t contentLength = 0;
    char* contentType = nullptr;
    char* owner = nullptr;
    char* group = nullptr;
    // Copies of every other property element, linked through their prevSibling and
    // nextSibling; each has no parent.
    RecordList<XmlNode> otherProps;
};

struct PropStat {
    int32_t statusCode = 0;  // 0 when no status was read
    char* reasonPhrase = nullptr;
    DavProps* props = nullptr;  // null when the propstat had no prop
    PropStat* prev = nullptr;
    PropStat* next = nullptr;
};

struct DavResponse {
    char* href = nullptr;  // the first href with text
    RecordList<PropStat> propStats;
    DavResponse* prev = nullptr;
    DavResponse* next = nullptr;
};

struct Multistatus {
    RecordList<DavResponse> responses;
};

// Parses the body into *out, which the caller then owns. kXmlMissingArgument without out or
// buffer; the result of BuildXmlDocument when the body is no XML; kMultistatusNoMemory when
// memory runs out. On failure *out is null and nothing stays allocated. A well-formed body
// without response elements in "DAV:" gives an empty Multistatus.
int32_t ParseMultistatus(Multistatus** out, BodyBuffer* buffer);

// Frees the Multistatus in *holder with everything it owns and clears the holder; an empty
// or missing holder is ignored.
void FreeMultistatus(Multistatus** holder);

// The props of the first PropStat whose status lies in [low, high]; null when there is none,
// when that PropStat has no props, or for a null response.
DavProps* FindPropsByStatus(const DavResponse* response, int32_t low, int32_t high);

// The first active lock of the given scope and type; null when there is none.
ActiveLock* FindActiveLock(const DavProps* props, LockScope scope, LockType type);

struct MultistatusDeleter {
    void operator()(Multistatus* multistatus) const { FreeMultistatus(&multistatus); }
};
using MultistatusPtr = std::unique_ptr<Multistatus, MultistatusDeleter>;

}  // namespace vodarezazuv
