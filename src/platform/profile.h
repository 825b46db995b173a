// The settings-file store: an INI file of sections and keys, read and written one call at a
// time, the way the plugin's settings need it.
//
// - Section and key names compare without regard to the case of A to Z; blanks around names
//   and values are not part of them. A section named "" is not listed.
// - Every call opens, reads or rewrites and closes the file; nothing is cached.
// - A missing file reads as a file without sections; the first write creates it.
// - A write keeps every other line of the file as it was (comments, blank lines, unknown
//   keys, order, CRLF or LF line ends) and replaces the file atomically: the new content is
//   written beside it, flushed and renamed over it, so a crash or a full disk leaves either
//   the old or the new file. A file that exists but cannot be read is never overwritten.
// - Files are read as UTF-8 (a byte-order mark is skipped; bytes that are not valid UTF-8
//   are read as Windows-1252) or as UTF-16LE with byte-order mark; they are written as UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

// The value of key in section, or defaultValue (nullptr for "") when the key is absent.
// With key nullptr: the key names of the section in file order instead, each terminated and
// the list ended by an empty name. Writes at most size elements, always terminated; a list
// holds only the names that fit whole. Returns the characters written without the last
// terminator.
size_t ProfileGetString(const char16_t* section, const char16_t* key, const char16_t* defaultValue,
                        char16_t* out, size_t size, const char16_t* path);

// True when the file has a section of that name holding at least one key.
bool ProfileSectionHasKeys(const char16_t* section, const char16_t* path);

// The names of all sections in file order, as a list like the key names above.
size_t ProfileGetSectionNames(char16_t* out, size_t size, const char16_t* path);

// The leading decimal digits of the value as a number (0 when the value does not start with
// a digit, INT32_MAX when the digits go beyond it), or defaultValue when the key is absent.
int32_t ProfileGetInt(const char16_t* section, const char16_t* key, int32_t defaultValue,
                      const char16_t* path);

// One change of a write: value under key in section, created as needed; value nullptr
// removes the key, key nullptr the whole section (its header up to its last key; comments
// and blank lines after that stay).
struct ProfileChange {
    const char16_t* section;
    const char16_t* key;
    const char16_t* value;
};

// Applies the changes in order and replaces the file once: afterwards the file holds all of
// them or, on failure, none. A change that cannot be stored faithfully is refused, and with
// it the whole write: empty names, names or values holding a line break or a lone surrogate
// or beginning or ending with a blank (reading would not give them back), and key names
// holding "=" or starting with "[", ";" or "#". Returns true when the file holds what was
// asked for, false when nothing was written.
bool ProfileWriteAll(const ProfileChange* changes, size_t count, const char16_t* path);

// One change, as above.
bool ProfileWriteString(const char16_t* section, const char16_t* key, const char16_t* value,
                        const char16_t* path);

}  // namespace vodarezazuv
