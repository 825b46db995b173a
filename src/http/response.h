// The status of a response for the operations and the log, and the tests that tell whether
// a body is UTF-8.
#pragma once

#include <cstdint>

#include "platform/http_client.h"

namespace vodarezazuv {

// Logs the request line (with detailedlog the request headers too, and "******Received
// headers" with the response's status line and headers) and the status line ("207
// Multi-Status", "Error: 404 Not Found"). Returns the status number, 400 when it cannot be
// read, or -1 when chunkedCheck is set, the response is chunked, the client is affected by
// the chunked fault (never here) and the status is 2xx.
int32_t ReadResponseStatus(NetHandle request, int32_t detailedlog, int32_t chunkedCheck);

// 1 when the HTTP client corrupts chunked bodies; libcurl does not, so 0.
int32_t WinInetHasChunkedBug();

// 1 when text (lowered in place) holds "content-type:" and, after it, "utf-8".
int32_t HeadersDeclareUtf8(char* text);

// 1 when text holds "encoding=" followed, after any double quotes, blanks, CR, LF and tabs,
// by "utf-8" in any case.
int32_t XmlDeclaresUtf8(const char* text);

}  // namespace vodarezazuv
