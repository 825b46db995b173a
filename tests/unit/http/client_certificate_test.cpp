#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "host_recorder.h"
#include "http/auth.h"
#include "platform/certificate_store.h"
#include "temp_dir.h"
#include "test_certificates.h"

namespace vodarezazuv {
namespace {

using testsupport::U16;
using testsupport::U8;

TEST(ClientCertificateTest, NameAndSerialMatchAsTheConnectionNamesThem) {
    struct Case {
        const char16_t* name;
        const char* serial;  // of the certificate, Base64
        const char16_t* issuerSetting;
        const char* serialSetting;
        bool matches;
    } cases[] = {
        {u"Alice Example", "oQUEAwIB", u"Alice Example", "oQUEAwIB", true},
        {u"Alice Example", "oQUEAwIB", u"alice EXAMPLE", "oQUEAwIB", true},
        {u"Alice Example", "oQUEAwIB", u"Alice Example", "OQUEAWIB", true},
        {u"Alice Example", "oQUEAwIB", u"Alice Example", "oQUEAwIBextra", true},
        {u"Alice Example", "oQUEAwIB", u"Alice Example", "oQUEAwI", false},
        {u"Alice Example", "oQUEAwIB", u"Alice Example", "pQUEAwIB", false},
        {u"Alice Example", "oQUEAwIB", u"Alice", "oQUEAwIB", false},
        {u"Alice Example", "oQUEAwIB", u"Alice Example ", "oQUEAwIB", false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(U8(c.issuerSetting) + " / " + c.serialSetting);
        EXPECT_EQ(ClientCertificateMatches(c.name, c.serial, c.issuerSetting, c.serialSetting),
                  c.matches);
    }
}

TEST(CertificateStoreTest, TheFolderBesideTheSettingsHoldsCertificatesWithTheirKeys) {
    testsupport::TempDir dir;
    std::filesystem::create_directory(dir.File("certificates"));
    testsupport::TestCertificate b = testsupport::MakeCertificate("b.example");
    testsupport::TestCertificate a = testsupport::MakeCertificate("a.example");
    testsupport::WriteFile(dir.File("certificates/2.pem"), b.keyPem + b.certificatePem);
    testsupport::WriteFile(dir.File("certificates/1.pem"), a.certificatePem + a.keyPem);
    testsupport::WriteFile(dir.File("certificates/0-no-key.pem"), a.certificatePem);
    testsupport::WriteFile(dir.File("certificates/00-garbage.p12"), std::string("\x30\x01zz", 4));
    testsupport::WriteFile(dir.File("certificates/01-empty.pem"), "");
    std::filesystem::create_directory(dir.File("certificates/sub"));

    char16_t folder[kLongPathLimit + 1];
    CertificateStoreFolder(U16(dir.File("vodarezazuv.ini")).c_str(), folder, kLongPathLimit + 1);
    EXPECT_EQ(U8(folder), dir.File("certificates"));
    std::vector<std::string> names, files;
    ASSERT_TRUE(ForEachStoredCertificate(folder, [&](const StoredCertificate& certificate) {
        names.push_back(U8(certificate.displayName));
        files.push_back(std::filesystem::path(U8(certificate.path)).filename().string());
        EXPECT_GT(certificate.serialLength, 0u);
        return true;
    }));
    EXPECT_EQ(names, (std::vector<std::string>{"a.example", "b.example"}));
    EXPECT_EQ(files, (std::vector<std::string>{"1.pem", "2.pem"}));

    size_t visits = 0;
    ForEachStoredCertificate(folder, [&](const StoredCertificate&) { return ++visits < 1; });
    EXPECT_EQ(visits, 1u) << "a visit that answers false ends the walk";
    EXPECT_FALSE(ForEachStoredCertificate(U16(dir.File("missing")).c_str(),
                                          [](const StoredCertificate&) { return true; }));
}

}  // namespace
}  // namespace vodarezazuv
