// Progress and log lines to the host.
#pragma once

#include <cstdint>

namespace vodarezazuv {

// Reports percent through the host's progress callback, at most once per 250 ms across all
// operations. Returns 1 when the host asked to abort, else 0 (also when the report was
// skipped or there is no callback).
int32_t ReportProgress(int32_t percent);

// Sends one detail line to the host's log, if the host gave a log callback.
void LogLine(const char16_t* text);

}  // namespace vodarezazuv
