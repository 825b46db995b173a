#include "settings/connection_settings.h"

#include <string>
#include <vector>

#include "platform/codepage.h"
#include "platform/profile.h"
#include "platform/string_resources.h"
#include "plugin/plugin_state.h"
#include "plugin/strings.h"
#include "settings/password.h"

namespace vodarezazuv {

namespace {

constexpr size_t kTextBuffer = kNameLimit;          // text keys: at most 258 characters
constexpr size_t kPasswordBuffer = kNameLimit + 1;  // scrambled values: at most 259
constexpr size_t kPromptSize = 256;
constexpr int32_t kPromptBufferSize = 259;
constexpr size_t kCopyKeyListSize = 1023;
constexpr size_t kCopyValueSize = 1023;

const char16_t* SettingsPath() {
    return CurrentDialog().settingsPath;
}

void ReadText(const char16_t* section, const char16_t* key, char16_t* field) {
    ProfileGetString(section, key, u"", field, kTextBuffer, SettingsPath());
}

int32_t ReadFlag(const char16_t* section, const char16_t* key, int32_t fallback = 0) {
    return ProfileGetInt(section, key, fallback, SettingsPath()) != 0 ? 1 : 0;
}

void ReadPassword(const char16_t* section, const char16_t* key, char16_t* field) {
    char16_t scrambled[kPasswordBuffer];
    ProfileGetString(section, key, u"", scrambled, kPasswordBuffer, SettingsPath());
    field[0] = 0;
    if (scrambled[0] != 0)
        UnscramblePassword(scrambled, field, kNameLimit + 1);
}

// Asks the host for a password into field; false when the user cancelled or the host gave
// no way to ask.
bool AskPassword(int32_t requestType, uint32_t promptString, const char16_t* user,
                 char16_t* field) {
    PluginState& plugin = Plugin();
    if (plugin.hostRequest == nullptr)
        return false;
    char16_t prompt[kPromptSize];
    LoadStringW(promptString, prompt, kPromptSize);
    AppendBoundedW(prompt, user, kPromptSize - 1);
    int32_t answer = plugin.hostRequest(plugin.pluginNumber, requestType, prompt, prompt, field,
                                        kPromptBufferSize);
    field[kNameLimit] = 0;  // whatever the host wrote, the field stays terminated
    return answer != 0;
}

}  // namespace

DialogContext& CurrentDialog() {
    static DialogContext context;
    return context;
}

void LoadConnectionSettings(const char16_t* name, ConnectionSettings& record) {
    ReadText(name, u"server", record.server);
    ReadText(name, u"user", record.user);
    record.ssl = ReadFlag(name, u"ssl");
    record.requestFlags = record.ssl != 0 ? kSecureRequestFlags : 0;
    ReadText(name, u"ssl_cert_issuer", record.ssl_cert_issuer);
    char16_t serial[kNameLimit + 1];
    ReadText(name, u"ssl_cert_serial", serial);
    WideToAnsi(serial, record.ssl_cert_serial, sizeof record.ssl_cert_serial);
    record.utf8urls = ReadFlag(name, u"utf8urls");
    record.threeStepUpload = ReadFlag(name, u"3stepupload");
    record.multistepupload = ReadFlag(name, u"multistepupload", 1);
    record.deletebeforeupload = ReadFlag(name, u"deletebeforeupload");
    record.detailedlog = ReadFlag(name, u"detailedlog");
    record.apacheDirWithSlash = ReadFlag(name, u"apacheDirWithSlash");
    ReadPassword(name, u"password", record.password);
    record.proxynr = ProfileGetInt(name, u"proxynr", 1, SettingsPath());
    LoadProxy(record.proxynr, record);
}

int32_t LoadProxy(int32_t number, ConnectionSettings& record) {
    if (number <= 0) {
        record.proxytype = 0;
        record.proxyserver[0] = record.proxyuser[0] = record.proxypassword[0] = 0;
        return 0;
    }
    char16_t section[kNameLimit + 1] = u"proxy";
    if (number > 1)
        FormatWide(section, kNameLimit + 1, u"proxy%d", {number});
    int32_t type = ProfileGetInt(section, u"proxytype", -1, SettingsPath());
    record.proxytype = type == -1 ? 1 : type;
    ReadText(section, u"proxyserver", record.proxyserver);
    ReadText(section, u"proxyuser", record.proxyuser);
    ReadPassword(section, u"proxypassword", record.proxypassword);
    return (type != -1 || number == 1) ? 1 : 0;
}

int32_t OpenConnectionSettings(ConnectionSettings& record, const char16_t* name,
                               const char16_t* path) {
    CurrentDialog() = {name, &record, path};
    LoadConnectionSettings(name, record);
    if (record.interactive == 0)
        return 0;  // the connection dialog is not built yet

    // A store marker counts as a password: it is fetched from the host's store later.
    if (record.proxyuser[0] != 0 && record.proxypassword[0] == 0 &&
        !AskPassword(AskProxyPassword, kStringProxyPasswordPrompt, record.proxyuser,
                     record.proxypassword)) {
        return 0;
    }
    if (record.user[0] != 0 && record.password[0] == 0 &&
        !AskPassword(AskServerPassword, kStringServerPasswordPrompt, record.user,
                     record.password)) {
        return 0;
    }
    return 1;
}

CopySectionResult CopyConnectionSection(const char16_t* oldName, const char16_t* newName,
                                        int32_t move, int32_t overwrite, const char16_t* path) {
    if (WideEqualNoCase(oldName, newName))
        return CopySectionDone;
    std::vector<char16_t> keys(kCopyKeyListSize);
    ProfileGetString(oldName, nullptr, u"", keys.data(), keys.size(), path);
    if (keys[0] == 0)
        return CopySectionSourceMissing;
    // Any key makes the target an existing connection, however long its name.
    if (overwrite == 0 && ProfileSectionHasKeys(newName, path))
        return CopySectionTargetExists;

    // One write of the file does it all: a failure leaves both sections as they were, and
    // the source goes only together with the arrival of the copy.
    std::vector<std::u16string> values;
    std::vector<const char16_t*> keyNames;
    std::vector<char16_t> value(kCopyValueSize);
    for (const char16_t* key = keys.data(); *key != 0; key += WideLength(key) + 1) {
        ProfileGetString(oldName, key, u"", value.data(), value.size(), path);
        keyNames.push_back(key);
        values.emplace_back(value.data());
    }
    std::vector<ProfileChange> changes;
    changes.push_back({newName, nullptr, nullptr});
    for (size_t i = 0; i < keyNames.size(); ++i)
        changes.push_back({newName, keyNames[i], values[i].c_str()});
    if (move != 0)
        changes.push_back({oldName, nullptr, nullptr});
    return ProfileWriteAll(changes.data(), changes.size(), path) ? CopySectionDone
                                                                 : CopySectionWriteFailed;
}

int32_t DeleteSection(const char16_t* name, const char16_t* path) {
    return ProfileWriteString(name, nullptr, nullptr, path) ? 1 : 0;
}

}  // namespace vodarezazuv
