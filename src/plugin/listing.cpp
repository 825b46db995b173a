// The listing exports: the root lists the help file and the registry's connections; below
// the root a connection's collection is listed, the connection opened on first use.
#include <cerrno>
#include <cstring>
#include <memory>
#include <new>

#include "dav/listing.h"
#include "http/connection.h"
#include "platform/string_resources.h"
#include "plugin/export_guard.h"
#include "plugin/find_handle.h"
#include "plugin/plugin_state.h"
#include "plugin/registry.h"
#include "plugin/resolve_path.h"
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

void* FindFirstBelowRoot(char16_t* path, WIN32_FIND_DATAW& record) {
    PluginState& plugin = Plugin();
    RefreshRegistry(Registry(), plugin.settingsPath, kQuickConnectionName);
    // While the host deletes or moves connections, nothing below the root is listed.
    if (plugin.rootOperationActive)
        return FailListing(FsErrorNoMoreFiles);
    char16_t name[kNameLimit + 1];
    ConnectionNameOf(path, name, kNameLimit);
    Connection* connection = FindConnection(Registry(), name);
    bool openedHere = false;
    if (connection == nullptr) {
        // Only a connection the registry lists can be held open.
        if (!HasEntry(Registry(), name))
            return FailListing(FsErrorPathNotFound);
        ConnectionPtr opened = OpenConnection(name, plugin.settingsPath);
        if (!opened)
            return FailListing(FsErrorPathNotFound);
        connection = opened.get();
        SetConnection(Registry(), name, std::move(opened));
        openedHere = true;
    }
    char16_t temp[] = u"temp";
    if (plugin.hostProgress != nullptr &&
        plugin.hostProgress(plugin.pluginNumber, path, temp, 0) != 0)
        return FailListing(FsErrorPathNotFound);
    std::memset(&record, 0, sizeof record);
    char16_t remotePath[kLongPathLimit + 1];
    ResolvePath(path, remotePath, kLongPathLimit);
    ListingCursor* cursor = nullptr;
    if (DavListCollection(*connection, remotePath, &cursor) != 0) {
        if (openedHere) {
            CloseSession(*connection);
            SetConnection(Registry(), name, nullptr);
        }
        return FailListing(FsErrorPathNotFound);
    }
    // Owned here until the handle takes it, whatever happens in between.
    std::unique_ptr<ListingCursor, decltype(&FreeListing)> owned(cursor, &FreeListing);
    if (FillFindData(cursor, &record) != 0)
        return FailListing(FsErrorNoMoreFiles);
    auto* handle = new (std::nothrow) FindHandle;
    if (handle == nullptr)
        return FailListing(FsErrorPathNotFound);
    handle->cursor = owned.release();
    handle->connection = connection;
    return handle;
}

}  // namespace

extern "C" {

void* FsFindFirstW(char16_t* path, WIN32_FIND_DATAW* findData) {
    if (path == nullptr || findData == nullptr)
        return FailListing(FsErrorPathNotFound);
    if (!IsRoot(path)) {
        errno = FsErrorPathNotFound;
        return Guarded(FS_INVALID_HANDLE, [&] { return FindFirstBelowRoot(path, *findData); });
    }
    void* handle = Guarded(FS_INVALID_HANDLE, [&] { return FindFirstAtRoot(*findData); });
    if (handle == FS_INVALID_HANDLE)
        errno = FsErrorPathNotFound;
    return handle;
}

int32_t FsFindNextW(void* handle, WIN32_FIND_DATAW* findData) {
    if (handle == FS_INVALID_HANDLE || handle == nullptr || findData == nullptr)
        return 0;
    auto& find = *static_cast<FindHandle*>(handle);
    if (find.cursor != nullptr)
        return Guarded(0, [&] { return FillFindData(find.cursor, findData) == 0 ? 1 : 0; });
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
    auto* find = static_cast<FindHandle*>(handle);
    FreeListing(find->cursor);
    find->cursor = nullptr;
    delete find;
    return 0;
}

}  // extern "C"
