#include "http/auth.h"

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

}  // namespace vodarezazuv
