#include "settings/password.h"

#include "plugin/plugin_state.h"
#include "util/bounded_text.h"

namespace vodarezazuv {

namespace {

constexpr char16_t kKey[] = u"Vq3Mh8Lr1Wz5Kt0Pd7Ny4Bs9Fg2Xc6Je8Ha3Uo5Ri1Tm7Ew0Lk+Z";
constexpr size_t kKeyLength = sizeof kKey / sizeof kKey[0] - 1;
static_assert(kKeyLength == 52);

// The key unit for character i of a password of n units: the position starts at n mod 52.
char16_t KeyUnit(size_t n, size_t i) {
    return kKey[(n % kKeyLength + i) % kKeyLength];
}

bool IsDigit(char16_t c) {
    return c >= u'0' && c <= u'9';
}

}  // namespace

bool IsStoreMarker(const char16_t* password) {
    return WideEqual(password, kStoreMarker);
}

bool PasswordSurvivesScrambling(const char16_t* password) {
    size_t n = WideLength(password);
    if (n > kMaxScrambledPasswordLength)
        return false;
    for (size_t i = 0; i < n; ++i) {
        if ((password[i] ^ KeyUnit(n, i)) > 999)
            return false;
    }
    return true;
}

ScrambleResult ScramblePassword(const char16_t* password, char16_t* out, size_t capacity) {
    if (capacity == 0)
        return ScrambleNotRestorable;
    out[0] = 0;
    size_t n = WideLength(password);
    if (!PasswordSurvivesScrambling(password) || capacity < 3 * n + 1) {
        return ScrambleNotRestorable;
    }
    for (size_t i = 0; i < n; ++i) {
        unsigned value = static_cast<char16_t>(password[i] ^ KeyUnit(n, i));
        out[3 * i] = static_cast<char16_t>(u'0' + value / 100);
        out[3 * i + 1] = static_cast<char16_t>(u'0' + value / 10 % 10);
        out[3 * i + 2] = static_cast<char16_t>(u'0' + value % 10);
    }
    out[3 * n] = 0;
    return ScrambleDone;
}

void UnscramblePassword(const char16_t* scrambled, char16_t* out, int32_t size) {
    if (size <= 0)
        return;
    out[0] = 0;
    if (WideEqual(scrambled, kStoredMarkerText)) {
        if (Plugin().hostCrypt != nullptr && size > 1)
            CopyBoundedW(out, kStoreMarker, 1);
        return;
    }
    size_t groups = WideLength(scrambled) / 3;
    size_t i = 0;
    for (; i < groups && i < static_cast<size_t>(size) - 1; ++i) {
        const char16_t* group = scrambled + 3 * i;
        if (!IsDigit(group[0]) || !IsDigit(group[1]) || !IsDigit(group[2])) {
            out[0] = 0;
            return;
        }
        unsigned value = 100u * (group[0] - u'0') + 10u * (group[1] - u'0') + (group[2] - u'0');
        out[i] = static_cast<char16_t>(value ^ KeyUnit(groups, i));
    }
    out[i] = 0;
}

int32_t CopyStoredPassword(const char16_t* oldName, const char16_t* newName, int32_t move) {
    PluginState& plugin = Plugin();
    if (plugin.hostCrypt == nullptr)
        return 0;
    char16_t oldKey[kNameLimit + 1], newKey[kNameLimit + 1];
    CopyBoundedW(oldKey, oldName, kNameLimit);
    CopyBoundedW(newKey, newName, kNameLimit);
    int32_t answer = plugin.hostCrypt(plugin.pluginNumber, plugin.cryptoNumber,
                                      move != 0 ? StoreMove : StoreCopy, oldKey, newKey, 0);
    return answer == 0 ? 1 : 0;
}

void ProxyStoreKey(int32_t number, char16_t* out, size_t limit) {
    if (number <= 1) {
        CopyBoundedW(out, u"proxy", limit);
    } else {
        FormatWide(out, limit + 1, u"proxy%d", {number});
    }
    AppendBoundedW(out, u"$$pass", limit);
}

}  // namespace vodarezazuv
