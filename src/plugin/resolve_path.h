// Host paths below the root: the open connection a path names and its remote path.
#pragma once

#include <cstddef>

namespace vodarezazuv {

struct Connection;

// The open connection named by the first component of hostPath, or nullptr when it is not
// open. The remote path is the connection's base path followed by the rest of the host path
// (its separators kept), "\" when that is empty; with no connection it is "\" (unless limit
// is 0). remotePath holds limit + 1 characters.
Connection* ResolvePath(const char16_t* hostPath, char16_t* remotePath, size_t limit);

// Whether the host path names something below its connection, not the connection itself
// ("\conn\" resolves to the base path: deleting or replacing that would take the whole
// tree of the connection).
bool NamesRemoteObject(const char16_t* hostPath);

}  // namespace vodarezazuv
