// Dates of WebDAV properties (RFC 1123 and ISO 8601 forms alike) as FILETIME values.
#pragma once

#include <cstdint>

namespace vodarezazuv {

// Scans text for the first time of day (hh:mm:ss), the first date (yyyy-mm-dd, dd-mm-yyyy or
// "dd Mon yyyy"; "/" for "-" and "." for ":" accepted) and the first numeric zone (+hh:mm)
// and returns the moment in 100-ns units since 1601-01-01 00:00:00 UTC. Everything else is
// stepped over; a missing zone means UTC. Returns 0, "no date", when the text has no date,
// when its pieces form no valid calendar time, and when a zone would move the moment before
// 1601 (so 1601-01-01 00:00:00 itself cannot be told from no date).
uint64_t ParseHttpDate(const char* text);

}  // namespace vodarezazuv
