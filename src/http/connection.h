// An open connection: its settings as loaded, the parts of its server address, and the
// session and connect handles of the HTTP client through which its requests go.
#pragma once

#include <cstdint>

#include "platform/http_client.h"
#include "plugin/registry.h"
#include "settings/connection_settings.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

// The settings fields come first (see ConnectionSettings); after OpenConnection `server`
// holds only the host name. A record is closed (both handles none) or open (both set).
struct Connection : ConnectionSettings {
    char16_t basePath[kNameLimit + 1];  // "/dav" for host/dav/; empty without a path
    NetHandle sessionHandle;
    NetHandle connectHandle;
    int32_t port;             // 0: the protocol's default
    uint32_t tempFileNumber;  // the temporary file of the last listing body; 0: none
};

// The prefix of the temporary files that hold listing bodies.
inline constexpr char16_t kListingTempPrefix[] = u"DAV";

// Open sessions of the process; the HTTP client's library start-up is held while it is not 0.
int32_t SessionCount();

// Splits an address ("https://host:8443/dav/", backslashes allowed) in place: the scheme is
// dropped (it does not decide TLS), basePath takes the path without a trailing "/", server
// keeps the host name, port the number after ":" (not a number: 0), else 443 with ssl and
// 0 without.
void SplitServerAddress(Connection& connection);

// The access type and proxy name of the session for the connection's proxy settings.
struct SessionAccess {
    uint32_t accessType;
    const char16_t* proxy;  // points into the connection, or nullptr
};
SessionAccess AccessOf(const Connection& connection);

// Loads the named connection from the settings file (asking for a missing password, taking
// stored ones from the host's store), splits its address, asks the host's progress callback
// (an abort stops), opens its session and logs "CONNECT \name". nullptr when any step fails.
ConnectionPtr OpenConnection(const char16_t* name, const char16_t* settingsPath);

// Opens the session and connect handles. 0 when both are open, 1 on failure (both none; the
// failure has been logged).
int32_t StartSession(Connection& connection);

// Deletes the listing's temporary file, closes what is open (logging "Disconnected" for an
// open connect handle) and returns 0. A closed record stays as it is.
int32_t CloseSession(Connection& connection);

// The status callback while no request runs: a beep for every notification.
void IdleStatusCallback(NetHandle handle, uintptr_t context, uint32_t status, void* info,
                        uint32_t infoLength);

}  // namespace vodarezazuv
