#include "resources/resource_table.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/string_resources.h"

namespace vodarezazuv {
namespace {

constexpr Language kLanguages[] = {Language::English, Language::German};

const ResourceTables& Tables(Language language) {
    return kResourceTables[static_cast<int>(language)];
}

const char* Name(Language language) {
    return language == Language::English ? "English" : "German";
}

std::vector<uint32_t> StringIds(Language language) {
    const ResourceTables& tables = Tables(language);
    std::vector<uint32_t> ids;
    for (size_t i = 0; i < tables.stringCount; ++i)
        ids.push_back(tables.strings[i].id);
    return ids;
}

const DialogResource* FindDialog(Language language, int32_t id) {
    const ResourceTables& tables = Tables(language);
    for (size_t i = 0; i < tables.dialogCount; ++i) {
        if (tables.dialogs[i].id == id)
            return &tables.dialogs[i];
    }
    return nullptr;
}

const DialogControlResource* FindControl(const DialogResource& dialog, int32_t id) {
    for (size_t i = 0; i < dialog.controlCount; ++i) {
        if (dialog.controls[i].id == id)
            return &dialog.controls[i];
    }
    return nullptr;
}

TEST(ResourceTable, StringsAreSortedByIdWithoutDuplicates) {
    // FindString searches the table by halves; an unsorted table loses texts.
    for (Language language : kLanguages) {
        std::vector<uint32_t> ids = StringIds(language);
        ASSERT_FALSE(ids.empty()) << Name(language);
        for (size_t i = 1; i < ids.size(); ++i) {
            EXPECT_LT(ids[i - 1], ids[i]) << Name(language) << " at index " << i;
        }
    }
}

TEST(ResourceTable, BothLanguagesHoldTheSameStrings) {
    EXPECT_EQ(StringIds(Language::English), StringIds(Language::German));
    for (Language language : kLanguages) {
        const ResourceTables& tables = Tables(language);
        for (size_t i = 0; i < tables.stringCount; ++i) {
            EXPECT_NE(tables.strings[i].text[0], u'\0')
                << Name(language) << " string " << tables.strings[i].id << " is empty";
        }
    }
}

TEST(ResourceTable, EveryWinInetErrorNumberHasAText) {
    // The error reporter falls back to the table for any number of this range.
    for (Language language : kLanguages) {
        for (uint32_t id = 12001; id <= 12053; ++id) {
            EXPECT_NE(FindString(language, id), nullptr) << Name(language) << " " << id;
        }
    }
}

TEST(ResourceTable, BothLanguagesHoldTheSameDialogsAndControls) {
    for (Language language : kLanguages) {
        const ResourceTables& tables = Tables(language);
        std::vector<int32_t> ids;
        for (size_t i = 0; i < tables.dialogCount; ++i)
            ids.push_back(tables.dialogs[i].id);
        EXPECT_EQ(ids, (std::vector<int32_t>{101, 103, 104})) << Name(language);
    }
    const ResourceTables& english = Tables(Language::English);
    for (size_t d = 0; d < english.dialogCount; ++d) {
        const DialogResource& en = english.dialogs[d];
        const DialogResource* de = FindDialog(Language::German, en.id);
        ASSERT_NE(de, nullptr) << "dialog " << en.id;
        EXPECT_EQ(std::u16string(en.font), std::u16string(de->font)) << "dialog " << en.id;
        EXPECT_EQ(en.fontPoints, de->fontPoints) << "dialog " << en.id;
        ASSERT_EQ(en.controlCount, de->controlCount) << "dialog " << en.id;
        for (size_t c = 0; c < en.controlCount; ++c) {
            const DialogControlResource& a = en.controls[c];
            const DialogControlResource& b = de->controls[c];
            EXPECT_EQ(a.id, b.id) << "dialog " << en.id << " control index " << c;
            EXPECT_STREQ(a.kind, b.kind) << "dialog " << en.id << " control " << a.id;
            EXPECT_STREQ(a.flags, b.flags) << "dialog " << en.id << " control " << a.id;
        }
    }
}

TEST(ResourceTable, TextsKeepEveryCharacter) {
    struct Case {
        Language language;
        uint32_t id;
        std::u16string expected;
    } cases[] = {
        // The English help text has a blank, the German one a tab, before the last line's text.
        {Language::English, 131,
         u"Plugin help:\r\nF7:\tcreate new connection\r\nF8/Del:\tDelete connection\r\n"
         u"Enter\tConnect\r\nAlt+Enter Change options"},
        {Language::German, 131,
         u"Pluginhilfe:\r\nF7:\tNeue Verbindung anlegen\r\nF8/Entf:\tVerbindung löschen\r\n"
         u"Enter\tVerbinden\r\nAlt+Enter\tOptionen ändern"},
        // The user name is appended to the prompts, after their trailing blank.
        {Language::English, 153, u"Server password for user: "},
        {Language::German, 153, u"Server-Passwort für Benutzer: "},
        {Language::German, 154, u"Proxy-Password für Benutzer: "},
        {Language::German, 12031, u"Verbindung zurückgesetzt"},
        {Language::German, 12052, u"Übertragung von HTTPS nach HTTP umgeleitet"},
    };
    for (const Case& c : cases) {
        const char16_t* text = FindString(c.language, c.id);
        ASSERT_NE(text, nullptr) << Name(c.language) << " " << c.id;
        EXPECT_EQ(std::u16string(text), c.expected) << Name(c.language) << " " << c.id;
    }
}

TEST(ResourceTable, DialogTextsKeepEveryCharacter) {
    struct Case {
        Language language;
        int32_t dialog;
        int32_t control;
        std::u16string expected;
    } cases[] = {
        {Language::German, 101, 1009, u"&Remotedatei vor Upload löschen (für 1&&1 Server)"},
        {Language::German, 101, 1038, u"Kennwort &ändern..."},
        {Language::English, 103, 1015, u"As in &Internet Explorer"},
        {Language::English, 104, 1, u"OK"},
    };
    for (const Case& c : cases) {
        const DialogResource* dialog = FindDialog(c.language, c.dialog);
        ASSERT_NE(dialog, nullptr) << Name(c.language) << " dialog " << c.dialog;
        const DialogControlResource* control = FindControl(*dialog, c.control);
        ASSERT_NE(control, nullptr) << Name(c.language) << " control " << c.control;
        EXPECT_EQ(std::u16string(control->text), c.expected)
            << Name(c.language) << " dialog " << c.dialog << " control " << c.control;
    }
    EXPECT_EQ(std::u16string(FindDialog(Language::German, 101)->title), u"Verbinden via WebDAV");
}

TEST(ResourceTable, UnknownStringIdGivesNull) {
    // Neighbours of the ranges that exist, and the ends of the id space.
    const uint32_t missing[] = {0, 1, 127, 133, 143, 156, 12000, 12054, 0xFFFFFFFFu};
    for (Language language : kLanguages) {
        for (uint32_t id : missing) {
            EXPECT_EQ(FindString(language, id), nullptr) << Name(language) << " " << id;
        }
    }
}

}  // namespace
}  // namespace vodarezazuv
