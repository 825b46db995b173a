#include "settings/connection_settings.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/string_resources.h"
#include "plugin/plugin_state.h"
#include "settings/password.h"
#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testsupport::ReadFile;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;

// The host's side of the password prompts and the password store.
struct FakeHost {
    struct Prompt {
        int32_t type;
        std::string title, text;
        int32_t size;
    };
    static inline std::vector<Prompt> prompts;
    static inline std::vector<std::u16string> answers;  // one per prompt; empty: cancel
    static int32_t Request(int32_t, int32_t type, char16_t* title, char16_t* text, char16_t* buffer,
                           int32_t size) {
        prompts.push_back({type, U8(title), U8(text), size});
        if (prompts.size() > answers.size() || answers[prompts.size() - 1].empty())
            return 0;
        const std::u16string& answer = answers[prompts.size() - 1];
        answer.copy(buffer, answer.size());
        buffer[answer.size()] = 0;
        return 1;
    }
    static int32_t Crypt(int32_t, int32_t, int32_t, char16_t*, char16_t*, int32_t) { return 1; }
};

class ConnectionSettingsTest : public ::testing::Test {
  protected:
    void SetUp() override {
        FakeHost::prompts.clear();
        FakeHost::answers.clear();
        Plugin().hostRequest = &FakeHost::Request;
        Plugin().hostCrypt = nullptr;
        std::filesystem::copy_file(std::string(TEST_DATA_DIR) + "/settings/connections.ini", file);
    }
    void TearDown() override {
        Plugin() = saved;
        SetProcessLanguage(Language::English);
    }

    ConnectionSettings Load(const char16_t* name, int32_t interactive = 1,
                            int32_t* result = nullptr) {
        ConnectionSettings record{};
        record.interactive = interactive;
        int32_t opened = OpenConnectionSettings(record, name, path.c_str());
        if (result != nullptr)
            *result = opened;
        return record;
    }

    PluginState saved = Plugin();
    testsupport::TempDir dir;
    std::string file = dir.File("vodarezazuv.ini");
    std::u16string path = U16(file);
};

TEST_F(ConnectionSettingsTest, EveryKeyOfAFullSectionLoads) {
    int32_t result = 0;
    ConnectionSettings r = Load(u"full", 1, &result);
    EXPECT_EQ(result, 1);
    EXPECT_EQ(U8(r.server), "https://dav.example:8443/remote.php/dav");
    EXPECT_EQ(U8(r.user), "alice");
    EXPECT_EQ(U8(r.password), "secret");
    EXPECT_EQ(r.ssl, 1);
    EXPECT_EQ(r.requestFlags, 0x80800000u);
    EXPECT_EQ(U8(r.ssl_cert_issuer), "Alice Example");
    EXPECT_STREQ(r.ssl_cert_serial, "AQIDBA==");
    EXPECT_EQ(r.utf8urls, 1);
    EXPECT_EQ(r.interactive, 1) << "left as the caller set it";
    EXPECT_EQ(r.threeStepUpload, 1);
    EXPECT_EQ(r.multistepupload, 0);
    EXPECT_EQ(r.deletebeforeupload, 1);
    EXPECT_EQ(r.detailedlog, 1);
    EXPECT_EQ(r.apacheDirWithSlash, 1);
    EXPECT_EQ(r.proxynr, 2);
    EXPECT_EQ(r.proxytype, 0);
    EXPECT_EQ(U8(r.proxyserver), "unused.example");
    EXPECT_TRUE(FakeHost::prompts.empty());
}

TEST_F(ConnectionSettingsTest, AbsentKeysTakeTheirDefaults) {
    ConnectionSettings r = Load(u"defaults");
    EXPECT_EQ(r.ssl, 0);
    EXPECT_EQ(r.requestFlags, 0u);
    EXPECT_EQ(r.multistepupload, 1);
    EXPECT_EQ(r.proxynr, 1);
    // Definition 1 is the section "proxy".
    EXPECT_EQ(r.proxytype, 2);
    EXPECT_EQ(U8(r.proxyserver), "proxy.example:3128");
    EXPECT_EQ(U8(r.proxyuser), "puser");
    EXPECT_EQ(U8(r.proxypassword), "proxy-pw");
    EXPECT_EQ(U8(r.user), "");
    EXPECT_EQ(U8(r.password), "");
    EXPECT_STREQ(r.ssl_cert_serial, "");

    // Without any "proxy" section the system's proxy settings are used.
    WriteFile(file, "[defaults]\nserver=plain.example\n");
    r = Load(u"defaults");
    EXPECT_EQ(r.proxynr, 1);
    EXPECT_EQ(r.proxytype, 1);
    EXPECT_EQ(U8(r.proxyserver), "");
}

