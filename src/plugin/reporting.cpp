#include "plugin/reporting.h"

#include "platform/clock.h"
#include "plugin/plugin_state.h"

namespace vodarezazuv {

namespace {
constexpr int64_t kProgressInterval = 250;  // ms; a report exactly 250 ms later is skipped
}  // namespace

int32_t ReportProgress(int32_t percent) {
    PluginState& plugin = Plugin();
    if (plugin.hostProgress == nullptr)
        return 0;
    // The difference as a signed 32-bit value, so that the wrap of the tick count after
    // 49.7 days does not stop the reports. Widened before taking the absolute value:
    // the difference may be the most negative 32-bit number.
    int64_t elapsed = static_cast<int32_t>(TickCount() - plugin.lastProgressTick);
    if (elapsed < 0)
        elapsed = -elapsed;
    if (elapsed <= kProgressInterval)
        return 0;
    int32_t answer = plugin.hostProgress(plugin.pluginNumber, nullptr, nullptr, percent);
    plugin.lastProgressTick = TickCount();
    return answer != 0 ? 1 : 0;
}

void LogLine(const char16_t* text) {
    PluginState& plugin = Plugin();
    if (plugin.hostLog != nullptr) {
        plugin.hostLog(plugin.pluginNumber, LogTypeDetail, const_cast<char16_t*>(text));
    }
}

}  // namespace vodarezazuv
