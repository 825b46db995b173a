#include "util/base64.h"

#include "util/bounded_text.h"

#include <new>

namespace vodarezazuv {

namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kGroupLimit = size_t{1} << 30;

// Encodes count (1 to 3) bytes into four characters, padding the missing ones with "=".
void EncodeGroup(const unsigned char* bytes, size_t count, char* out) {
    unsigned b0 = bytes[0];
    unsigned b1 = count > 1 ? bytes[1] : 0;
    unsigned b2 = count > 2 ? bytes[2] : 0;
    out[0] = kAlphabet[b0 >> 2];
    out[1] = kAlphabet[((b0 & 3) << 4) + (b1 >> 4)];
    out[2] = count > 1 ? kAlphabet[((b1 & 0x0F) << 2) + (b2 >> 6)] : '=';
    out[3] = count > 2 ? kAlphabet[b2 & 0x3F] : '=';
}

}  // namespace

std::unique_ptr<char[]> Base64Encode(const unsigned char* data, size_t length, size_t* outLength) {
    if (outLength != nullptr)
        *outLength = 0;
    size_t groups = length / 3 + (length % 3 != 0 ? 1 : 0);
    if (groups >= kGroupLimit)
        return nullptr;
    std::unique_ptr<char[]> text(new (std::nothrow) char[4 * groups + 1]);
    if (!text)
        return nullptr;
    for (size_t g = 0; g < groups; ++g) {
        size_t done = 3 * g;
        EncodeGroup(data + done, length - done < 3 ? length - done : 3, text.get() + 4 * g);
    }
    text[4 * groups] = 0;
    if (outLength != nullptr)
        *outLength = 4 * groups;
    return text;
}

char* Base64EncodeText(const char* text, char* out, size_t limit) {
    out[0] = 0;
    const auto* bytes = reinterpret_cast<const unsigned char*>(text);
    size_t length = NarrowLength(text);
    for (size_t done = 0; done < length && 4 * (done / 3) < limit; done += 3) {
        char group[5] = {};
        EncodeGroup(bytes + done, length - done < 3 ? length - done : 3, group);
        AppendBoundedA(out, group, limit);
    }
    return out;
}

}  // namespace vodarezazuv
