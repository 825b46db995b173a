// Disconnecting and the file commands. At the root they manage connections: their sections
// of the settings file and their passwords in the host's store. Below a connection they run
// the namespace operations on its open connection; a connection that is not open fails.
#include "dav/namespace_ops.h"
#include "http/connection.h"
#include "plugin/export_guard.h"
#include "plugin/plugin_state.h"
#include "plugin/registry.h"
#include "plugin/resolve_path.h"
#include "settings/connection_settings.h"
#include "settings/password.h"
#include "util/bounded_text.h"

using namespace vodarezazuv;

namespace {

// The remote path of a host path, one character longer than a remote path may be: a path
// that had to be cut then reaches the operation too long and is refused there, instead of
// naming another resource.
using RemotePath = char16_t[kLongPathLimit + 2];

Connection* Resolve(const char16_t* hostPath, RemotePath& remotePath) {
    return ResolvePath(hostPath, remotePath, kLongPathLimit + 1);
}

// The name of a root-level host path ("\conn": no backslash after the first character), or
// nullptr for a path below a connection. Only the backslash separates here.
const char16_t* RootLevelName(const char16_t* hostPath) {
    if (hostPath[0] == 0)
        return nullptr;
    for (const char16_t* p = hostPath + 1; *p != 0; ++p) {
        if (*p == u'\\')
            return nullptr;
    }
    return hostPath + 1;
}

int32_t RenameConnection(const char16_t* oldName, const char16_t* newName, int32_t move,
                         int32_t overwrite) {
    switch (CopyConnectionSection(oldName, newName, move, overwrite, Plugin().settingsPath)) {
        case CopySectionDone:
            // Names equal but for case leave the section as it is, and with it the key of
            // its stored password.
            if (!WideEqualNoCase(oldName, newName))
                CopyStoredPassword(oldName, newName, move);
            return FileOpOk;
        case CopySectionTargetExists:
            return FileOpExists;
        default:
            return FileOpNotFound;
    }
}

int32_t MoveOrCopyRemote(const char16_t* oldPath, const char16_t* newPath, int32_t move,
                         int32_t overwrite, const FsRemoteInfo* info) {
    // Between a connection and the root there is nothing to move or copy.
    if (RootLevelName(oldPath) != nullptr || RootLevelName(newPath) != nullptr ||
        !NamesRemoteObject(oldPath) || !NamesRemoteObject(newPath))
        return FileOpNotFound;
    RemotePath source, target;
    Connection* connection = Resolve(oldPath, source);
    if (connection == nullptr || Resolve(newPath, target) != connection)
        return FileOpNotFound;
    int32_t isDirectory = info != nullptr && (info->attributes & FileAttributeDirectory) != 0;
    switch (DavMoveOrCopy(*connection, source, target, move, overwrite, isDirectory)) {
        case NamespaceDone:
            return FileOpOk;
        case NamespaceTargetExists:
            return FileOpExists;
        default:
            return FileOpNotFound;
    }
}

int32_t DeleteRemote(const char16_t* hostPath, int32_t isDirectory) {
    if (!NamesRemoteObject(hostPath))
        return 0;
    RemotePath remote;
    Connection* connection = Resolve(hostPath, remote);
    if (connection == nullptr)
        return 0;
    return DavDelete(*connection, remote, isDirectory) == NamespaceDone ? 1 : 0;
}

int32_t DeleteConnection(const char16_t* name) {
    PluginState& plugin = Plugin();
    if (DeleteSection(name, plugin.settingsPath) == 0)
        return 0;
    // Only once the section is gone: a connection that stays keeps its password.
    if (plugin.hostCrypt != nullptr) {
        char16_t key[kNameLimit + 1];
        CopyBoundedW(key, name, kNameLimit);
        plugin.hostCrypt(plugin.pluginNumber, plugin.cryptoNumber, StoreDelete, key, nullptr, 0);
    }
    return 1;
}

}  // namespace

extern "C" {

int32_t FsDisconnectW(char16_t* disconnectRoot) {
    if (disconnectRoot == nullptr)
        return 1;
    char16_t name[kLongPathLimit + 1];
    ConnectionNameOf(disconnectRoot, name, kLongPathLimit);
    Connection* connection = FindConnection(Registry(), name);
    if (connection == nullptr)
        return 1;
    char16_t line[kNameLimit + 1] = u"DISCONNECT \\";
    AppendBoundedW(line, name, kNameLimit);
    PluginState& plugin = Plugin();
    if (plugin.hostLog != nullptr)
        plugin.hostLog(plugin.pluginNumber, LogTypeDisconnect, line);
    CloseSession(*connection);
    SetConnection(Registry(), name, nullptr);
    return 1;
}

int32_t FsMkDirW(char16_t* path) {
    if (path == nullptr)
        return 0;
    return Guarded(0, [&] {
        // At the root a new name opens the connection dialog, which is not built yet: no
        // connection is made and nothing opens.
        if (RootLevelName(path) != nullptr)
            return 0;
        RemotePath remote;
        Connection* connection = Resolve(path, remote);
        if (connection == nullptr)
            return 0;
        return DavMakeCollection(*connection, remote) == NamespaceDone ? 1 : 0;
    });
}

int32_t FsExecuteFileW(void*, char16_t*, char16_t* verb) {
    if (verb != nullptr && WideEqualNoCase(verb, u"open"))
        return ExecByHost;
    // "properties" needs the connection and properties dialogs, which are not built yet.
    return ExecError;
}

int32_t FsRenMovFileW(char16_t* oldName, char16_t* newName, int32_t move, int32_t overwrite,
                      FsRemoteInfo* info) {
    if (oldName == nullptr || newName == nullptr)
        return FileOpNotFound;
    return Guarded<int32_t>(FileOpNotFound, [&] {
        const char16_t* oldRoot = RootLevelName(oldName);
        const char16_t* newRoot = RootLevelName(newName);
        if (oldRoot != nullptr && newRoot != nullptr)
            return RenameConnection(oldRoot, newRoot, move, overwrite);
        return MoveOrCopyRemote(oldName, newName, move, overwrite, info);
    });
}

int32_t FsDeleteFileW(char16_t* path) {
    if (path == nullptr || WideLength(path) < 3)
        return 0;
    // A root-level name is a connection or the help file, never a remote file.
    if (RootLevelName(path) != nullptr)
        return 0;
    return Guarded(0, [&] { return DeleteRemote(path, 0); });
}

int32_t FsRemoveDirW(char16_t* path) {
    if (path == nullptr || path[0] == 0)
        return 0;
    return Guarded(0, [&] {
        if (const char16_t* name = RootLevelName(path))
            return DeleteConnection(name);
        return DeleteRemote(path, 1);
    });
}

int32_t FsSetAttrW(char16_t* path, int32_t newAttr) {
    if (path == nullptr)
        return 0;
    RemotePath remote;
    if (Connection* connection = Resolve(path, remote))
        DavSetAttributes(*connection, remote, newAttr);
    return 0;
}

int32_t FsSetTimeW(char16_t* path, FILETIME* creationTime, FILETIME* lastAccessTime,
                   FILETIME* lastWriteTime) {
    if (path == nullptr)
        return 0;
    RemotePath remote;
    if (Connection* connection = Resolve(path, remote))
        DavSetTimes(*connection, remote, creationTime, lastAccessTime, lastWriteTime);
    return 0;
}

}  // extern "C"
