// Proxy credentials for the client and the pre-emptive Basic proxy header.
#pragma once

#include <cstddef>

#include "platform/http_client.h"

namespace vodarezazuv {

// Gives the client the proxy user name and password (each only when not empty) as options
// of handle, with their lengths in characters including the terminator.
void SetProxyCredentials(NetHandle handle, const char16_t* proxyuser,
                         const char16_t* proxypassword);

// Appends "Proxy-Authorization: Basic " + Base64(user ":" password) + CR LF to headers (user
// and password in the ANSI code page, the line at most 259 bytes), cut to capacity
// characters. Nothing without a proxy user.
void AddProxyBasicHeader(char16_t* headers, const char16_t* proxyuser,
                         const char16_t* proxypassword, size_t capacity);

}  // namespace vodarezazuv
