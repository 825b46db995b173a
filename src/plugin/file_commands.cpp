// Disconnecting and the file commands. Connections are not browsable yet, so no path
// reaches an open connection: every file command ends with the result the host gets for a
// connection that is not open. Connection management at the root comes with the connection
// dialog.
#include "http/connection.h"
#include "plugin/plugin_state.h"
#include "plugin/registry.h"
#include "util/bounded_text.h"

using namespace vodarezazuv;

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

int32_t FsMkDirW(char16_t*) {
    return 0;
}

int32_t FsExecuteFileW(void*, char16_t*, char16_t* verb) {
    if (verb != nullptr && WideEqualNoCase(verb, u"open"))
        return ExecByHost;
    return ExecError;
}

int32_t FsRenMovFileW(char16_t*, char16_t*, int32_t, int32_t, FsRemoteInfo*) {
    return FileOpNotFound;
}

int32_t FsDeleteFileW(char16_t*) {
    return 0;
}

int32_t FsRemoveDirW(char16_t*) {
    return 0;
}

int32_t FsSetAttrW(char16_t*, int32_t) {
    return 0;
}

int32_t FsSetTimeW(char16_t*, FILETIME*, FILETIME*, FILETIME*) {
    return 0;
}

}  // extern "C"
