// A connection's settings as the settings file holds them, and the operations on its
// section: loading, asking for missing passwords, copying, renaming and deleting.
#pragma once

#include <cstdint>

#include "util/bounded_text.h"

namespace vodarezazuv {

// The settings fields of a connection; the field names are the keys of the settings file.
struct ConnectionSettings {
    char16_t server[kNameLimit + 1];
    char16_t user[kNameLimit + 1];
    char16_t password[kNameLimit + 1];  // plain, or the store marker (password kept by the host)
    int32_t ssl;
    uint32_t requestFlags;  // 0x80800000 (reload, secure) with ssl, else 0
    char16_t ssl_cert_issuer[kNameLimit + 1];
    char ssl_cert_serial[kNameLimit + 1];  // Base64 of the serial number, in the ANSI code page
    int32_t utf8urls;
    int32_t interactive;      // set by the caller: ask for missing passwords instead of the dialog
    int32_t threeStepUpload;  // key "3stepupload"
    int32_t multistepupload;
    int32_t deletebeforeupload;
    int32_t detailedlog;
    int32_t apacheDirWithSlash;
    int32_t proxynr;    // 0 direct, 1 section "proxy", N >= 2 section "proxyN"; not clamped
    int32_t proxytype;  // 0 direct, 1 the system's proxy settings, 2 proxyserver
    char16_t proxyserver[kNameLimit + 1];
    char16_t proxyuser[kNameLimit + 1];
    char16_t proxypassword[kNameLimit + 1];
};

inline constexpr uint32_t kSecureRequestFlags = 0x80800000u;

// The connection and settings file that a load or the connection dialog works on: set by
// OpenConnectionSettings and read by the loaders and the dialogs. The references stay set
// after the call and are only meaningful while their owners live.
struct DialogContext {
    const char16_t* section = nullptr;
    ConnectionSettings* record = nullptr;
    const char16_t* settingsPath = nullptr;
};
DialogContext& CurrentDialog();

// Fills record from the section `name` of the settings file of the dialog context, the
// proxy definition record.proxynr included. Leaves record.interactive alone.
void LoadConnectionSettings(const char16_t* name, ConnectionSettings& record);

// Fills the four proxy fields of record from definition number (1 the section "proxy", N >= 2
// the section "proxyN"; 0 or less a direct connection). Returns 1 when the definition
// exists (definition 1 always does, N >= 2 when its section has "proxytype"), else 0.
int32_t LoadProxy(int32_t number, ConnectionSettings& record);

// Loads the connection `name` from the settings file at path into record. With
// record.interactive set, asks the host for a missing proxy password, then for a missing
// server password; returns 0 when the user cancelled a prompt, else 1. The dialog for a
// record that is not interactive comes with the connection dialog; until then it returns 0
// and opens nothing.
int32_t OpenConnectionSettings(ConnectionSettings& record, const char16_t* name,
                               const char16_t* path);

enum CopySectionResult : int32_t {
    CopySectionDone = 0,
    CopySectionTargetExists = 1,
    CopySectionSourceMissing = 2,  // no section or no keys
    CopySectionWriteFailed = 3,    // the file could not be written and is as it was
};

// Copies every key of section oldName to newName (after removing what newName held), and
// with move removes oldName, in one atomic rewrite of the file. Names equal but for case:
// done, nothing changes. Without overwrite, an existing newName with keys is left alone. A
// new name the file cannot hold faithfully (see ProfileWriteAll) fails the write.
CopySectionResult CopyConnectionSection(const char16_t* oldName, const char16_t* newName,
                                        int32_t move, int32_t overwrite, const char16_t* path);

// Removes the section with all its keys; nonzero when the file no longer holds it.
int32_t DeleteSection(const char16_t* name, const char16_t* path);

}  // namespace vodarezazuv
