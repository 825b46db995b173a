// One exchange of a request on its libcurl easy handle: the options it is sent with and the
// callbacks through which its headers and bodies pass between libcurl and the request.
#pragma once

#include <curl/curl.h>

#include <memory>

#include "platform/linux/http_objects.h"
#include "platform/linux/http_worker.h"

namespace vodarezazuv::net {

struct SlistDeleter {
    void operator()(curl_slist* list) const { curl_slist_free_all(list); }
};
using Slist = std::unique_ptr<curl_slist, SlistDeleter>;

// Lives on the transfer thread from the start of an exchange to its end or abort.
struct Transfer {
    std::shared_ptr<Request> request;
    Worker* worker = nullptr;
    uint64_t generation = 0;
    std::shared_ptr<TlsState> tls;  // its address is libcurl's SSL context data
    uint64_t clientCertRequestsAtStart = 0;
    bool serverAuth = false;
    bool proxyAuth = false;
    bool hasClientCert = false;
    uint32_t receiveTimeoutMs = kDefaultReceiveTimeoutMs;
    Slist serverHeaders;
    Slist proxyHeaders;
    char errorText[CURL_ERROR_SIZE] = {};
};

// Sets every option of the exchange on the easy handle (the handle keeps its connections
// and authentication state from earlier exchanges, so nothing is reset).
bool ConfigureTransfer(CURL* easy, Transfer& transfer, const TransferSettings& settings);

}  // namespace vodarezazuv::net
