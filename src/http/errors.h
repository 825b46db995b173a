// Transport failures as one log line: a prefix that says what failed and the best text for
// the error number.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

// Prefixes of the transport's failure lines.
inline constexpr char16_t kNoSessionPrefix[] = u"Error: Could not get Internet handle: ";
inline constexpr char16_t kConnectFailedPrefix[] = u"InternetConnect failed: ";
inline constexpr char16_t kHttpErrorPrefix[] = u"HTTP error: ";
inline constexpr char16_t kSendFailedPrefix[] = u"HttpSendRequest failed: ";
inline constexpr char16_t kOpenRequestFailedPrefix[] = u"HttpOpenRequest error: ";
inline constexpr char16_t kClientCertificateFailedPrefix[] =
    u"InternetSetOption failed using client certificate: ";

// The error the message lookup leaves when it has no text for a number (as the system's
// lookup does: "message not found").
inline constexpr uint32_t kMessageNotFound = 317;

// The system's message text of error, from our own catalogue of the numbers the HTTP client
// gives that the string table of client errors (12001 to 12053) lacks, in the process
// language. nullptr (and *lookupError set to kMessageNotFound) for any other number.
const char16_t* SystemMessageText(uint32_t error, uint32_t* lookupError);

// Builds the line for prefix and error into line (kLongPathLimit + 1 elements): the prefix,
// then for 12003 the client's last response text, else the system text, else the string
// table's text (12001 to 12053), else "Error %d, FormatMessage error %d"; error 0 gives the
// prefix alone.
void FormatErrorLine(const char16_t* prefix, uint32_t error, char16_t* line);

// Logs that line through LogLine.
void ReportError(const char16_t* prefix, uint32_t error);

}  // namespace vodarezazuv
