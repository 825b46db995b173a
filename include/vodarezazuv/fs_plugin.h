/*
 * The Morlo file-system plugin interface as vodarezazuv implements it on Linux.
 *
 * The host loads vodarezazuv.so and drives it through the eighteen functions declared
 * below. Wide text is UTF-16 in char16_t, NUL-terminated; narrow text is 8-bit.
 * Host paths keep the host's backslash form ("\conn\dir"); local paths are POSIX paths.
 * Every function has C linkage and the platform's default calling convention.
 */
#ifndef VODAREZAZUV_FS_PLUGIN_H
#define VODAREZAZUV_FS_PLUGIN_H

#include <stddef.h>
#include <stdint.h>

#ifdef __cplusplus
extern "C" {
#else
#include <uchar.h>
#endif

/* The handle value every failed FsFindFirstW returns: all bits set. */
#define FS_INVALID_HANDLE ((void*)-1)

/* errno after a failed FsFindFirstW. */
enum { FsErrorPathNotFound = 3, FsErrorNoMoreFiles = 18 };

/* Results of FsGetFileW, FsPutFileW and FsRenMovFileW. */
enum {
    FileOpOk = 0,
    FileOpExists = 1,
    FileOpNotFound = 2,
    FileOpReadError = 3,
    FileOpWriteError = 4,
    FileOpAborted = 5,
    FileOpNotSupported = 6,
    FileOpExistsResumable = 7
};

/* Results of FsExecuteFileW; ExecByHost asks the host to perform the verb itself. */
enum { ExecDone = 0, ExecError = 1, ExecByHost = -1 };

/* Copy flags of FsGetFileW and FsPutFileW. Either of the two CopyTargetExists bits tells
   that the target exists already. */
enum {
    CopyOverwrite = 0x01,
    CopyResume = 0x02,
    CopyTargetExistsA = 0x08,
    CopyTargetExistsB = 0x10
};
#define CopyTargetExists (CopyTargetExistsA | CopyTargetExistsB)

/* Message types of the log callback. */
enum { LogTypeConnect = 1, LogTypeDisconnect = 2, LogTypeDetail = 3 };

/* Request types of the request callback; it answers nonzero when the user confirmed. */
enum { AskServerPassword = 2, AskProxyPassword = 5, ShowMessage = 8 };

/* Modes of the password-store callback; it answers 0 for success. */
enum {
    StoreSave = 1,
    StoreLoad = 2,
    StoreLoadQuiet = 3,
    StoreCopy = 4,
    StoreMove = 5,
    StoreDelete = 6
};

/* Bit 0 of the flags of FsSetCryptCallbackW: the host's store has a master password. */
enum { CryptFlagMasterPassword = 1 };

/* FsStatusInfoW: start/end, and the operations (the host's numbering) the plugin watches. */
enum { StatusStart = 0, StatusEnd = 1 };
enum { StatusOpRenameMoveMulti = 7, StatusOpDelete = 8 };

/* Attribute bits of find records and remote-info records. */
enum { FileAttributeReadonly = 0x01, FileAttributeDirectory = 0x10 };

typedef struct FILETIME {
    uint32_t low;
    uint32_t high;
} FILETIME;

/* The host's find record: 592 bytes. */
typedef struct WIN32_FIND_DATAW {
    uint32_t attributes;
    FILETIME creationTime;
    FILETIME lastAccessTime;
    FILETIME lastWriteTime;
    uint32_t sizeHigh;
    uint32_t sizeLow;
    uint32_t reserved0;
    uint32_t reserved1;
    char16_t name[260];
    char16_t alternateName[14];
} WIN32_FIND_DATAW;

/* What the host knows of a remote file when it copies or moves it. */
typedef struct FsRemoteInfo {
    uint32_t sizeLow;
    uint32_t sizeHigh;
    FILETIME lastWriteTime;
    int32_t attributes;
} FsRemoteInfo;

/* Handed over by FsSetDefaultParams; settingsPath is a POSIX path of a file in the host's
   configuration directory. */
typedef struct FsDefaultParams {
    int32_t size;
    uint32_t versionLow;
    uint32_t versionHigh;
    char settingsPath[260];
} FsDefaultParams;

/* The layouts the host relies on. */
#ifdef __cplusplus
#define FS_PLUGIN_LAYOUT(condition, what) static_assert(condition, what)
#else
#define FS_PLUGIN_LAYOUT(condition, what) _Static_assert(condition, what)
#endif
FS_PLUGIN_LAYOUT(sizeof(FILETIME) == 8, "FILETIME is two 32-bit halves");
FS_PLUGIN_LAYOUT(sizeof(WIN32_FIND_DATAW) == 592, "the host's find record is 592 bytes");
FS_PLUGIN_LAYOUT(offsetof(WIN32_FIND_DATAW, name) == 44, "find record name at byte 44");
FS_PLUGIN_LAYOUT(offsetof(WIN32_FIND_DATAW, alternateName) == 564, "alternate name at 564");
FS_PLUGIN_LAYOUT(sizeof(FsRemoteInfo) == 20, "the remote-info record is 20 bytes");
FS_PLUGIN_LAYOUT(offsetof(FsRemoteInfo, attributes) == 16, "remote-info attributes at 16");
FS_PLUGIN_LAYOUT(offsetof(FsDefaultParams, settingsPath) == 12, "settings path at byte 12");
FS_PLUGIN_LAYOUT(sizeof(FsDefaultParams) == 272, "the default-parameters record is 272 bytes");
#undef FS_PLUGIN_LAYOUT

/* Host callbacks. The first argument is always the plugin number given to FsInitW. */
typedef int32_t (*HostProgressProc)(int32_t pluginNumber, char16_t* sourceName,
                                    char16_t* targetName, int32_t percent);
typedef void (*HostLogProc)(int32_t pluginNumber, int32_t messageType, char16_t* text);
typedef int32_t (*HostRequestProc)(int32_t pluginNumber, int32_t requestType, char16_t* title,
                                   char16_t* text, char16_t* buffer, int32_t bufferSize);
typedef int32_t (*HostCryptProc)(int32_t pluginNumber, int32_t cryptoNumber, int32_t mode,
                                 char16_t* keyName, char16_t* buffer, int32_t bufferSize);

/* Initialisation. */
int32_t FsInitW(int32_t pluginNumber, HostProgressProc progress, HostLogProc log,
                HostRequestProc request);
void FsSetCryptCallbackW(HostCryptProc crypt, int32_t cryptoNumber, int32_t flags);
void FsSetDefaultParams(FsDefaultParams* params);
void FsGetDefRootName(char* name, int32_t bufferSize);
void FsStatusInfoW(char16_t* remoteDir, int32_t startEnd, int32_t operation);

/* Listing. */
void* FsFindFirstW(char16_t* path, WIN32_FIND_DATAW* findData);
int32_t FsFindNextW(void* handle, WIN32_FIND_DATAW* findData);
int32_t FsFindClose(void* handle);
int32_t FsDisconnectW(char16_t* disconnectRoot);

/* File commands. */
int32_t FsMkDirW(char16_t* path);
int32_t FsExecuteFileW(void* mainWindow, char16_t* remoteName, char16_t* verb);
int32_t FsRenMovFileW(char16_t* oldName, char16_t* newName, int32_t move, int32_t overwrite,
                      FsRemoteInfo* info);
int32_t FsGetFileW(char16_t* remoteName, char16_t* localName, int32_t copyFlags,
                   FsRemoteInfo* info);
int32_t FsPutFileW(char16_t* localName, char16_t* remoteName, int32_t copyFlags);
int32_t FsDeleteFileW(char16_t* remoteName);
int32_t FsRemoveDirW(char16_t* remoteName);
int32_t FsSetAttrW(char16_t* remoteName, int32_t newAttr);
int32_t FsSetTimeW(char16_t* remoteName, FILETIME* creationTime, FILETIME* lastAccessTime,
                   FILETIME* lastWriteTime);

#ifdef __cplusplus
}
#endif

#endif
