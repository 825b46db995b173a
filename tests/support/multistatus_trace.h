// Traces of a Multistatus as one string, so that a test compares the whole result at once.
// A list whose prev links or last pointer disagree with its next links shows "!link".
#pragma once

#include <time.h>

#include <cstdint>
#include <string>

#include "xml/multistatus.h"
#include "xml_trace.h"

namespace testsupport {

// A FILETIME as an ISO 8601 UTC time.
inline std::string TraceTime(uint64_t filetime) {
    time_t seconds = static_cast<time_t>(filetime / 10000000) - 11644473600;
    struct tm parts {};
    gmtime_r(&seconds, &parts);
    char text[32];
    strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &parts);
    return text;
}

inline std::string TraceLock(vodarezazuv::LockScope scope, vodarezazuv::LockType type) {
    const char* scopes[] = {"none", "shared", "exclusive"};
    const char* types[] = {"none", "write"};
    auto s = static_cast<int32_t>(scope);
    auto t = static_cast<int32_t>(type);
    return std::string(s >= 0 && s <= 2 ? scopes[s] : "?") + "/" +
           (t >= 0 && t <= 1 ? types[t] : "?");
}

// Checks the prev links of a record list while walking it forward.
template <typename Record, typename Each>
void WalkList(const vodarezazuv::RecordList<Record>& list, std::string& out, Each each) {
    const Record* previous = nullptr;
    for (const Record* record = list.first; record != nullptr; record = record->next) {
        if (record->prev != previous)
            out += "!link";
        each(*record);
        previous = record;
    }
    if (list.last != previous)
        out += "!link";
}

inline void TraceActiveLock(const vodarezazuv::ActiveLock& lock, std::string& out) {
    out += "\n   activelock " + TraceLock(lock.scope, lock.type) +
           " depth=" + std::to_string(lock.depth);
    if (lock.owner != nullptr)
        out += " owner=" + Quoted(lock.owner);
    if (lock.group != nullptr)
        out += " group=" + Quoted(lock.group);
    if (lock.timeout != nullptr)
        out += " timeout=" + Quoted(lock.timeout);
    if (lock.lockToken != nullptr)
        out += " token=" + Quoted(lock.lockToken);
}

inline void TraceOtherProps(const vodarezazuv::DavProps& props, std::string& out) {
    const vodarezazuv::XmlNode* previous = nullptr;
    for (const vodarezazuv::XmlNode* node = props.otherProps.first; node != nullptr;
         node = node->nextSibling) {
        if (node->prevSibling != previous || node->parent != nullptr)
            out += "!link";
        out += "\n   other " + TraceNode(node);
        previous = node;
    }
    if (props.otherProps.last != previous)
        out += "!link";
}

// Only the fields that differ from a new record, one per line.
inline void TraceProps(const vodarezazuv::DavProps& props, std::string& out) {
    if (props.creationDate != 0)
        out += "\n   created " + TraceTime(props.creationDate);
    if (props.lastModified != 0)
        out += "\n   modified " + TraceTime(props.lastModified);
    if (props.displayName != nullptr)
        out += "\n   name " + Quoted(props.displayName);
    if (props.isCollection != 0)
        out += "\n   collection " + std::to_string(props.isCollection);
    if (props.contentLength != 0)
        out += "\n   length " + std::to_string(props.contentLength);
    if (props.contentType != nullptr)
        out += "\n   type " + Quoted(props.contentType);
    if (props.owner != nullptr)
        out += "\n   owner " + Quoted(props.owner);
    if (props.group != nullptr)
        out += "\n   group " + Quoted(props.group);
    if (props.supportedLocks != nullptr) {
        out += "\n   supportedlock";
        WalkList(*props.supportedLocks, out, [&out](const vodarezazuv::LockEntry& entry) {
            out += " " + TraceLock(entry.scope, entry.type);
        });
    }
    if (props.activeLocks != nullptr) {
        out += "\n   lockdiscovery";
        WalkList(*props.activeLocks, out,
                 [&out](const vodarezazuv::ActiveLock& lock) { TraceActiveLock(lock, out); });
    }
    TraceOtherProps(props, out);
}

// One line per response ("response" and its href), propstat ("propstat", code and reason
// phrase, or "(no prop)") and property, indented by level.
inline std::string TraceMultistatus(const vodarezazuv::Multistatus& multistatus) {
    std::string out;
    WalkList(multistatus.responses, out, [&out](const vodarezazuv::DavResponse& response) {
        out += std::string(out.empty() ? "" : "\n") + "response";
        if (response.href != nullptr)
            out += " " + Quoted(response.href);
        WalkList(response.propStats, out, [&out](const vodarezazuv::PropStat& propStat) {
            out += "\n propstat " + std::to_string(propStat.statusCode);
            if (propStat.reasonPhrase != nullptr)
                out += " " + Quoted(propStat.reasonPhrase);
            if (propStat.props == nullptr)
                out += " (no prop)";
            else
                TraceProps(*propStat.props, out);
        });
    });
    return out;
}

}  // namespace testsupport
