// Listing a collection: one PROPFIND, its multistatus body as a cursor, and the host's find
// records made from it entry by entry.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "http/request.h"
#include "vodarezazuv/fs_plugin.h"
#include "xml/multistatus.h"

namespace vodarezazuv {

struct Connection;

inline constexpr size_t kEntryNameSize = 1024;

// The largest listing body collected. A bigger answer fails the listing instead of taking
// memory without bound (a collection of a million entries is about 800 MB of XML).
inline constexpr int32_t kMaxListingBody = 128 * 1024 * 1024;

struct ListingCursor {
    const char* href = nullptr;       // the current entry's href; owned by the multistatus
    DavProps* props = nullptr;        // its property set of status 200, or null
    const char* lockOwner = nullptr;  // owner of its first exclusive write lock, or null
    const char16_t* name = nullptr;   // points into nameBuffer, behind the listed path
    int32_t isCollection = 0;
    int64_t contentLength = 0;
    uint64_t creationDate = 0;           // FILETIME; 0: not given
    uint64_t lastModified = 0;           // FILETIME; 0: not given
    Multistatus* multistatus = nullptr;  // owned
    DavResponse* nextResponse = nullptr;
    int32_t depth = 0;                          // path components of the listed path
    char16_t nameBuffer[kEntryNameSize] = u"";  // the decoded href, terminated
    int32_t responseIsUtf8 = 0;
    int32_t urlsUtf8 = 0;
    // Set by NextEntry when the decoded name is not the server's name as it stands: it was
    // cut, or a "%00" ended it. Such an entry is never handed to the host.
    int32_t nameUnfaithful = 0;
};

// Lists the collection at remotePath (backslashes allowed): PROPFIND with "Depth: 1". 0 and
// *out set to a cursor the caller frees with FreeListing, or 1 on any failure (logged).
int32_t DavListCollection(Connection& connection, const char16_t* remotePath, ListingCursor** out);

// The same exchange for one resource: "Depth: 0", no slash added, and a depth that leaves
// the resource's own name. 0 or 1 as DavListCollection.
int32_t DavQueryResource(Connection& connection, const char16_t* remotePath, ListingCursor** out);

// Moves to the next response that names an entry below the listed path. 1 when the cursor
// stands on one, 0 when the responses are exhausted (or for a null cursor).
int32_t NextEntry(ListingCursor* cursor);

// Fills record from the next entry the host can hold. 0 when filled, 1 when there is none.
// outCursor, when given, receives the cursor.
int32_t FillFindData(ListingCursor* cursor, WIN32_FIND_DATAW* record,
                     ListingCursor** outCursor = nullptr);

// Frees the cursor and its multistatus; null is ignored. Returns 0.
int32_t FreeListing(ListingCursor* cursor);

// Sends a request without body, recovering from what the user can resolve: a certificate
// problem or a wrong password through the error dialog, a client certificate the server
// asks for. At most five sends. 0 sent (the caller reads the answer); 1 failed, the request
// closed; 2 aborted by the user (closed). *retry is cleared on an abort.
int32_t SendWithRecovery(const Connection& connection, NetHandle request, const char16_t* headers,
                         RequestContext& context, int32_t* retry);

// Percent-decodes text into bytes: "%" and the two characters after it become one byte (see
// HexValue in the source for letters beyond F); a "%" without two characters after it ends
// the text. *sawNul is set when a decoded byte is 0, which also ends the text.
void PercentDecode(const char* text, std::string& bytes, bool* sawNul);

// True when bytes hold at least one byte of 0x80 or above and every such byte belongs to a
// well-formed UTF-8 lead and continuation sequence (overlong forms allowed).
bool PassesUtf8Test(const std::string& bytes);

}  // namespace vodarezazuv
