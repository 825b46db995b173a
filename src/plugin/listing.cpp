// The listing exports: the root lists the help file and the registry's connections.
#include <cerrno>
#include <cstring>
#include <new>

#include "platform/string_resources.h"
#include "plugin/export_guard.h"
#include "plugin/find_handle.h"
#include "plugin/plugin_state.h"
#include "plugin/registry.h"
#include "plugin/strings.h"

using namespace vodarezazuv;

namespace {

// The host's mark for a missing last-write time.
constexpr FILETIME kNoDate = {0xFFFFFFFEu, 0xFFFFFFFFu};
constexpr size_t kHelpTextSize = 256;

bool IsRoot(const char16_t* path) {
    return path[0] == u'\\' && path[1] == 0;
}

void* FailListing(int error) {
    errno = error;
    return FS_INVALID_HANDLE;
}

void FillConnectionEntry(WIN32_FIND_DATAW& record, const char16_t* name) {
    std::memset(&record, 0, sizeof record);
    record.attributes = FileAttributeDirectory;
    record.lastWriteTime = kNoDate;
    CopyBoundedW(record.name, name, kNameLimit);
}

void* FindFirstAtRoot(WIN32_FIND_DATAW& record) {
    char16_t helpText[kHelpTextSize];
    size_t helpLength = LoadStringW(kStringHelpText, helpText, kHelpTextSize);
    RefreshRegistry(Registry(), Plugin().settingsPath, kQuickConnectionName);
    std::memset(&record, 0, sizeof record);
    record.lastWriteTime = kNoDate;
    record.sizeLow = static_cast<uint32_t>(helpLength);
    CopyBoundedW(record.name, Plugin().helpFileName, kNameLimit);
    auto* handle = new (std::nothrow) FindHandle;
    if (handle == nullptr)
        return FS_INVALID_HANDLE;
    handle->rootPending = 1;
    return handle;
}

}  // namespace

extern "C" {

void* FsFindFirstW(char16_t* path, WIN32_FIND_DATAW* findData) {
    if (path == nullptr || findData == nullptr)
        return FailListing(FsErrorPathNotFound);
    // Below the root the connections are not browsable yet.
    if (!IsRoot(path))
        return FailListing(FsErrorPathNotFound);
    void* handle = Guarded(FS_INVALID_HANDLE, [&] { return FindFirstAtRoot(*findData); });
    if (handle == FS_INVALID_HANDLE)
        errno = FsErrorPathNotFound;
    return handle;
}

int32_t FsFindNextW(void* handle, WIN32_FIND_DATAW* findData) {
    if (handle == FS_INVALID_HANDLE || handle == nullptr || findData == nullptr)
        return 0;
    auto& find = *static_cast<FindHandle*>(handle);
    char16_t name[kNameLimit + 1];
    if (find.rootPending != 0) {
        find.entry = FirstEntryName(Registry(), name, kNameLimit);
        if (!find.entry)
            return 0;
        find.rootPending = 0;
    } else if (find.entry) {
        find.entry = NextEntryName(find.entry, name, kNameLimit);
        if (!find.entry)
            return 0;
    } else {
        return 0;
    }
    FillConnectionEntry(*findData, name);
    return 1;
}

int32_t FsFindClose(void* handle) {
    if (handle == FS_INVALID_HANDLE || handle == nullptr)
        return 0;
    delete static_cast<FindHandle*>(handle);
    return 0;
}

}  // extern "C"