TEST_F(ConnectionSettingsTest, OddValuesReadAsTheirLeadingDigits) {
    ConnectionSettings r = Load(u"odd");
    EXPECT_EQ(r.ssl, 0) << "ssl=yes";
    EXPECT_EQ(r.requestFlags, 0u);
    EXPECT_EQ(r.utf8urls, 1) << "utf8urls=2";
    EXPECT_EQ(r.multistepupload, 0) << "present but empty: no default";
    EXPECT_EQ(r.proxynr, 3);
    EXPECT_EQ(r.proxytype, 1) << "definition 3 has no proxytype";
    EXPECT_EQ(U8(r.proxyserver), "third.example:8080");
    EXPECT_EQ(U8(r.proxypassword), "p3");
}

TEST_F(ConnectionSettingsTest, ProxyDefinitions) {
    ConnectionSettings r{};
    CurrentDialog().settingsPath = path.c_str();
    struct Case {
        int32_t number;
        int32_t exists, type;
        const char* server;
    } cases[] = {
        {1, 1, 2, "proxy.example:3128"},
        {2, 1, 0, "unused.example"},
        {3, 0, 1, "third.example:8080"},  // the section lacks "proxytype"
        {4, 1, 2, "p4.example"},
        {5, 0, 1, ""},  // no section at all
        {0, 0, 0, ""},
        {-2, 0, 0, ""},
    };
    for (const Case& c : cases) {
        std::memset(&r, 0x55, sizeof r);
        EXPECT_EQ(LoadProxy(c.number, r), c.exists) << c.number;
        EXPECT_EQ(r.proxytype, c.type) << c.number;
        EXPECT_EQ(U8(r.proxyserver), c.server) << c.number;
    }
    LoadProxy(0, r);
    EXPECT_EQ(U8(r.proxyuser), "");
    EXPECT_EQ(U8(r.proxypassword), "");
}

TEST_F(ConnectionSettingsTest, AStoredPasswordLoadsAsTheMarkerOnlyWithAPasswordStore) {
    ConnectionSettings r = Load(u"stored");
    EXPECT_EQ(U8(r.password), "") << "no store: no password";
    ASSERT_EQ(FakeHost::prompts.size(), 1u) << "and so it is asked for";

    FakeHost::prompts.clear();
    Plugin().hostCrypt = &FakeHost::Crypt;
    int32_t result = 0;
    r = Load(u"stored", 1, &result);
    EXPECT_EQ(std::u16string(r.password), std::u16string(1, u'\u0001'));
    EXPECT_EQ(result, 1);
    EXPECT_TRUE(FakeHost::prompts.empty()) << "the marker counts as a password";
    EXPECT_EQ(r.proxytype, 0) << "proxynr=0";
}

TEST_F(ConnectionSettingsTest, FieldsAreCutToTheirBuffers) {
    std::string longServer(300, 's');
    WriteFile(file, "[long]\nserver=" + longServer + "\nssl_cert_serial=\xC3\xA4" + "\n");
    ConnectionSettings r = Load(u"long");
    EXPECT_EQ(U8(r.server), longServer.substr(0, 258));
    EXPECT_STREQ(r.ssl_cert_serial, "\xE4") << "in the ANSI code page";
}

TEST_F(ConnectionSettingsTest, APasswordOf86CharactersSurvivesTheFile) {
    std::u16string password(86, u'x');
    char16_t scrambled[600];
    ASSERT_EQ(ScramblePassword(password.c_str(), scrambled, std::size(scrambled)), ScrambleDone);
    WriteFile(file, "[c]\nserver=s\nuser=u\npassword=" + U8(scrambled) + "\n");
    EXPECT_EQ(std::u16string(Load(u"c").password), password);
}

