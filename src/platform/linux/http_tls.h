// TLS checks of the HTTP client on top of libcurl's OpenSSL back end: what the server's
// certificate was and why it was refused, the certificates the user accepted anyway (each
// pinned by its SHA-256 fingerprint, so that another certificate is still refused), and
// whether the server asked for a client certificate.
#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

namespace vodarezazuv::net {

// One per connect handle: all its connections go to one server.
struct TlsState {
    struct Pin {
        std::string fingerprint;
        uint32_t ignored = 0;  // kNetSecurityIgnore* flags
    };

    std::mutex mutex;
    std::string host;
    std::string seenFingerprint;  // of the certificate the server showed last
    std::string seenDescription;
    uint32_t refusedProblems = 0;  // kNetSecurityIgnore* bits of this handshake's problems
    bool refusedRevoked = false;
    uint32_t refusedError = 0;  // the number of what this client's checks refused
    uint64_t clientCertRequests = 0;
    std::vector<Pin> pins;

    bool HasPins();
    // Accepts the problems for the certificate seen last; false when none was seen.
    bool PinSeen(uint32_t ignoreFlags);
    uint64_t ClientCertRequests();
    // The error number of the last refusal, 0 when this client refused nothing.
    uint32_t RefusalError();
};

// Installs the checks on a libcurl easy handle (an OpenSSL back end is needed; with another
// the handle keeps libcurl's own checks). The state lives as long as the connections.
bool InstallTlsChecks(void* easy, const std::shared_ptr<TlsState>& state);

// The WinINet number for an OpenSSL verification result.
uint32_t VerifyResultError(long verifyResult);

}  // namespace vodarezazuv::net
