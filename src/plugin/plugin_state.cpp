#include "plugin/plugin_state.h"

#include <iterator>

#include "platform/string_resources.h"
#include "plugin/strings.h"

namespace vodarezazuv {

namespace {
constinit PluginState g_plugin;
}  // namespace

PluginState& Plugin() {
    return g_plugin;
}

void AttachLibrary() {
    LoadStringW(kStringHelpFileName, g_plugin.helpFileName, std::size(g_plugin.helpFileName));
}

namespace {

// The library's load and unload: once per process.
__attribute__((constructor)) void OnLoad() {
    AttachLibrary();
}

}  // namespace

}  // namespace vodarezazuv
