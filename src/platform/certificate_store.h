// The user's store of client certificates: on Linux the folder "certificates" beside the
// settings file, holding PEM files with a certificate and its unencrypted key, and PKCS#12
// files without password. Files of other kinds, certificates without a key and unreadable
// files are passed over.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>

#include "util/bounded_text.h"

namespace vodarezazuv {

struct StoredCertificate {
    // The subject's common name, else its organisation, organisational unit or e-mail
    // address; empty when it has none of them.
    char16_t displayName[kNameLimit + 1];
    // The serial number's bytes as the certificate's DER integer holds them, least
    // significant first.
    unsigned char serial[64];
    size_t serialLength;
    char16_t path[kLongPathLimit + 1];  // the file, for the client's certificate option
};

// The store folder for a settings file: "certificates" in the folder that holds it.
void CertificateStoreFolder(const char16_t* settingsPath, char16_t* out, size_t capacity);

// Calls visit for each certificate of the folder, in the order of the file names, until it
// returns false. Returns false when the folder cannot be read.
bool ForEachStoredCertificate(const char16_t* folder,
                              const std::function<bool(const StoredCertificate&)>& visit);

}  // namespace vodarezazuv