TEST_F(ConnectionSettingsTest, MissingPasswordsAreAskedProxyFirst) {
    FakeHost::answers = {u"proxy secret", u"server secret"};
    WriteFile(file, ReadFile(file) + "[both]\nserver=x\nuser=erin\nproxynr=4\n");
    const std::string before = ReadFile(file);
    int32_t result = 0;
    ConnectionSettings r = Load(u"both", 1, &result);
    EXPECT_EQ(result, 1);
    ASSERT_EQ(FakeHost::prompts.size(), 2u);
    EXPECT_EQ(FakeHost::prompts[0].type, 5);
    EXPECT_EQ(FakeHost::prompts[0].title, "Proxy password for user: pete");
    EXPECT_EQ(FakeHost::prompts[0].text, FakeHost::prompts[0].title);
    EXPECT_EQ(FakeHost::prompts[0].size, 259);
    EXPECT_EQ(FakeHost::prompts[1].type, 2);
    EXPECT_EQ(FakeHost::prompts[1].title, "Server password for user: erin");
    EXPECT_EQ(FakeHost::prompts[1].size, 259);
    EXPECT_EQ(U8(r.proxypassword), "proxy secret");
    EXPECT_EQ(U8(r.password), "server secret");
    EXPECT_EQ(ReadFile(file), before) << "entered passwords are never written";
}

TEST_F(ConnectionSettingsTest, ACancelledPromptOpensNothingAndChangesNothing) {
    const std::string before = ReadFile(file);
    struct Case {
        const char16_t* name;
        std::vector<std::u16string> answers;
        size_t promptsSeen;
    } cases[] = {
        {u"nopassword", {u""}, 1},
        {u"proxyuser", {u""}, 1},                   // the server prompt never comes
        {u"proxyuser", {u"proxy secret", u""}, 2},  // dave has no password either
    };
    for (const Case& c : cases) {
        FakeHost::prompts.clear();
        FakeHost::answers = c.answers;
        int32_t result = 1;
        Load(c.name, 1, &result);
        EXPECT_EQ(result, 0) << U8(c.name);
        EXPECT_EQ(FakeHost::prompts.size(), c.promptsSeen) << U8(c.name);
    }
    EXPECT_EQ(ReadFile(file), before);

    Plugin().hostRequest = nullptr;
    int32_t result = 1;
    Load(u"nopassword", 1, &result);
    EXPECT_EQ(result, 0) << "a host that cannot ask counts as a cancel";
}

TEST_F(ConnectionSettingsTest, PromptTextIsCutTo255Characters) {
    std::string user(400, 'u');
    WriteFile(file, "[c]\nserver=x\nuser=" + user + "\n");
    FakeHost::answers = {u"pw"};
    Load(u"c");
    ASSERT_EQ(FakeHost::prompts.size(), 1u);
    EXPECT_EQ(FakeHost::prompts[0].title.size(), 255u);
    EXPECT_EQ(FakeHost::prompts[0].title, ("Server password for user: " + user).substr(0, 255));
}

TEST_F(ConnectionSettingsTest, PromptsSpeakTheLibrarysLanguage) {
    SetProcessLanguage(Language::German);
    FakeHost::answers = {u"a", u"b"};
    WriteFile(file,
              "[c]\nserver=x\nuser=j\xC3\xBCrgen\nproxynr=4\n[proxy4]\nproxytype=2\nproxyuser=p\n");
    Load(u"c");
    ASSERT_EQ(FakeHost::prompts.size(), 2u);
    EXPECT_EQ(FakeHost::prompts[0].title, "Proxy-Password f\xC3\xBCr Benutzer: p");
    EXPECT_EQ(FakeHost::prompts[1].title, "Server-Passwort f\xC3\xBCr Benutzer: j\xC3\xBCrgen");
}

TEST_F(ConnectionSettingsTest, WithoutInteractiveNothingIsAskedAndNothingOpens) {
    int32_t result = 1;
    ConnectionSettings r = Load(u"nopassword", 0, &result);
    EXPECT_EQ(result, 0);
    EXPECT_TRUE(FakeHost::prompts.empty());
    EXPECT_EQ(U8(r.user), "carol") << "the record is loaded all the same";
}

TEST_F(ConnectionSettingsTest, TheDialogContextNamesWhatWasLoaded) {
    ConnectionSettings record{};
    const char16_t* name = u"defaults";
    OpenConnectionSettings(record, name, path.c_str());
    EXPECT_EQ(CurrentDialog().section, name);
    EXPECT_EQ(CurrentDialog().record, &record);
    EXPECT_EQ(CurrentDialog().settingsPath, path.c_str());
}

}  // namespace
}  // namespace vodarezazuv
