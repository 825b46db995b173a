// Numbers of the string resources the plugin loads.
#pragma once

#include <cstdint>

namespace vodarezazuv {

inline constexpr uint32_t kStringHelpFileName = 130;
inline constexpr uint32_t kStringHelpText = 131;
inline constexpr uint32_t kStringChunkedWarning = 132;
inline constexpr uint32_t kStringServerPasswordPrompt = 153;
inline constexpr uint32_t kStringProxyPasswordPrompt = 154;

}  // namespace vodarezazuv
