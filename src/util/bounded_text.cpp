#include "util/bounded_text.h"

#include <new>

namespace vodarezazuv {

namespace {

template <typename Char>
size_t Length(const Char* text) {
    size_t n = 0;
    while (text[n] != 0)
        ++n;
    return n;
}

template <typename Char>
Char* CopyBounded(Char* destination, const Char* source, size_t limit) {
    size_t i = 0;
    for (; i < limit && source[i] != 0; ++i)
        destination[i] = source[i];
    destination[i] = 0;
    return destination;
}

template <typename Char>
Char* AppendBounded(Char* destination, const Char* source, size_t limit) {
    size_t used = Length(destination);
    if (used < limit)
        CopyBounded(destination + used, source, limit - used);
    return destination;
}

template <typename Char>
Char* ForwardSlashes(Char* text) {
    for (Char* p = text; *p != 0; ++p) {
        if (*p == '\\')
            *p = '/';
    }
    return text;
}

char16_t AsciiLower(char16_t c) {
    return (c >= u'A' && c <= u'Z') ? char16_t(c + 32) : c;
}

// Appends to a wide buffer, silently dropping what does not fit.
struct WideWriter {
    char16_t* out;
    size_t capacity;
    size_t used = 0;

    void Put(char16_t c) {
        if (used + 1 < capacity)
            out[used++] = c;
    }
    void Pad(size_t count, char16_t c) {
        for (size_t i = 0; i < count; ++i)
            Put(c);
    }
};

// The digits of a number, least significant first.
size_t Digits(uint64_t value, unsigned base, bool upper, char16_t* digits) {
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    size_t n = 0;
    do {
        digits[n++] = static_cast<char16_t>(set[value % base]);
        value /= base;
    } while (value != 0);
    return n;
}

bool IsConversion(char16_t c) {
    return c == u's' || c == u'c' || c == u'd' || c == u'u' || c == u'x' || c == u'X';
}

void FormatOne(WideWriter& w, char16_t conversion, bool zero, bool left, size_t width,
               const FormatArg* arg) {
    char16_t digits[24];
    size_t count = 0;
    const char16_t* text = nullptr;
    bool negative = false;
    if (arg == nullptr)
        return;
    switch (conversion) {
        case u's':
            text = arg->kind == FormatArg::Kind::Text && arg->text ? arg->text : u"";
            count = Length(text);
            break;
        case u'c':
            // A text or a 0 would end the output in its middle: nothing is inserted.
            if (arg->kind == FormatArg::Kind::Text || arg->number == 0)
                return;
            digits[0] = static_cast<char16_t>(arg->number);
            count = 1;
            text = digits;
            break;
        case u'd':
        case u'u':
        case u'x':
        case u'X': {
            if (arg->kind == FormatArg::Kind::Text)
                return;
            uint64_t value = static_cast<uint64_t>(arg->number);
            if (conversion == u'd' && arg->number < 0) {
                negative = true;
                value = static_cast<uint64_t>(-arg->number);
            } else if (conversion != u'd') {
                value = static_cast<uint32_t>(arg->number);
            }
            unsigned base = (conversion == u'x' || conversion == u'X') ? 16 : 10;
            count = Digits(value, base, conversion == u'X', digits);
            break;
        }
        default:
            return;
    }
    size_t shown = count + (negative ? 1 : 0);
    size_t pad = width > shown ? width - shown : 0;
    if (!left && !(zero && text == nullptr))
        w.Pad(pad, u' ');
    if (negative)
        w.Put(u'-');
    if (!left && zero && text == nullptr)
        w.Pad(pad, u'0');
    if (text != nullptr) {
        for (size_t i = 0; i < count; ++i)
            w.Put(text[i]);
    } else {
        for (size_t i = count; i > 0; --i)
            w.Put(digits[i - 1]);
    }
    if (left)
        w.Pad(pad, u' ');
}

}  // namespace

size_t WideLength(const char16_t* text) {
    return Length(text);
}
size_t NarrowLength(const char* text) {
    return Length(text);
}

char* CopyBoundedA(char* destination, const char* source, size_t limit) {
    return CopyBounded(destination, source, limit);
}
char16_t* CopyBoundedW(char16_t* destination, const char16_t* source, size_t limit) {
    return CopyBounded(destination, source, limit);
}
char* AppendBoundedA(char* destination, const char* source, size_t limit) {
    return AppendBounded(destination, source, limit);
}
char16_t* AppendBoundedW(char16_t* destination, const char16_t* source, size_t limit) {
    return AppendBounded(destination, source, limit);
}
char* ForwardSlashesA(char* text) {
    return ForwardSlashes(text);
}
char16_t* ForwardSlashesW(char16_t* text) {
    return ForwardSlashes(text);
}

std::unique_ptr<char[]> DuplicateText(const char* text) {
    size_t n = Length(text);
    std::unique_ptr<char[]> copy(new (std::nothrow) char[n + 1]);
    if (copy)
        CopyBounded(copy.get(), text, n);
    return copy;
}

bool WideEqual(const char16_t* a, const char16_t* b) {
    for (; *a != 0 && *a == *b; ++a, ++b) {
    }
    return *a == *b;
}

bool WideEqualNoCase(const char16_t* a, const char16_t* b) {
    for (; *a != 0 && AsciiLower(*a) == AsciiLower(*b); ++a, ++b) {
    }
    return AsciiLower(*a) == AsciiLower(*b);
}

size_t FormatWide(char16_t* destination, size_t capacity, const char16_t* format,
                  std::initializer_list<FormatArg> values) {
    if (capacity == 0)
        return 0;
    WideWriter w{destination, capacity};
    const FormatArg* next = values.begin();
    for (const char16_t* p = format; *p != 0; ++p) {
        if (*p != u'%') {
            w.Put(*p);
            continue;
        }
        ++p;
        if (*p == u'%') {
            w.Put(u'%');
            continue;
        }
        const char16_t* start = p - 1;
        bool zero = false, left = false;
        for (; *p == u'0' || *p == u'-'; ++p)
            (*p == u'0' ? zero : left) = true;
        size_t width = 0;
        for (; *p >= u'0' && *p <= u'9'; ++p) {
            width = width * 10 + (*p - u'0');
            if (width > capacity)
                width = capacity;  // no padding beyond what fits
        }
        if (*p == 0)
            break;
        if (!IsConversion(*p)) {
            // Not understood: the text stands as written and no value is used up, so the
            // conversions after it still get their own values.
            for (const char16_t* q = start; q <= p; ++q)
                w.Put(*q);
            continue;
        }
        const FormatArg* arg = next != values.end() ? next++ : nullptr;
        FormatOne(w, *p, zero, left, width, arg);
    }
    destination[w.used] = 0;
    return w.used;
}

}  // namespace vodarezazuv
