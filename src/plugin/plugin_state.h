// Plugin-wide state: one instance per loaded library, touched only from the host's calls,
// one at a time, so nothing is locked.
#pragma once

#include <cstdint>

#include "vodarezazuv/fs_plugin.h"

namespace vodarezazuv {

struct PluginState {
    int32_t pluginNumber = 0;
    HostProgressProc hostProgress = nullptr;
    HostLogProc hostLog = nullptr;
    HostRequestProc hostRequest = nullptr;
    HostCryptProc hostCrypt = nullptr;
    int32_t cryptoNumber = 0;
    bool masterPasswordSet = false;
    char16_t settingsPath[260] = u"vodarezazuv.ini";
    char16_t helpFileName[32] = u"";
    bool rootOperationActive = false;
    uint32_t lastProgressTick = 0;
};

// Constant-initialised, so it is ready before any load-time code runs.
PluginState& Plugin();

// Library load: loads the name of the help file entry.
void AttachLibrary();
// What the unload of the library does: closes every open connection (so that no thread of
// the HTTP client outlives the code it runs), frees the registry and closes the user's
// certificate store. The host's callbacks are not called any more.
void DetachLibrary();
// Has DetachLibrary run when the library is unloaded or the process ends (once, however
// often it is called). Registered on the first use of the registry, after the HTTP client's
// static objects exist, it runs before they are destroyed, on dlclose and at exit alike.
void DetachAtUnload();

}  // namespace vodarezazuv
