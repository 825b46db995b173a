// libcurl's failures as the WinINet error numbers the transport interprets.
#pragma once

#include <cstdint>
#include <string>

namespace vodarezazuv::net {

struct TransferFailure {
    int curlCode = 0;
    long verifyResult = 0;          // CURLINFO_SSL_VERIFYRESULT
    uint32_t tlsRefusal = 0;        // what this client's own certificate check refused
    bool clientCertWanted = false;  // the server asked for a certificate and had none
};

// The error number for a failed transfer; kNetErrorExtended when there is no better one.
uint32_t MapTransferFailure(const TransferFailure& failure);

// The latest failure that became kNetErrorExtended, with libcurl's words, for
// NetGetLastResponseInfo.
void RecordResponseInfo(uint32_t error, const char* text);
void ReadResponseInfo(uint32_t& error, std::string& text);

}  // namespace vodarezazuv::net
