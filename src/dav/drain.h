// Bodies nobody wants (of an error status, or of a step whose answer only counts) are read
// and dropped so that the connection can be used again, but only up to a limit: a server
// that sends without end would otherwise hold the host's thread, and nothing in such a read
// asks the host whether to stop. Past the limit the request is closed with the rest unread.
#pragma once

#include <cstdint>

namespace vodarezazuv {

inline constexpr uint64_t kDrainLimit = uint64_t{1} << 20;

}  // namespace vodarezazuv
