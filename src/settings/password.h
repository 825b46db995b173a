// Passwords in the settings file: scrambled into decimal digits, or kept in the host's
// password store with a marker in the file. The scrambling only hides a password from a
// casual look at the file; it is no encryption.
#pragma once

#include <cstddef>
#include <cstdint>

namespace vodarezazuv {

// The file value of a password kept in the host's store.
inline constexpr char16_t kStoredMarkerText[] = u"!";
// The record value of such a password until it is fetched from the store.
inline constexpr char16_t kStoreMarker[] = u"\u0001";

// True when the record field holds exactly the store marker.
bool IsStoreMarker(const char16_t* password);

// The longest password whose scrambled form can be read back: the file value is read with
// at most 259 characters, that is 86 groups of three digits.
inline constexpr size_t kMaxScrambledPasswordLength = 86;

// True when ScramblePassword stores this password in a form that reads back as the same
// password: at most 86 code units, each scrambling to three digits (which every character
// below U+0300 does). The dialogs call it before they save a password to the file; one that
// does not survive goes to the host's store when the host has one, and otherwise is not
// saved at all (the user is told and is asked for it when connecting).
bool PasswordSurvivesScrambling(const char16_t* password);

enum ScrambleResult : int32_t {
    ScrambleDone = 0,
    // The password would not read back (see PasswordSurvivesScrambling): the output is
    // empty, never a value that reads back as another password.
    ScrambleNotRestorable = 1,
};

// Writes the scrambled form of password into out (capacity elements, 3 per code unit plus
// the terminator suffice for every password that survives): per code unit the decimal value
// of the unit XOR the key unit, three digits, zero-padded. Too small a buffer gives an
// empty output and ScrambleNotRestorable as well.
ScrambleResult ScramblePassword(const char16_t* password, char16_t* out, size_t capacity);

// Reads a file value back into out (size elements): "!" gives the store marker when the
// host has a password store and "" otherwise; a group with a non-digit gives ""; characters
// after the last whole group of three are ignored.
void UnscramblePassword(const char16_t* scrambled, char16_t* out, int32_t size);

// Copies (or with move, moves) the stored password of connection oldName to newName in the
// host's store. Returns 1 when the host reported success, 0 otherwise or without a store.
int32_t CopyStoredPassword(const char16_t* oldName, const char16_t* newName, int32_t move);

// The host-store key of proxy definition number (1 or less: "proxy$$pass", else
// "proxyN$$pass"), cut to limit characters.
void ProxyStoreKey(int32_t number, char16_t* out, size_t limit);

}  // namespace vodarezazuv
