// The copy commands: FsGetFileW copies a remote file (or the help text) to a local file,
// FsPutFileW a local file to the server.
#include "dav/download.h"
#include "dav/namespace_ops.h"
#include "dav/upload.h"
#include "http/connection.h"
#include "platform/local_file.h"
#include "platform/string_resources.h"
#include "plugin/export_guard.h"
#include "plugin/plugin_state.h"
#include "plugin/resolve_path.h"
#include "plugin/strings.h"
#include "util/bounded_text.h"

using namespace vodarezazuv;

namespace {

// One character longer than a remote path may be: a path that had to be cut reaches the
// operation too long and is refused there, instead of naming another resource.
using RemotePath = char16_t[kLongPathLimit + 2];

// The help text is at most this many bytes.
constexpr size_t kHelpTextBytes = 256;

// Local paths are POSIX paths: the file name is the text after the last "/". Characters a
// file manager cannot show or that separate paths elsewhere are replaced; < and > stay.
void SanitiseLocalName(char16_t* path) {
    char16_t* name = nullptr;
    for (char16_t* p = path; *p != 0; ++p) {
        if (*p == u'/')
            name = p + 1;
    }
    if (name == nullptr)
        return;
    for (char16_t* p = name; *p != 0; ++p) {
        if (*p < 0x20)
            *p = u' ';
        else if (*p == u':' || *p == u'|' || *p == u'*' || *p == u'?' || *p == u'\\' ||
                 *p == u'/' || *p == u'"')
            *p = u'_';
    }
}

bool IsHelpFile(const char16_t* remoteName) {
    const char16_t* helpFileName = Plugin().helpFileName;
    return *helpFileName != 0 && WideEqual(remoteName + 1, helpFileName);
}

// Writes the help text in the ANSI code page, without terminator.
int32_t CopyOutHelpFile(char16_t* localName, int32_t copyFlags) {
    bool overwrite = (copyFlags & CopyOverwrite) != 0;
    LocalFile file;
    if (OpenLocalFile(localName, LocalAccess::Write,
                      overwrite ? LocalCreation::CreateOrEmpty : LocalCreation::CreateNew,
                      file) != LocalOpenError::None)
        return overwrite ? FileOpWriteError : FileOpExists;
    char text[kHelpTextBytes];
    size_t length = LoadStringA(kStringHelpText, text, sizeof text);
    bool written = file.Write(text, length);
    file.Close();
    if (!written) {
        // A cut help text is not left behind as if it were the whole.
        DeleteLocalFile(localName);
        return FileOpWriteError;
    }
    return FileOpOk;
}

// 1 when the host asks to abort.
int32_t AskHostToStart(char16_t* source, char16_t* target) {
    PluginState& plugin = Plugin();
    if (plugin.hostProgress == nullptr)
        return 0;
    return plugin.hostProgress(plugin.pluginNumber, source, target, 0) != 0 ? 1 : 0;
}

int32_t HostCodeOfDownload(int32_t result) {
    switch (result) {
        case DownloadDone:
            return FileOpOk;
        case DownloadLocalDenied:
            return FileOpExists;
        case DownloadFailed:
            return FileOpReadError;
        case DownloadLocalFailed:
            return FileOpWriteError;
        case DownloadAborted:
            return FileOpAborted;
        default:
            return FileOpNotFound;
    }
}

int32_t HostCodeOfUpload(int32_t result) {
    switch (result) {
        case UploadDone:
            return FileOpOk;
        case UploadLocalFailed:
            return FileOpReadError;
        case UploadFailed:
            return FileOpWriteError;
        case UploadAborted:
            return FileOpAborted;
        default:
            return FileOpNotFound;
    }
}

int32_t GetRemoteFile(char16_t* remoteName, char16_t* localName, int32_t copyFlags,
                      const FsRemoteInfo& info) {
    // A connection itself is a directory: there is no file to fetch.
    if (!NamesRemoteObject(remoteName))
        return FileOpNotFound;
    SanitiseLocalName(localName);
    if (AskHostToStart(remoteName, localName) != 0)
        return FileOpAborted;
    // With overwrite the local file stays as it is until the server has accepted the
    // transfer: a server that is down or answers 404 must not cost the user that file.
    bool resume = (copyFlags & CopyResume) != 0;
    if ((copyFlags & CopyOverwrite) == 0 && !resume && LocalFileExists(localName))
        return FileOpExistsResumable;
    int64_t remoteSize =
        static_cast<int64_t>((static_cast<uint64_t>(info.sizeHigh) << 32) | info.sizeLow);
    RemotePath remotePath;
    Connection* connection = ResolvePath(remoteName, remotePath, kLongPathLimit + 1);
    if (connection == nullptr)
        return FileOpReadError;
    return HostCodeOfDownload(DavDownload(*connection, remotePath, localName, 1, remoteSize,
                                          info.lastWriteTime, resume ? 1 : 0));
}

int32_t PutLocalFile(char16_t* localName, char16_t* remoteName, int32_t copyFlags) {
    if ((copyFlags & CopyTargetExists) != 0 && (copyFlags & (CopyOverwrite | CopyResume)) == 0)
        return FileOpExists;
    if (WideLength(remoteName) < 3)
        return FileOpWriteError;
    // A file copied to the root under a connection's name would replace (and, with
    // deletebeforeupload, first delete) the connection's whole base folder.
    if (!NamesRemoteObject(remoteName))
        return FileOpWriteError;
    if (localName == nullptr || *localName == 0)
        return FileOpReadError;
    if (AskHostToStart(localName, remoteName) != 0)
        return FileOpAborted;
    RemotePath remotePath;
    Connection* connection = ResolvePath(remoteName, remotePath, kLongPathLimit + 1);
    if (connection == nullptr)
        return FileOpReadError;
    if ((copyFlags & CopyResume) != 0)
        return FileOpNotSupported;
    // For servers that refuse to overwrite; what the delete answers does not matter.
    if ((copyFlags & CopyOverwrite) != 0 && connection->deletebeforeupload != 0)
        DavDelete(*connection, remotePath, 0);
    return HostCodeOfUpload(DavUpload(*connection, localName, remotePath, 0));
}

}  // namespace

extern "C" {

int32_t FsGetFileW(char16_t* remoteName, char16_t* localName, int32_t copyFlags,
                   FsRemoteInfo* info) {
    return Guarded<int32_t>(FileOpReadError, [&] {
        if (remoteName == nullptr || WideLength(remoteName) < 3 || localName == nullptr ||
            *localName == 0)
            return static_cast<int32_t>(FileOpNotFound);
        if (IsHelpFile(remoteName))
            return CopyOutHelpFile(localName, copyFlags);
        // Without the host's record neither size nor date is known: nothing to copy by.
        if (info == nullptr)
            return static_cast<int32_t>(FileOpNotFound);
        return GetRemoteFile(remoteName, localName, copyFlags, *info);
    });
}

int32_t FsPutFileW(char16_t* localName, char16_t* remoteName, int32_t copyFlags) {
    return Guarded<int32_t>(FileOpWriteError, [&] {
        if (remoteName == nullptr)
            return static_cast<int32_t>(FileOpWriteError);
        return PutLocalFile(localName, remoteName, copyFlags);
    });
}

}  // extern "C"
