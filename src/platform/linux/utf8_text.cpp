#include "platform/linux/utf8_text.h"

#include "platform/codepage.h"

namespace vodarezazuv {

void AppendUtf8(std::string& out, char32_t c) {
    if (c < 0x80) {
        out += static_cast<char>(c);
    } else if (c < 0x800) {
        out += static_cast<char>(0xC0 | (c >> 6));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
        out += static_cast<char>(0xE0 | (c >> 12));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    } else {
        out += static_cast<char>(0xF0 | (c >> 18));
        out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
        out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
        out += static_cast<char>(0x80 | (c & 0x3F));
    }
}

// The length of a well-formed UTF-8 sequence at text[i] (no overlong forms, no surrogates,
// nothing above U+10FFFF), or 0.
size_t Utf8SequenceAt(std::string_view text, size_t i, char32_t& value) {
    unsigned char lead = static_cast<unsigned char>(text[i]);
    size_t length = lead < 0x80                    ? 1
                    : lead >= 0xC2 && lead <= 0xDF ? 2
                    : lead >= 0xE0 && lead <= 0xEF ? 3
                    : lead >= 0xF0 && lead <= 0xF4 ? 4
                                                   : 0;
    if (length == 0 || i + length > text.size())
        return 0;
    value = length == 1 ? lead : lead & (0x7F >> length);
    for (size_t k = 1; k < length; ++k) {
        unsigned char next = static_cast<unsigned char>(text[i + k]);
        if ((next & 0xC0) != 0x80)
            return 0;
        value = (value << 6) | (next & 0x3F);
    }
    static constexpr char32_t kSmallest[5] = {0, 0, 0x80, 0x800, 0x10000};
    if (value < kSmallest[length] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) {
        return 0;
    }
    return length;
}

// UTF-8 as it stands; every byte that is not part of a valid sequence as Windows-1252.
std::string DecodeUtf8OrAnsi(std::string_view bytes) {
    std::string out;
    out.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size();) {
        char32_t value = 0;
        size_t length = Utf8SequenceAt(bytes, i, value);
        if (length == 0) {
            AppendUtf8(out, AnsiCharToWide(static_cast<unsigned char>(bytes[i])));
            ++i;
        } else {
            out.append(bytes.substr(i, length));
            i += length;
        }
    }
    return out;
}

std::string DecodeUtf16(std::string_view bytes, bool bigEndian) {
    std::string out;
    auto unit = [&](size_t i) -> char32_t {
        auto b0 = static_cast<unsigned char>(bytes[i]),
             b1 = static_cast<unsigned char>(bytes[i + 1]);
        return bigEndian ? (b0 << 8) | b1 : (b1 << 8) | b0;
    };
    for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
        char32_t c = unit(i);
        if (c >= 0xD800 && c <= 0xDBFF && i + 3 < bytes.size()) {
            char32_t low = unit(i + 2);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                AppendUtf8(out, 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00));
                i += 2;
                continue;
            }
        }
        AppendUtf8(out, (c >= 0xD800 && c <= 0xDFFF) ? 0xFFFD : c);
    }
    return out;
}

std::string WideToUtf8(const char16_t* text) {
    std::string out;
    if (text == nullptr)
        return out;
    for (const char16_t* p = text; *p != 0; ++p) {
        char32_t c = *p;
        if (c >= 0xD800 && c <= 0xDBFF && p[1] >= 0xDC00 && p[1] <= 0xDFFF) {
            c = 0x10000 + ((c - 0xD800) << 10) + (p[1] - 0xDC00);
            ++p;
        } else if (c >= 0xD800 && c <= 0xDFFF) {
            c = 0xFFFD;
        }
        AppendUtf8(out, c);
    }
    return out;
}

// Text already known to be valid UTF-8 (it went through the decoders above).
std::u16string Utf8ToWide(std::string_view text) {
    std::u16string out;
    for (size_t i = 0; i < text.size();) {
        char32_t value = 0;
        size_t length = Utf8SequenceAt(text, i, value);
        if (length == 0)
            value = 0xFFFD;
        i += length == 0 ? 1 : length;
        if (value >= 0x10000) {
            out += static_cast<char16_t>(0xD800 + ((value - 0x10000) >> 10));
            out += static_cast<char16_t>(0xDC00 + ((value - 0x10000) & 0x3FF));
        } else {
            out += static_cast<char16_t>(value);
        }
    }
    return out;
}

}  // namespace vodarezazuv
