#include "http/connection.h"

#include <unistd.h>

#include <memory>
#include <new>

#include "http/errors.h"
#include "platform/front_end.h"
#include "platform/native_path.h"
#include "platform/temp_file.h"
#include "plugin/plugin_state.h"
#include "plugin/reporting.h"
#include "settings/password.h"

namespace vodarezazuv {

namespace {

int32_t sessionCount = 0;

// Counts a session in, starting the client's library when it is the first.
bool CountSessionIn() {
    if (sessionCount == 0 && !NetStartup())
        return false;
    ++sessionCount;
    return true;
}

void CountSessionOut() {
    --sessionCount;
    if (sessionCount == 0)
        NetCleanup();
}

bool StartsWithNoCase(const char16_t* text, const char16_t* prefix) {
    for (; *prefix != 0; ++text, ++prefix) {
        char16_t a = *text, b = *prefix;
        if (a >= u'A' && a <= u'Z')
            a = static_cast<char16_t>(a - u'A' + u'a');
        if (a != b)
            return false;
    }
    return true;
}

// The decimal number at the start of text; 0 when it does not start with a digit.
int32_t LeadingNumber(const char16_t* text) {
    int64_t value = 0;
    for (; *text >= u'0' && *text <= u'9'; ++text) {
        value = value * 10 + (*text - u'0');
        if (value > INT32_MAX)
            return 0;
    }
    return static_cast<int32_t>(value);
}

// Replaces a store marker in password by the stored password of key. False when the host
// reports a failure.
bool LoadStoredPassword(char16_t* password, const char16_t* key) {
    PluginState& plugin = Plugin();
    char16_t keyText[kNameLimit + 1];
    CopyBoundedW(keyText, key, kNameLimit);
    char16_t stored[kNameLimit + 1] = u"";
    int32_t answer = plugin.hostCrypt(plugin.pluginNumber, plugin.cryptoNumber, StoreLoad, keyText,
                                      stored, kNameLimit + 1);
    if (answer != 0)
        return false;
    stored[kNameLimit] = 0;
    CopyBoundedW(password, stored, kNameLimit);
    return true;
}

}  // namespace

int32_t SessionCount() {
    return sessionCount;
}

void SplitServerAddress(Connection& connection) {
    char16_t* server = connection.server;
    ForwardSlashesW(server);
    size_t skip = 0;
    if (StartsWithNoCase(server, u"http://"))
        skip = 7;
    else if (StartsWithNoCase(server, u"https://"))
        skip = 8;
    if (skip != 0) {
        size_t length = WideLength(server);
        for (size_t i = skip; i <= length; ++i)
            server[i - skip] = server[i];
    }
    connection.basePath[0] = 0;
    for (char16_t* slash = server; *slash != 0; ++slash) {
        if (*slash == u'/') {
            CopyBoundedW(connection.basePath, slash, kNameLimit);
            *slash = 0;
            size_t length = WideLength(connection.basePath);
            if (length > 0 && connection.basePath[length - 1] == u'/')
                connection.basePath[length - 1] = 0;
            break;
        }
    }
    connection.port = connection.ssl != 0 ? 443 : 0;
    for (char16_t* colon = server; *colon != 0; ++colon) {
        if (*colon == u':') {
            *colon = 0;
            connection.port = LeadingNumber(colon + 1);
            break;
        }
    }
}

SessionAccess AccessOf(const Connection& connection) {
    if (connection.proxytype == 0)
        return {kNetOpenTypeDirect, nullptr};
    if (connection.proxytype == 2 && connection.proxyserver[0] != 0)
        return {kNetOpenTypeProxy, connection.proxyserver};
    return {kNetOpenTypePreconfig, nullptr};
}

ConnectionPtr OpenConnection(const char16_t* name, const char16_t* settingsPath) {
    auto record = std::make_unique<Connection>();  // value-initialised: every field zero
    record->interactive = 1;
    if (OpenConnectionSettings(*record, name, settingsPath) == 0)
        return nullptr;

    PluginState& plugin = Plugin();
    if (plugin.hostCrypt != nullptr) {
        if (IsStoreMarker(record->password) && !LoadStoredPassword(record->password, name)) {
            ShowMessageBox(u"Failed to load password!", u"Error", MessageIcon::Error);
            return nullptr;
        }
        if (IsStoreMarker(record->proxypassword)) {
            char16_t key[kNameLimit + 1];
            ProxyStoreKey(record->proxynr, key, kNameLimit);
            if (!LoadStoredPassword(record->proxypassword, key)) {
                ShowMessageBox(u"Failed to load proxy password!", u"Error", MessageIcon::Error);
                return nullptr;
            }
        }
    }
    if (record->proxytype == 0) {
        record->proxyuser[0] = 0;
        record->proxypassword[0] = 0;
    }
    SplitServerAddress(*record);

    if (plugin.hostProgress != nullptr) {
        char16_t source[kNameLimit + 1], target[] = u"temp";
        CopyBoundedW(source, name, kNameLimit);
        if (plugin.hostProgress(plugin.pluginNumber, source, target, 0) != 0)
            return nullptr;
    }
    if (StartSession(*record) != 0)
        return nullptr;

    char16_t line[kNameLimit + 1] = u"CONNECT \\";
    AppendBoundedW(line, name, kNameLimit);
    if (plugin.hostLog != nullptr)
        plugin.hostLog(plugin.pluginNumber, LogTypeConnect, line);
    return ConnectionPtr(record.release());
}

int32_t StartSession(Connection& connection) {
    if (!CountSessionIn())
        return 1;
    if (connection.sessionHandle == nullptr) {
        SessionAccess access = AccessOf(connection);
        connection.sessionHandle =
            NetOpen(u"zuzodudiru", access.accessType, access.proxy, nullptr, kNetFlagAsync);
    }
    if (connection.sessionHandle == nullptr) {
        ReportError(kNoSessionPrefix, NetLastError());
        CountSessionOut();
        return 1;
    }
    NetSetStatusCallback(connection.sessionHandle, IdleStatusCallback);
    NetSetOption(connection.sessionHandle, kNetOptionProxyUsername, connection.proxyuser,
                 static_cast<uint32_t>(WideLength(connection.proxyuser) + 1));
    NetSetOption(connection.sessionHandle, kNetOptionProxyPassword, connection.proxypassword,
                 static_cast<uint32_t>(WideLength(connection.proxypassword) + 1));

    uint16_t port = 80;
    uint32_t flags = 0;
    if (connection.ssl != 0) {
        port = static_cast<uint16_t>(connection.port);
        flags = kNetFlagSecure;
    } else if (connection.port != 0) {
        port = static_cast<uint16_t>(connection.port);
    }
    connection.connectHandle =
        NetConnect(connection.sessionHandle, connection.server, port, connection.user,
                   connection.password, kNetServiceHttp, flags, 0);
    if (connection.connectHandle == nullptr) {
        ReportError(kConnectFailedPrefix, NetLastError());
        NetCloseHandle(connection.sessionHandle);
        connection.sessionHandle = nullptr;
        CountSessionOut();
        return 1;
    }
    return 0;
}

int32_t CloseSession(Connection& connection) {
    if (connection.tempFileNumber != 0) {
        char16_t name[kLongPathLimit + 1];
        if (TempFileName(kListingTempPrefix, connection.tempFileNumber, name, kLongPathLimit + 1) !=
            0)
            unlink(WideToNativePath(name).c_str());
        connection.tempFileNumber = 0;
    }
    if (connection.connectHandle != nullptr) {
        LogLine(u"Disconnected");
        NetCloseHandle(connection.connectHandle);
        connection.connectHandle = nullptr;
        CountSessionOut();
    }
    if (connection.sessionHandle != nullptr) {
        NetCloseHandle(connection.sessionHandle);
        connection.sessionHandle = nullptr;
    }
    return 0;
}

void IdleStatusCallback(NetHandle, uintptr_t, uint32_t, void*, uint32_t) {
    DefaultBeep();
}

}  // namespace vodarezazuv
