#include "plugin/resolve_path.h"

#include "http/connection.h"
#include "plugin/registry.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

Connection* ResolvePath(const char16_t* hostPath, char16_t* remotePath, size_t limit) {
    char16_t name[kLongPathLimit + 1];
    ConnectionNameOf(hostPath, name, kLongPathLimit);
    Connection* connection = FindConnection(Registry(), name);
    if (connection == nullptr) {
        if (limit != 0)
            CopyBoundedW(remotePath, u"\\", limit);
        return nullptr;
    }
    CopyBoundedW(remotePath, connection->basePath, limit);
    const char16_t* rest = hostPath;
    while (*rest == u'\\' || *rest == u'/')
        ++rest;
    while (*rest != 0 && *rest != u'\\' && *rest != u'/')
        ++rest;
    AppendBoundedW(remotePath, rest, limit);
    if (remotePath[0] == 0 && limit != 0)
        CopyBoundedW(remotePath, u"\\", limit);
    return connection;
}

bool NamesRemoteObject(const char16_t* hostPath) {
    const char16_t* p = hostPath;
    while (*p == u'\\' || *p == u'/')
        ++p;
    while (*p != 0 && *p != u'\\' && *p != u'/')
        ++p;
    for (; *p != 0; ++p) {
        if (*p != u'\\' && *p != u'/')
            return true;
    }
    return false;
}

}  // namespace vodarezazuv
