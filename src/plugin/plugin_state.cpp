#include "plugin/plugin_state.h"

#include <cstdlib>
#include <iterator>

#include "http/auth.h"
#include "http/connection.h"
#include "platform/string_resources.h"
#include "plugin/registry.h"
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

void DetachLibrary() {
    g_plugin.hostProgress = nullptr;
    g_plugin.hostLog = nullptr;
    g_plugin.hostRequest = nullptr;
    g_plugin.hostCrypt = nullptr;
    char16_t name[kNameLimit + 1];
    for (auto entry = FirstEntryName(Registry(), name, kNameLimit); entry;
         entry = NextEntryName(entry, name, kNameLimit)) {
        if (entry->connection) {
            CloseSession(*entry->connection);
            entry->connection.reset();
        }
    }
    ReleaseRegistry();
    CloseCertificateStore();
}

void DetachAtUnload() {
    static bool registered = false;
    if (!registered)
        registered = std::atexit([] { DetachLibrary(); }) == 0;
}

namespace {

// The library's load and unload: once per process, or per dlopen and dlclose.
__attribute__((constructor)) void OnLoad() {
    AttachLibrary();
}

}  // namespace

}  // namespace vodarezazuv
