// The initialisation exports.
#include "platform/native_path.h"
#include "plugin/plugin_state.h"
#include "util/bounded_text.h"

using namespace vodarezazuv;

namespace {

constexpr char16_t kSettingsFileName[] = u"vodarezazuv.ini";
constexpr char kDefaultRootName[] = "WebDAV";

}  // namespace

extern "C" {

int32_t FsInitW(int32_t pluginNumber, HostProgressProc progress, HostLogProc log,
                HostRequestProc request) {
    PluginState& plugin = Plugin();
    plugin.pluginNumber = pluginNumber;
    plugin.hostProgress = progress;
    plugin.hostLog = log;
    plugin.hostRequest = request;
    return 0;
}

void FsSetCryptCallbackW(HostCryptProc crypt, int32_t cryptoNumber, int32_t flags) {
    PluginState& plugin = Plugin();
    plugin.hostCrypt = crypt;
    plugin.cryptoNumber = cryptoNumber;
    plugin.masterPasswordSet = (flags & CryptFlagMasterPassword) != 0;
}

void FsSetDefaultParams(FsDefaultParams* params) {
    if (params == nullptr)
        return;
    PluginState& plugin = Plugin();
    // The host's path need not be terminated inside its 260 bytes.
    char path[sizeof params->settingsPath + 1];
    CopyBoundedA(path, params->settingsPath, sizeof params->settingsPath);
    NativePathToWide(path, plugin.settingsPath, kNameLimit + 1);
    // Keep the directory with its closing "/", drop the host's own file name.
    char16_t* lastSlash = nullptr;
    for (char16_t* p = plugin.settingsPath; *p != 0; ++p) {
        if (*p == u'/')
            lastSlash = p;
    }
    if (lastSlash != nullptr) {
        lastSlash[1] = 0;
    } else {
        plugin.settingsPath[0] = 0;
    }
    AppendBoundedW(plugin.settingsPath, kSettingsFileName, kNameLimit);
}

void FsGetDefRootName(char* name, int32_t bufferSize) {
    if (name == nullptr || bufferSize <= 0)
        return;
    CopyBoundedA(name, kDefaultRootName, static_cast<size_t>(bufferSize) - 1);
}

void FsStatusInfoW(char16_t* remoteDir, int32_t startEnd, int32_t operation) {
    // Only operations on the root itself: "" or "\".
    if (remoteDir != nullptr && remoteDir[0] != 0 && remoteDir[1] != 0)
        return;
    if (operation == StatusOpRenameMoveMulti || operation == StatusOpDelete) {
        Plugin().rootOperationActive = startEnd == StatusStart;
    }
}

}  // extern "C"
