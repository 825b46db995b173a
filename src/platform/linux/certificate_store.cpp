#include "platform/certificate_store.h"

#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/pem.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <vector>

#include "platform/native_path.h"
#include "util/unicode.h"

namespace vodarezazuv {

namespace {

constexpr std::uintmax_t kLargestFile = 1 << 20;

struct Loaded {
    X509* certificate = nullptr;
    EVP_PKEY* key = nullptr;
    ~Loaded() {
        X509_free(certificate);
        EVP_PKEY_free(key);
    }
};

bool LoadPem(const std::string& bytes, Loaded& loaded) {
    BIO* bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    if (bio == nullptr)
        return false;
    loaded.certificate = PEM_read_bio_X509(bio, nullptr, nullptr, nullptr);
    BIO_free(bio);
    // The key may stand before or after the certificate: read it from the start again.
    bio = BIO_new_mem_buf(bytes.data(), static_cast<int>(bytes.size()));
    if (bio == nullptr)
        return false;
    // An empty passphrase: an encrypted key fails instead of prompting on a terminal.
    loaded.key = PEM_read_bio_PrivateKey(bio, nullptr, nullptr, const_cast<char*>(""));
    BIO_free(bio);
    return loaded.certificate != nullptr && loaded.key != nullptr;
}

bool LoadPkcs12(const std::string& bytes, Loaded& loaded) {
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    PKCS12* p12 = d2i_PKCS12(nullptr, &data, static_cast<long>(bytes.size()));
    if (p12 == nullptr)
        return false;
    bool parsed = PKCS12_parse(p12, "", &loaded.key, &loaded.certificate, nullptr) == 1 ||
                  PKCS12_parse(p12, nullptr, &loaded.key, &loaded.certificate, nullptr) == 1;
    PKCS12_free(p12);
    return parsed && loaded.certificate != nullptr && loaded.key != nullptr;
}

void DisplayName(X509* certificate, char16_t* out) {
    out[0] = 0;
    X509_NAME* subject = X509_get_subject_name(certificate);
    for (int nid : {NID_commonName, NID_organizationName, NID_organizationalUnitName,
                    NID_pkcs9_emailAddress}) {
        int index = X509_NAME_get_index_by_NID(subject, nid, -1);
        if (index < 0)
            continue;
        ASN1_STRING* value = X509_NAME_ENTRY_get_data(X509_NAME_get_entry(subject, index));
        unsigned char* utf8 = nullptr;
        int length = ASN1_STRING_to_UTF8(&utf8, value);
        if (length <= 0)
            continue;
        std::string text(reinterpret_cast<char*>(utf8), static_cast<size_t>(length));
        OPENSSL_free(utf8);
        WidenWithPlaceholder(1, text.c_str(), out, kNameLimit + 1, u"");
        if (out[0] != 0)
            return;
    }
}

// The DER content of the serial (a leading zero byte before a high bit), reversed.
void Serial(X509* certificate, StoredCertificate& entry) {
    const ASN1_INTEGER* serial = X509_get0_serialNumber(certificate);
    const unsigned char* data = ASN1_STRING_get0_data(serial);
    int length = ASN1_STRING_length(serial);
    std::vector<unsigned char> bytes;
    if (length > 0 && (data[0] & 0x80) != 0)
        bytes.push_back(0);
    bytes.insert(bytes.end(), data, data + std::max(length, 0));
    if (bytes.size() > sizeof entry.serial)
        bytes.clear();
    std::reverse(bytes.begin(), bytes.end());
    std::copy(bytes.begin(), bytes.end(), entry.serial);
    entry.serialLength = bytes.size();
}

}  // namespace

void CertificateStoreFolder(const char16_t* settingsPath, char16_t* out, size_t capacity) {
    if (capacity == 0)
        return;
    std::filesystem::path settings(WideToNativePath(settingsPath));
    std::string folder = (settings.parent_path() / "certificates").string();
    NativePathToWide(folder.c_str(), out, capacity);
}

bool ForEachStoredCertificate(const char16_t* folder,
                              const std::function<bool(const StoredCertificate&)>& visit) {
    std::error_code error;
    std::filesystem::directory_iterator files(WideToNativePath(folder), error);
    if (error)
        return false;
    std::vector<std::filesystem::path> paths;
    for (const auto& file : files) {
        if (file.is_regular_file(error) && file.file_size(error) <= kLargestFile)
            paths.push_back(file.path());
    }
    std::sort(paths.begin(), paths.end());
    for (const auto& path : paths) {
        std::ifstream stream(path, std::ios::binary);
        std::string bytes((std::istreambuf_iterator<char>(stream)),
                          std::istreambuf_iterator<char>());
        if (bytes.empty())
            continue;
        Loaded loaded;
        bool read = static_cast<unsigned char>(bytes[0]) == 0x30 ? LoadPkcs12(bytes, loaded)
                                                                 : LoadPem(bytes, loaded);
        if (!read)
            continue;
        StoredCertificate entry{};
        DisplayName(loaded.certificate, entry.displayName);
        Serial(loaded.certificate, entry);
        if (NativePathToWide(path.c_str(), entry.path, kLongPathLimit + 1) == 0)
            continue;
        if (!visit(entry))
            break;
    }
    return true;
}

}  // namespace vodarezazuv
