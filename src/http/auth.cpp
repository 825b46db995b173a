#include "http/auth.h"

#include "http/connection.h"
#include "http/errors.h"
#include "platform/certificate_store.h"
#include "plugin/plugin_state.h"

#include "platform/codepage.h"
#include "util/base64.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

void SetProxyCredentials(NetHandle handle, const char16_t* proxyuser,
                         const char16_t* proxypassword) {
    if (proxyuser[0] != 0)
        NetSetOption(handle, kNetOptionProxyUsername, proxyuser,
                     static_cast<uint32_t>(WideLength(proxyuser) + 1));
    if (proxypassword[0] != 0)
        NetSetOption(handle, kNetOptionProxyPassword, proxypassword,
                     static_cast<uint32_t>(WideLength(proxypassword) + 1));
}

void AddProxyBasicHeader(char16_t* headers, const char16_t* proxyuser,
                         const char16_t* proxypassword, size_t capacity) {
    if (proxyuser[0] == 0)
        return;
    char work[kNameLimit + 1];
    size_t used = WideToAnsi(proxyuser, work, kNameLimit + 1);
    AppendBoundedA(work, ":", kNameLimit);
    used = NarrowLength(work);
    if (used < kNameLimit)
        WideToAnsi(proxypassword, work + used, kNameLimit + 1 - used);
    char encoded[kNameLimit + 1];
    Base64EncodeText(work, encoded, kNameLimit);
    char line[kNameLimit + 1] = "Proxy-Authorization: Basic ";
    AppendBoundedA(line, encoded, kNameLimit);
    AppendBoundedA(line, "\r\n", kNameLimit);
    char16_t wide[kNameLimit + 1];
    AnsiToWide(line, wide, kNameLimit + 1);
    AppendBoundedW(headers, wide, capacity);
}

namespace {

// The store: the folder, fixed when it is first used, as a system store stays open.
bool storeOpen = false;
char16_t storeFolder[kLongPathLimit + 1];

bool OpenCertificateStore() {
    if (!storeOpen) {
        CertificateStoreFolder(Plugin().settingsPath, storeFolder, kLongPathLimit + 1);
        storeOpen = storeFolder[0] != 0;
    }
    return storeOpen;
}

char LowerAscii(char c) {
    return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c;
}

}  // namespace

bool ClientCertificateMatches(const char16_t* displayName, const char* encodedSerial,
                              const char16_t* ssl_cert_issuer, const char* ssl_cert_serial) {
    if (!WideEqualNoCase(displayName, ssl_cert_issuer))
        return false;
    for (size_t i = 0; encodedSerial[i] != 0; ++i) {
        if (ssl_cert_serial[i] == 0 ||
            LowerAscii(ssl_cert_serial[i]) != LowerAscii(encodedSerial[i]))
            return false;
    }
    return true;
}

void SelectClientCertificate(const Connection& connection, NetHandle request) {
    if (connection.ssl == 0 || connection.ssl_cert_issuer[0] == 0 ||
        connection.ssl_cert_serial[0] == 0)
        return;
    if (!OpenCertificateStore())
        return;
    ForEachStoredCertificate(storeFolder, [&](const StoredCertificate& certificate) {
        if (certificate.displayName[0] == 0 || certificate.serialLength == 0)
            return true;
        size_t length = 0;
        std::unique_ptr<char[]> serial =
            Base64Encode(certificate.serial, certificate.serialLength, &length);
        if (serial == nullptr || length == 0)
            return true;
        if (!ClientCertificateMatches(certificate.displayName, serial.get(),
                                      connection.ssl_cert_issuer, connection.ssl_cert_serial))
            return true;
        if (NetSetOption(request, kNetOptionClientCertContext, certificate.path,
                         static_cast<uint32_t>(WideLength(certificate.path) + 1))) {
            PluginState& plugin = Plugin();
            char16_t line[264];
            FormatWide(line, sizeof line / sizeof line[0],
                       u"Re-Sending request using client certificate: %s",
                       {static_cast<const char16_t*>(connection.ssl_cert_issuer)});
            if (plugin.hostLog != nullptr)
                plugin.hostLog(plugin.pluginNumber, LogTypeDetail, line);
        } else {
            ReportError(kClientCertificateFailedPrefix, NetLastError());
        }
        return false;
    });
}

void CloseCertificateStore() {
    storeOpen = false;
    storeFolder[0] = 0;
}

}  // namespace vodarezazuv
