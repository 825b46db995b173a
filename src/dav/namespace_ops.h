// Changes of the server's namespace: making a collection, moving or copying a resource,
// deleting one; and the attribute and time changes, which the server cannot take.
//
// Remote paths are those of ResolvePath (backslashes allowed). A path longer than
// kLongPathLimit is refused like one that cannot be escaped, so a caller that resolves with
// one character more than the limit lets a cut path fail here instead of naming another
// resource.
#pragma once

#include <cstdint>

#include "vodarezazuv/fs_plugin.h"

namespace vodarezazuv {

struct Connection;

enum NamespaceResult : int32_t {
    NamespaceDone = 0,
    NamespaceFailed = 1,
    NamespaceTargetExists = 2,  // a move or copy without overwrite found the target (412)
    NamespaceInvalidPath = 4,   // a delete whose path cannot be escaped
    NamespaceNotSupported = 6,  // attributes and times
};

// MKCOL. NamespaceDone when the server answered 2xx, else NamespaceFailed (also for a path
// that cannot be escaped).
int32_t DavMakeCollection(Connection& connection, const char16_t* remotePath);

// MOVE (move nonzero) or COPY of sourcePath to targetPath on the same server, with
// "Overwrite: F" unless overwrite is set. isDirectory applies the connection's
// apacheDirWithSlash to both paths. Follows up to ten redirections of the source to the
// connection's own server. A 207 (members left as they were) is a failure.
int32_t DavMoveOrCopy(Connection& connection, const char16_t* sourcePath,
                      const char16_t* targetPath, int32_t move, int32_t overwrite,
                      int32_t isDirectory);

// DELETE; NamespaceInvalidPath when the path cannot be escaped. Redirections and 207 as for
// DavMoveOrCopy.
int32_t DavDelete(Connection& connection, const char16_t* remotePath, int32_t isDirectory);

// Log their line and return NamespaceNotSupported; nothing is sent.
int32_t DavSetAttributes(Connection& connection, const char16_t* remotePath, int32_t attributes);
int32_t DavSetTimes(Connection& connection, const char16_t* remotePath,
                    const FILETIME* creationTime, const FILETIME* lastAccessTime,
                    const FILETIME* lastWriteTime);

}  // namespace vodarezazuv
