#include "xml/multistatus.h"

#include <cstring>
#include <limits>
#include <new>

#include "util/bounded_text.h"
#include "util/http_date.h"
#include "xml/xml_document.h"

namespace vodarezazuv {

namespace {

constexpr char kDav[] = "DAV:";

bool IsDav(const XmlNode* node, const char* localName) {
    return XmlNodeIs(node, localName, kDav);
}

bool IsDigit(char c) {
    return c >= '0' && c <= '9';
}
bool IsSpace(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// Replaces *field by a copy of text.
int32_t StoreCopy(const char* text, char** field) {
    char* copy = DuplicateText(text).release();
    if (copy == nullptr)
        return kMultistatusNoMemory;
    char* replaced = *field;
    *field = copy;
    delete[] replaced;
    return kMultistatusOk;
}

// A new all-zero record linked at the end of list; null when memory is short.
template <typename Record>
Record* AppendNew(RecordList<Record>& list) {
    auto* record = new (std::nothrow) Record{};
    if (record == nullptr)
        return nullptr;
    record->prev = list.last;
    if (list.last != nullptr)
        list.last->next = record;
    else
        list.first = record;
    list.last = record;
    return record;
}

// A decimal number: white space skipped, an optional sign, digits up to the first other
// character; no digits give 0, values beyond the range of Int give its nearest limit.
template <typename Int>
Int ParseDecimal(const char* text) {
    while (IsSpace(*text))
        ++text;
    bool negative = *text == '-';
    if (*text == '-' || *text == '+')
        ++text;
    uint64_t limit = static_cast<uint64_t>(std::numeric_limits<Int>::max()) + (negative ? 1 : 0);
    uint64_t magnitude = 0;
    for (; IsDigit(*text); ++text) {
        unsigned digit = static_cast<unsigned>(*text - '0');
        magnitude = magnitude > (limit - digit) / 10 ? limit : magnitude * 10 + digit;
    }
    if (!negative)
        return static_cast<Int>(magnitude);
    return magnitude == limit ? std::numeric_limits<Int>::min() : -static_cast<Int>(magnitude);
}

bool EqualsNoCase(const char* text, const char* lowerWord) {
    for (; *text != 0 && *lowerWord != 0; ++text, ++lowerWord) {
        char c = *text >= 'A' && *text <= 'Z' ? static_cast<char>(*text - 'A' + 'a') : *text;
        if (c != *lowerWord)
            return false;
    }
    return *text == *lowerWord;
}

// ---- Lock records ----

LockScope ScopeOf(const XmlNode* lockscope) {
    const XmlNode* kind = lockscope->firstChild;
    if (IsDav(kind, "shared"))
        return LockScopeShared;
    return IsDav(kind, "exclusive") ? LockScopeExclusive : LockScopeNone;
}

LockType TypeOf(const XmlNode* locktype) {
    return IsDav(locktype->firstChild, "write") ? LockTypeWrite : LockTypeNone;
}

int32_t ReadLockEntry(const XmlNode* element, LockEntry& entry) {
    for (const XmlNode* child = element->firstChild; child != nullptr; child = child->nextSibling) {
        if (IsDav(child, "lockscope"))
            entry.scope = ScopeOf(child);
        else if (IsDav(child, "locktype"))
            entry.type = TypeOf(child);
    }
    return kMultistatusOk;
}

// The owner or group of a lock: the text of its first child (an href, say) or, when that has
// none, its own text. The first such element wins.
int32_t ReadLockPrincipal(const XmlNode* element, char** field) {
    if (*field != nullptr)
        return kMultistatusOk;
    const XmlNode* first = element->firstChild;
    const char* text = first != nullptr && first->text != nullptr ? first->text : element->text;
    return text != nullptr ? StoreCopy(text, field) : kMultistatusOk;
}

int32_t ReadActiveLockChild(const XmlNode* child, ActiveLock& lock) {
    if (IsDav(child, "lockscope")) {
        lock.scope = ScopeOf(child);
    } else if (IsDav(child, "locktype")) {
        lock.type = TypeOf(child);
    } else if (IsDav(child, "owner")) {
        return ReadLockPrincipal(child, &lock.owner);
    } else if (IsDav(child, "group")) {
        return ReadLockPrincipal(child, &lock.group);
    } else if (IsDav(child, "depth") && child->text != nullptr) {
        lock.depth = EqualsNoCase(child->text, "infinity") ? kDepthInfinity
                                                           : ParseDecimal<int32_t>(child->text);
    } else if (IsDav(child, "timeout") && child->text != nullptr && lock.timeout == nullptr) {
        return StoreCopy(child->text, &lock.timeout);
    } else if (IsDav(child, "locktoken") && lock.lockToken == nullptr) {
        const XmlNode* href = child->firstChild;
        if (IsDav(href, "href") && href->text != nullptr)
            return StoreCopy(href->text, &lock.lockToken);
    }
    return kMultistatusOk;
}

int32_t ReadActiveLock(const XmlNode* element, ActiveLock& lock) {
    int32_t result = kMultistatusOk;
    for (const XmlNode* child = element->firstChild; child != nullptr && result == kMultistatusOk;
         child = child->nextSibling)
        result = ReadActiveLockChild(child, lock);
    return result;
}

template <typename Record>
void FreeRecords(RecordList<Record>* list, void (*freeStrings)(Record&)) {
    if (list == nullptr)
        return;
    for (Record* record = list->first; record != nullptr;) {
        Record* next = record->next;
        freeStrings(*record);
        delete record;
        record = next;
    }
    delete list;
}

void NoStrings(LockEntry&) {}

void FreeLockStrings(ActiveLock& lock) {
    delete[] lock.owner;
    delete[] lock.group;
    delete[] lock.timeout;
    delete[] lock.lockToken;
}

// Reads every `itemName` child of element into a new list that replaces *list.
template <typename Record>
int32_t ReadLockList(const XmlNode* element, const char* itemName, RecordList<Record>** list,
                     int32_t (*read)(const XmlNode*, Record&), void (*freeStrings)(Record&)) {
    auto* fresh = new (std::nothrow) RecordList<Record>{};
    if (fresh == nullptr)
        return kMultistatusNoMemory;
    FreeRecords(*list, freeStrings);
    *list = fresh;
    int32_t result = kMultistatusOk;
    for (const XmlNode* child = element->firstChild; child != nullptr && result == kMultistatusOk;
         child = child->nextSibling) {
        if (!IsDav(child, itemName))
            continue;
        Record* record = AppendNew(*fresh);
        result = record != nullptr ? read(child, *record) : kMultistatusNoMemory;
    }
    return result;
}

// ---- Properties ----

using PropertyRule = int32_t (*)(const XmlNode* element, DavProps& props);

// creationdate and getlastmodified: the first date that reads as non-zero wins.
template <uint64_t DavProps::*field>
int32_t ReadFirstDate(const XmlNode* element, DavProps& props) {
    if (element->text != nullptr && props.*field == 0)
        props.*field = ParseHttpDate(element->text);
    return kMultistatusOk;
}

int32_t ReadContentLength(const XmlNode* element, DavProps& props) {
    if (element->text != nullptr && props.contentLength == 0)
        props.contentLength = ParseDecimal<int64_t>(element->text);
    return kMultistatusOk;
}

// displayname and getcontenttype: the first element with text wins.
template <char* DavProps::*field>
int32_t ReadFirstText(const XmlNode* element, DavProps& props) {
    if (element->text == nullptr || props.*field != nullptr)
        return kMultistatusOk;
    return StoreCopy(element->text, &(props.*field));
}

// Only the first child counts: a resource type of another namespace before collection
// leaves the flag at 0.
int32_t ReadResourceType(const XmlNode* element, DavProps& props) {
    if (element->firstChild != nullptr && props.isCollection == 0)
        props.isCollection = IsDav(element->firstChild, "collection") ? 1 : 0;
    return kMultistatusOk;
}

// An owner or group property carries its principal as a child (an href); the last wins.
template <char* DavProps::*field>
int32_t ReadLastPrincipal(const XmlNode* element, DavProps& props) {
    const XmlNode* first = element->firstChild;
    if (first == nullptr || first->text == nullptr)
        return kMultistatusOk;
    return StoreCopy(first->text, &(props.*field));
}

int32_t ReadSupportedLock(const XmlNode* element, DavProps& props) {
    return ReadLockList(element, "lockentry", &props.supportedLocks, ReadLockEntry, NoStrings);
}

int32_t ReadLockDiscovery(const XmlNode* element, DavProps& props) {
    return ReadLockList(element, "activelock", &props.activeLocks, ReadActiveLock, FreeLockStrings);
}

struct NamedRule {
    const char* name;
    PropertyRule rule;
};

constexpr NamedRule kPropertyRules[] = {
    {"creationdate", ReadFirstDate<&DavProps::creationDate>},
    {"getlastmodified", ReadFirstDate<&DavProps::lastModified>},
    {"getcontentlength", ReadContentLength},
    {"displayname", ReadFirstText<&DavProps::displayName>},
    {"getcontenttype", ReadFirstText<&DavProps::contentType>},
    {"resourcetype", ReadResourceType},
    {"owner", ReadLastPrincipal<&DavProps::owner>},
    {"group", ReadLastPrincipal<&DavProps::group>},
    {"supportedlock", ReadSupportedLock},
    {"lockdiscovery", ReadLockDiscovery},
};

int32_t KeepOtherProperty(const XmlNode* element, DavProps& props) {
    XmlNode* copy = nullptr;
    if (CopyXmlNode(element, &copy) != kXmlOk)
        return kMultistatusNoMemory;
    copy->prevSibling = props.otherProps.last;
    if (props.otherProps.last != nullptr)
        props.otherProps.last->nextSibling = copy;
    else
        props.otherProps.first = copy;
    props.otherProps.last = copy;
    return kMultistatusOk;
}

int32_t ReadProperty(const XmlNode* element, DavProps& props) {
    for (const NamedRule& named : kPropertyRules) {
        if (IsDav(element, named.name))
            return named.rule(element, props);
    }
    return KeepOtherProperty(element, props);
}

void FreeProps(DavProps* props) {
    if (props == nullptr)
        return;
    delete[] props->displayName;
    delete[] props->contentType;
    delete[] props->owner;
    delete[] props->group;
    FreeRecords(props->supportedLocks, NoStrings);
    FreeRecords(props->activeLocks, FreeLockStrings);
    for (XmlNode* node = props->otherProps.first; node != nullptr;) {
        XmlNode* next = node->nextSibling;
        FreeXmlNode(&node);
        node = next;
    }
    delete props;
}

// A later prop element in the same propstat replaces the earlier record.
int32_t ReadProp(const XmlNode* element, PropStat& propStat) {
    auto* props = new (std::nothrow) DavProps{};
    if (props == nullptr)
        return kMultistatusNoMemory;
    FreeProps(propStat.props);
    propStat.props = props;
    int32_t result = kMultistatusOk;
    for (const XmlNode* child = element->firstChild; child != nullptr && result == kMultistatusOk;
         child = child->nextSibling)
        result = ReadProperty(child, *props);
    return result;
}

// ---- Responses ----

// "HTTP/1.1 404 Not Found": the three digits after the first blank, and what follows the
// next blank as the reason phrase. A text without three digits there sets nothing, so a
// later status element is still read.
int32_t ReadStatus(const char* text, PropStat& propStat) {
    const char* blank = std::strchr(text, ' ');
    if (blank == nullptr || !IsDigit(blank[1]) || !IsDigit(blank[2]) || !IsDigit(blank[3]))
        return kMultistatusOk;
    const char* code = blank + 1;
    propStat.statusCode = 100 * (code[0] - '0') + 10 * (code[1] - '0') + (code[2] - '0');
    const char* reason = std::strchr(code, ' ');
    return reason != nullptr ? StoreCopy(reason + 1, &propStat.reasonPhrase) : kMultistatusOk;
}

int32_t ReadPropStat(const XmlNode* element, PropStat& propStat) {
    int32_t result = kMultistatusOk;
    for (const XmlNode* child = element->firstChild; child != nullptr && result == kMultistatusOk;
         child = child->nextSibling) {
        if (IsDav(child, "status")) {
            if (child->text != nullptr && propStat.statusCode == 0 &&
                propStat.reasonPhrase == nullptr)
                result = ReadStatus(child->text, propStat);
        } else if (IsDav(child, "prop")) {
            result = ReadProp(child, propStat);
        }
    }
    return result;
}

// A status directly inside response (a resource that failed as a whole) is not read: such
// a response has no PropStat.
int32_t ReadResponse(const XmlNode* element, DavResponse& response) {
    int32_t result = kMultistatusOk;
    for (const XmlNode* child = element->firstChild; child != nullptr && result == kMultistatusOk;
         child = child->nextSibling) {
        if (IsDav(child, "href")) {
            if (child->text != nullptr && response.href == nullptr)
                result = StoreCopy(child->text, &response.href);
        } else if (IsDav(child, "propstat")) {
            PropStat* propStat = AppendNew(response.propStats);
            result = propStat != nullptr ? ReadPropStat(child, *propStat) : kMultistatusNoMemory;
        }
    }
    return result;
}

// Reads one child of the document element, while the tree is built. The document element's
// own name is not tested: its response children count whatever it is called.
int32_t ReadDocumentChild(void* user, const XmlNode* child) {
    if (!IsDav(child, "response"))
        return kMultistatusOk;
    auto& multistatus = *static_cast<Multistatus*>(user);
    DavResponse* response = AppendNew(multistatus.responses);
    return response != nullptr ? ReadResponse(child, *response) : kMultistatusNoMemory;
}

void FreePropStats(RecordList<PropStat>& list) {
    for (PropStat* propStat = list.first; propStat != nullptr;) {
        PropStat* next = propStat->next;
        delete[] propStat->reasonPhrase;
        FreeProps(propStat->props);
        delete propStat;
        propStat = next;
    }
}

}  // namespace

// Any allocation that fails makes the whole parse fail: a listing that silently lacks
// entries or properties would be worse than an error.
int32_t ParseMultistatus(Multistatus** out, BodyBuffer* buffer) {
    if (out == nullptr)
        return kXmlMissingArgument;
    *out = nullptr;
    MultistatusPtr multistatus(new (std::nothrow) Multistatus{});
    if (!multistatus)
        return kMultistatusNoMemory;
    // Each response is read as soon as it is complete and its elements are freed then, so
    // that the tree never holds more than one response.
    XmlChildSink sink{ReadDocumentChild, multistatus.get()};
    XmlDocument* built = nullptr;
    int32_t result = BuildXmlDocument(&built, buffer, &sink);
    if (result != kXmlOk)
        return result;
    FreeXmlDocument(built);
    *out = multistatus.release();
    return kMultistatusOk;
}

void FreeMultistatus(Multistatus** holder) {
    if (holder == nullptr || *holder == nullptr)
        return;
    for (DavResponse* response = (*holder)->responses.first; response != nullptr;) {
        DavResponse* next = response->next;
        delete[] response->href;
        FreePropStats(response->propStats);
        delete response;
        response = next;
    }
    delete *holder;
    *holder = nullptr;
}

DavProps* FindPropsByStatus(const DavResponse* response, int32_t low, int32_t high) {
    if (response == nullptr)
        return nullptr;
    for (const PropStat* propStat = response->propStats.first; propStat != nullptr;
         propStat = propStat->next) {
        if (propStat->statusCode >= low && propStat->statusCode <= high)
            return propStat->props;
    }
    return nullptr;
}

ActiveLock* FindActiveLock(const DavProps* props, LockScope scope, LockType type) {
    if (props == nullptr || props->activeLocks == nullptr)
        return nullptr;
    for (ActiveLock* lock = props->activeLocks->first; lock != nullptr; lock = lock->next) {
        if (lock->scope == scope && lock->type == type)
            return lock;
    }
    return nullptr;
}

}  // namespace vodarezazuv
