#include "platform/string_resources.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "platform/codepage.h"
#include "resources/resource_table.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

Language FromEnvironment() {
    return LanguageFromLocale(std::getenv("LC_ALL"), std::getenv("LC_MESSAGES"),
                              std::getenv("LANG"));
}

// Chosen on first use, which is the library's load: it may run before other initialisers.
Language& LanguageSlot() {
    static Language language = FromEnvironment();
    return language;
}

}  // namespace

Language LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang) {
    for (const char* value : {lcAll, lcMessages, lang}) {
        if (value != nullptr && value[0] != 0) {
            return std::strncmp(value, "de", 2) == 0 ? Language::German : Language::English;
        }
    }
    return Language::English;
}

Language ProcessLanguage() {
    return LanguageSlot();
}
void SetProcessLanguage(Language language) {
    LanguageSlot() = language;
}

const char16_t* FindString(Language language, uint32_t id) {
    const ResourceTables& table = kResourceTables[static_cast<int>(language)];
    const StringResource* end = table.strings + table.stringCount;
    const StringResource* found = std::lower_bound(
        table.strings, end, id, [](const StringResource& r, uint32_t key) { return r.id < key; });
    return found != end && found->id == id ? found->text : nullptr;
}

size_t LoadStringW(uint32_t id, char16_t* buffer, size_t capacity) {
    if (capacity == 0)
        return 0;
    const char16_t* text = FindString(LanguageSlot(), id);
    CopyBoundedW(buffer, text != nullptr ? text : u"", capacity - 1);
    return WideLength(buffer);
}

size_t LoadStringA(uint32_t id, char* buffer, size_t capacity) {
    const char16_t* text = FindString(LanguageSlot(), id);
    return WideToAnsi(text != nullptr ? text : u"", buffer, capacity);
}

}  // namespace vodarezazuv
