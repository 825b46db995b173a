// Numbered string resources in English and German, picked by the locale.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

enum class Language { English = 0, German = 1 };

// The first non-empty of LC_ALL, LC_MESSAGES and LANG decides: a value starting with "de"
// gives German, anything else (or nothing) English.
Language LanguageFromLocale(const char* lcAll, const char* lcMessages, const char* lang);

// The language of this process, taken from the environment when the library is loaded.
Language ProcessLanguage();
void SetProcessLanguage(Language language);

// The text of string `id` in `language`, or nullptr when the table has no such string.
const char16_t* FindString(Language language, uint32_t id);

// Copies string `id` of the process language into buffer (capacity elements), cut at
// capacity - 1 characters and terminated, and returns its length; 0 and an empty buffer
// when there is no such string.
size_t LoadStringW(uint32_t id, char16_t* buffer, size_t capacity);

// The same in the ANSI code page.
size_t LoadStringA(uint32_t id, char* buffer, size_t capacity);

}  // namespace vodarezazuv
