#include "platform/linux/http_tls.h"

#include <arpa/inet.h>
#include <curl/curl.h>
#include <openssl/bio.h>
#include <openssl/evp.h>
#include <openssl/ssl.h>
#include <openssl/x509.h>
#include <openssl/x509_vfy.h>
#include <openssl/x509v3.h>

#include <mutex>

#include "platform/http_client.h"

namespace vodarezazuv::net {

namespace {

constexpr uint32_t kProblemCa = kNetSecurityIgnoreUnknownCa;
constexpr uint32_t kProblemName = kNetSecurityIgnoreCertCnInvalid;
constexpr uint32_t kProblemDate = kNetSecurityIgnoreCertDateInvalid;
constexpr uint32_t kIgnorable = kProblemCa | kProblemName | kProblemDate;

// The SSL_CTX of each connection holds a reference to its connect's state: the context can
// outlive the request that made the connection (a renegotiation runs the checks again).
int StateIndex() {
    static const int index = SSL_CTX_get_ex_new_index(
        0, nullptr, nullptr, nullptr, [](void*, void* pointer, CRYPTO_EX_DATA*, int, long, void*) {
            delete static_cast<std::shared_ptr<TlsState>*>(pointer);
        });
    return index;
}

TlsState* StateOf(X509_STORE_CTX* store) {
    auto* ssl =
        static_cast<SSL*>(X509_STORE_CTX_get_ex_data(store, SSL_get_ex_data_X509_STORE_CTX_idx()));
    if (ssl == nullptr)
        return nullptr;
    auto* holder = static_cast<std::shared_ptr<TlsState>*>(
        SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), StateIndex()));
    return holder != nullptr ? holder->get() : nullptr;
}

bool IsDateProblem(int error) {
    return error == X509_V_ERR_CERT_HAS_EXPIRED || error == X509_V_ERR_CERT_NOT_YET_VALID ||
           error == X509_V_ERR_ERROR_IN_CERT_NOT_BEFORE_FIELD ||
           error == X509_V_ERR_ERROR_IN_CERT_NOT_AFTER_FIELD;
}

// The number of the first problem in the order a user meets them: whom the certificate is
// from, then when it is valid, then whom it is for.
uint32_t ProblemError(uint32_t problems, bool revoked) {
    if (revoked)
        return kNetErrorSecCertRevoked;
    if (problems & kProblemCa)
        return kNetErrorInvalidCa;
    if (problems & kProblemDate)
        return kNetErrorCertDateInvalid;
    if (problems & kProblemName)
        return kNetErrorCertCnInvalid;
    return 0;
}

std::string Fingerprint(X509* cert) {
    unsigned char digest[EVP_MAX_MD_SIZE];
    unsigned int length = 0;
    if (X509_digest(cert, EVP_sha256(), digest, &length) != 1)
        return std::string();
    static const char kHex[] = "0123456789ABCDEF";
    std::string text;
    for (unsigned int i = 0; i < length; ++i) {
        if (i > 0)
            text += ':';
        text += kHex[digest[i] >> 4];
        text += kHex[digest[i] & 15];
    }
    return text;
}

std::string Describe(X509* cert, const std::string& fingerprint) {
    BIO* bio = BIO_new(BIO_s_mem());
    if (bio == nullptr)
        return std::string();
    BIO_puts(bio, "Subject: ");
    X509_NAME_print_ex(bio, X509_get_subject_name(cert), 0, XN_FLAG_ONELINE);
    BIO_puts(bio, "\r\nIssuer: ");
    X509_NAME_print_ex(bio, X509_get_issuer_name(cert), 0, XN_FLAG_ONELINE);
    BIO_puts(bio, "\r\nValid from: ");
    ASN1_TIME_print(bio, X509_get0_notBefore(cert));
    BIO_puts(bio, "\r\nValid until: ");
    ASN1_TIME_print(bio, X509_get0_notAfter(cert));
    BIO_puts(bio, "\r\nSHA-256: ");
    BIO_puts(bio, fingerprint.c_str());
    char* data = nullptr;
    long size = BIO_get_mem_data(bio, &data);
    std::string text(data, static_cast<size_t>(size > 0 ? size : 0));
    BIO_free(bio);
    return text;
}

bool NameMatches(X509* cert, const std::string& host) {
    unsigned char address[16];
    if (inet_pton(AF_INET, host.c_str(), address) == 1 ||
        inet_pton(AF_INET6, host.c_str(), address) == 1)
        return X509_check_ip_asc(cert, host.c_str(), 0) == 1;
    return X509_check_host(cert, host.c_str(), host.size(), 0, nullptr) == 1;
}

