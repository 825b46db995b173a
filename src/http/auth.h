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

struct Connection;

// Whether a certificate of the store is the one a connection names: its display name equals
// ssl_cert_issuer (ASCII case ignored) and ssl_cert_serial starts with the Base64 text of its
// serial (case ignored). A longer setting still matches, a shorter one does not.
bool ClientCertificateMatches(const char16_t* displayName, const char* encodedSerial,
                              const char16_t* ssl_cert_issuer, const char* ssl_cert_serial);

// With ssl and both certificate settings, attaches the first matching certificate of the
// user's store to the request and logs "Re-Sending request using client certificate: ...";
// a certificate the client refuses is reported. Nothing happens when none matches.
void SelectClientCertificate(const Connection& connection, NetHandle request);

// Forgets the store; it is opened again on the next use.
void CloseCertificateStore();

}  // namespace vodarezazuv
