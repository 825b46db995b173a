#include "platform/linux/http_errors.h"

#include <curl/curl.h>

#include <mutex>

#include "platform/http_client.h"
#include "platform/linux/http_tls.h"

namespace vodarezazuv::net {

namespace {

// libcurl result                  WinINet number  why
// ------------------------------  --------------  ---------------------------------------
// COULDNT_RESOLVE_HOST, _PROXY    12007           name not resolved
// COULDNT_CONNECT                 12029           cannot connect (refused, unreachable)
// OPERATION_TIMEDOUT              12002           connect time-out (stalls: the worker)
// SEND_ERROR                      12030           connection aborted while sending
// GOT_NOTHING, PARTIAL_FILE       12030           the server closed before the answer ended
// RECV_ERROR                      12031           connection reset while receiving
// PEER_FAILED_VERIFICATION        12045/37/38/170 by OpenSSL's verification result
// SSL_CONNECT_ERROR and the four  12044           only when the server asked for a client
//   above when a certificate                      certificate and the request had none
//   was asked for
// anything else                   12003           extended error, with libcurl's text
struct Row {
    CURLcode code;
    uint32_t error;
};

constexpr Row kTable[] = {
    {CURLE_COULDNT_RESOLVE_HOST, kNetErrorNameNotResolved},
    {CURLE_COULDNT_RESOLVE_PROXY, kNetErrorNameNotResolved},
    {CURLE_COULDNT_CONNECT, kNetErrorCannotConnect},
    {CURLE_OPERATION_TIMEDOUT, kNetErrorTimeout},
    {CURLE_SEND_ERROR, kNetErrorConnectionAborted},
    {CURLE_GOT_NOTHING, kNetErrorConnectionAborted},
    {CURLE_PARTIAL_FILE, kNetErrorConnectionAborted},
    {CURLE_RECV_ERROR, kNetErrorConnectionReset},
};

// Failures by which a TLS server ends a handshake it wanted a client certificate for.
bool EndsAHandshake(CURLcode code) {
    return code == CURLE_SSL_CONNECT_ERROR || code == CURLE_SEND_ERROR ||
           code == CURLE_RECV_ERROR || code == CURLE_GOT_NOTHING || code == CURLE_SSL_CERTPROBLEM;
}

std::mutex g_infoMutex;
uint32_t g_infoError = 0;
std::string g_infoText;

}  // namespace

uint32_t MapTransferFailure(const TransferFailure& failure) {
    auto code = static_cast<CURLcode>(failure.curlCode);
    if (failure.clientCertWanted && EndsAHandshake(code))
        return kNetErrorClientAuthCertNeeded;
    if (code == CURLE_PEER_FAILED_VERIFICATION || code == CURLE_SSL_CONNECT_ERROR) {
        if (failure.tlsRefusal != 0)
            return failure.tlsRefusal;
        if (code == CURLE_PEER_FAILED_VERIFICATION)
            return VerifyResultError(failure.verifyResult);
    }
    for (const Row& row : kTable) {
        if (row.code == code)
            return row.error;
    }
    return kNetErrorExtended;
}

void RecordResponseInfo(uint32_t error, const char* text) {
    std::lock_guard lock(g_infoMutex);
    g_infoError = error;
    g_infoText = text != nullptr ? text : "";
}

void ReadResponseInfo(uint32_t& error, std::string& text) {
    std::lock_guard lock(g_infoMutex);
    error = g_infoError;
    text = g_infoText;
}

}  // namespace vodarezazuv::net