// OpenSSL calls this for every certificate of the chain and problem, the leaf (depth 0)
// last. Problems add up over the chain; an accepted certificate covers only the problems
// it was accepted with. Without pins libcurl decides and checks the name itself; with pins
// this callback decides, name included, and clears what it accepts so that libcurl sees a
// verified chain.
int VerifyCertificate(int preverifyOk, X509_STORE_CTX* store) {
    TlsState* state = StateOf(store);
    if (state == nullptr)
        return preverifyOk;
    X509* leaf = X509_STORE_CTX_get0_cert(store);
    std::lock_guard lock(state->mutex);
    std::string fingerprint = Fingerprint(leaf);
    if (fingerprint != state->seenFingerprint) {
        state->seenFingerprint = fingerprint;
        state->seenDescription = Describe(leaf, fingerprint);
        state->refusedProblems = 0;
        state->refusedRevoked = false;
        state->refusedError = 0;
    }
    int error = X509_STORE_CTX_get_error(store);
    if (!preverifyOk) {
        if (error == X509_V_ERR_CERT_REVOKED)
            state->refusedRevoked = true;
        state->refusedProblems |= IsDateProblem(error) ? kProblemDate : kProblemCa;
    }
    bool pinned = !state->pins.empty();
    if (pinned && X509_STORE_CTX_get_error_depth(store) == 0 && !NameMatches(leaf, state->host))
        state->refusedProblems |= kProblemName;
    if (state->refusedProblems == 0 && !state->refusedRevoked)
        return preverifyOk;
    uint32_t uncovered = state->refusedProblems;
    for (const TlsState::Pin& pin : state->pins) {
        if (pin.fingerprint == fingerprint)
            uncovered &= ~pin.ignored;
    }
    if (pinned && uncovered == 0 && !state->refusedRevoked) {
        X509_STORE_CTX_set_error(store, X509_V_OK);
        return 1;
    }
    if (!pinned && preverifyOk)
        return 1;  // libcurl checks the name itself
    state->refusedError = ProblemError(uncovered, state->refusedRevoked);
    if (preverifyOk)
        X509_STORE_CTX_set_error(store, X509_V_ERR_HOSTNAME_MISMATCH);
    return 0;
}

// Called only when the server asks for a certificate and the request brings none.
int NoClientCertificate(SSL* ssl, X509**, EVP_PKEY**) {
    auto* holder = static_cast<std::shared_ptr<TlsState>*>(
        SSL_CTX_get_ex_data(SSL_get_SSL_CTX(ssl), StateIndex()));
    if (holder != nullptr) {
        std::lock_guard lock((*holder)->mutex);
        ++(*holder)->clientCertRequests;
    }
    return 0;
}

CURLcode PrepareContext(CURL*, void* sslContext, void* user) {
    auto* context = static_cast<SSL_CTX*>(sslContext);
    auto* state = static_cast<std::shared_ptr<TlsState>*>(user);
    auto* holder = new std::shared_ptr<TlsState>(*state);
    if (SSL_CTX_set_ex_data(context, StateIndex(), holder) != 1) {
        delete holder;
        return CURLE_OK;
    }
    {
        // A new connection: what an earlier handshake refused no longer counts.
        std::lock_guard lock((*state)->mutex);
        (*state)->refusedProblems = 0;
        (*state)->refusedRevoked = false;
        (*state)->refusedError = 0;
    }
    SSL_CTX_set_verify(context, SSL_CTX_get_verify_mode(context), VerifyCertificate);
    SSL_CTX_set_client_cert_cb(context, NoClientCertificate);
    return CURLE_OK;
}

}  // namespace

bool TlsState::HasPins() {
    std::lock_guard lock(mutex);
    return !pins.empty();
}

bool TlsState::PinSeen(uint32_t ignoreFlags) {
    std::lock_guard lock(mutex);
    if (seenFingerprint.empty())
        return false;
    for (Pin& pin : pins) {
        if (pin.fingerprint == seenFingerprint) {
            pin.ignored |= ignoreFlags & kIgnorable;
            return true;
        }
    }
    pins.push_back(Pin{seenFingerprint, ignoreFlags & kIgnorable});
    return true;
}

uint64_t TlsState::ClientCertRequests() {
    std::lock_guard lock(mutex);
    return clientCertRequests;
}

uint32_t TlsState::RefusalError() {
    std::lock_guard lock(mutex);
    return refusedError;
}

bool InstallTlsChecks(void* easy, const std::shared_ptr<TlsState>& state) {
    static const bool openssl = [] {
        const curl_version_info_data* info = curl_version_info(CURLVERSION_NOW);
        return info->ssl_version != nullptr &&
               std::string(info->ssl_version).rfind("OpenSSL", 0) == 0;
    }();
    if (!openssl)
        return false;
    // libcurl copies nothing: the pointer must stay valid while the transfer runs, which
    // the caller's Transfer guarantees by holding the same shared_ptr.
    auto* handle = static_cast<CURL*>(easy);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_FUNCTION, PrepareContext);
    curl_easy_setopt(handle, CURLOPT_SSL_CTX_DATA, &state);
    return true;
}

uint32_t VerifyResultError(long verifyResult) {
    // libcurl checks the name after a verified chain; a mismatch there leaves the result
    // "unspecified" (1) rather than OK.
    if (verifyResult == X509_V_OK || verifyResult == X509_V_ERR_UNSPECIFIED ||
        verifyResult == X509_V_ERR_HOSTNAME_MISMATCH ||
        verifyResult == X509_V_ERR_IP_ADDRESS_MISMATCH)
        return kNetErrorCertCnInvalid;
    if (verifyResult == X509_V_ERR_CERT_REVOKED)
        return kNetErrorSecCertRevoked;
    if (IsDateProblem(static_cast<int>(verifyResult)))
        return kNetErrorCertDateInvalid;
    return kNetErrorInvalidCa;
}

}  // namespace vodarezazuv::net
