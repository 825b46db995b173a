// Downloads and uploads against the real servers of the ctest fixture "servers": Apache httpd
// with mod_dav for what a user meets, the scripted server for cut bodies, refusals and
// statuses Apache does not give. Run as "servers.Apache*"; skipped without the fixture.
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "../http/host_recorder.h"
#include "dav/download.h"
#include "dav/upload.h"
#include "http/connection.h"
#include "plugin/registry.h"
#include "servers_env.h"
#include "settings/password.h"
#include "temp_dir.h"
#include "vodarezazuv/fs_plugin.h"

namespace vodarezazuv {
namespace {

using testing_http::HostRecorder;
using testsupport::ReadFile;
using testsupport::U16;
using testsupport::U8;
using testsupport::WriteFile;
namespace fs = std::filesystem;

// Bytes that show a shifted or repeated block: byte i is i % 251, as the scripted pattern.
std::string Pattern(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i)
        bytes[i] = static_cast<char>(i % 251);
    return bytes;
}

// 2021-03-04T05:06:07Z as a FILETIME, and as Unix seconds.
constexpr uint64_t kSomeFiletime = 132593079670000000ULL;
constexpr time_t kSomeUnixTime = 1614834367;

FILETIME AsFiletime(uint64_t value) {
    return FILETIME{static_cast<uint32_t>(value), static_cast<uint32_t>(value >> 32)};
}

time_t ModificationTime(const std::string& path) {
    struct stat status {};
    return ::stat(path.c_str(), &status) == 0 ? status.st_mtime : 0;
}

// The lines of a log that contain text, waiting a little for the server to write them.
std::vector<std::string> LogLinesWith(const std::string& log, const std::string& text,
                                      size_t atLeast) {
    std::vector<std::string> lines;
    for (int attempt = 0; attempt < 40; ++attempt) {
        lines.clear();
        std::ifstream in(log);
        std::string line;
        while (std::getline(in, line)) {
            if (line.find(text) != std::string::npos)
                lines.push_back(line);
        }
        if (lines.size() >= atLeast)
            break;
        std::this_thread::sleep_for(std::chrono::milliseconds(50));
    }
    return lines;
}

// The value of a field "name=..." of an Apache access log line ("-" when absent).
std::string Field(const std::string& line, const std::string& name) {
    size_t at = line.find(" " + name + "=");
    if (at == std::string::npos)
        return "";
    at += name.size() + 2;
    bool quoted = line[at] == '"';
    size_t end = line.find(quoted ? '"' : ' ', at + 1);
    return line.substr(quoted ? at + 1 : at, end - (quoted ? at + 1 : at));
}

class ApacheTransferTest : public ::testing::Test {
  protected:
    void SetUp() override {
        env = testsupport::ServersEnv();
        if (env.empty())
            GTEST_SKIP() << "needs the servers fixture (VODAREZAZUV_SERVERS_ENV)";
        std::random_device random;
        tag = std::to_string(::getpid()) + "-" + std::to_string(random() % 1000000);
        folder = "transfer-" + tag;
        serverFolder = env["DAV_ROOT"] + "/" + folder;
        fs::create_directory(serverFolder);
        // Apache's workers write here too, under their own user.
        fs::permissions(serverFolder, fs::perms::all);
    }
    void TearDown() override {
        if (Connection* registered = FindConnection(Registry(), u"conn"))
            CloseSession(*registered);
        SetConnection(Registry(), u"conn", nullptr);
        if (connection)
            CloseSession(*connection);
        std::error_code ignored;
        if (!serverFolder.empty())
            fs::remove_all(serverFolder, ignored);
    }
    void Open(const std::string& url, const std::string& extra = "") {
        WriteFile(settings, "[conn]\nserver=" + url + "\n" + extra);
        connection = OpenConnection(u"conn", U16(settings).c_str());
        ASSERT_TRUE(connection);
        HostRecorder::logs.clear();
        HostRecorder::progress.clear();
    }
    // Puts an open connection "conn" into the registry, for the exports.
    void Register(const std::string& extra = "") {
        WriteFile(settings, "[conn]\nserver=" + env["DAV_URL"] + "\n" + extra);
        RefreshRegistry(Registry(), U16(settings).c_str(), kQuickConnectionName);
        ConnectionPtr open = OpenConnection(u"conn", U16(settings).c_str());
        ASSERT_TRUE(open);
        ASSERT_EQ(SetConnection(Registry(), u"conn", std::move(open)), 1);
        HostRecorder::logs.clear();
        HostRecorder::progress.clear();
    }
    void Serve(const std::string& name, const std::string& content) {
        WriteFile(serverFolder + "/" + name, content);
        fs::permissions(serverFolder + "/" + name, fs::perms::all);
    }
    // The remote path of a name in this test's folder below /dav.
    std::u16string Remote(const std::string& name) const {
        return U16("/dav\\" + folder + "\\" + name);
    }
    int32_t Download(const std::u16string& remote, const std::string& local, int64_t size,
                     int32_t resume = 0) {
        return DavDownload(*connection, remote.c_str(), U16(local).c_str(), 1, size,
                           AsFiletime(kSomeFiletime), resume);
    }
    int32_t Upload(const std::string& local, const std::u16string& remote) {
        return DavUpload(*connection, U16(local).c_str(), remote.c_str(), 0);
    }
    // The scripted server's log lines of requests to path.
    std::vector<std::string> ScriptedRequests(const std::string& path, size_t atLeast) {
        return LogLinesWith(env["SCRIPTED_LOG"], "\"path\": \"" + path + "\"", atLeast);
    }

    HostRecorder host;
    std::map<std::string, std::string> env;
    testsupport::TempDir dir;
    std::string settings = dir.File("vodarezazuv.ini");
    std::string tag, folder, serverFolder;
    ConnectionPtr connection;
};

TEST_F(ApacheTransferTest, DownloadsAreByteIdenticalAndCarryTheRemoteTime) {
    struct Case {
        std::string name;
        size_t size;
    } cases[] = {
        {"small.txt", 1000},          {"empty.bin", 0},      {"twenty mib.bin", 20u << 20},
        {"Grüße aus Köln.txt", 4321}, {"100% sure.txt", 77}, {"hash#tag.txt", 65},
        {"a b  c.txt", 32768},  // exactly one block
    };
    Open(env["DAV_URL"], "utf8urls=1\n");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string content = Pattern(c.size);
        Serve(c.name, content);
        std::string local = dir.File("got-" + c.name);
        ASSERT_EQ(Download(Remote(c.name), local, static_cast<int64_t>(c.size)), DownloadDone);
        EXPECT_TRUE(ReadFile(local) == content);
        EXPECT_EQ(ModificationTime(local), kSomeUnixTime);
    }
    std::vector<std::string> lines = HostRecorder::Lines();
    ASSERT_GE(lines.size(), 4u);
    EXPECT_EQ(lines[0], "=================");
    EXPECT_EQ(lines[1], "File receive: /dav\\" + folder + "\\small.txt");
    EXPECT_EQ(lines[2], "GET /dav/" + folder + "/small.txt HTTP/1.0");
    EXPECT_EQ(lines[3], "200 OK");
    std::vector<std::string> logged =
        LogLinesWith(env["APACHE_ACCESS_LOG"], "/dav/" + folder + "/hash#tag.txt", 1);
    EXPECT_EQ(logged.size(), 1u) << "the # reaches the server as part of the name";
}

TEST_F(ApacheTransferTest, ProgressReportsTheRealPercentage) {
    Open(env["SCRIPTED_URL"]);
    std::string local = dir.File("progress.bin");
    ASSERT_EQ(Download(U16("\\throttled-pattern\\" + tag), local, 262144), DownloadDone);
    EXPECT_TRUE(ReadFile(local) == Pattern(262144));
    // About 1.3 s at 200 KiB a second: reports every 250 ms or more, growing with the body.
    ASSERT_GE(HostRecorder::progress.size(), 3u);
    ASSERT_LE(HostRecorder::progress.size(), 7u);
    int32_t last = -1;
    for (const auto& report : HostRecorder::progress) {
        EXPECT_GT(report.percent, last);
        EXPECT_LE(report.percent, 100);
        last = report.percent;
    }
    EXPECT_GE(last, 60);
}

TEST_F(ApacheTransferTest, AFailedDownloadLeavesAnExistingLocalFileIntact) {
    struct Case {
        const char* name;
        std::string url;
        std::u16string remote;
    } cases[] = {
        {"404", env["DAV_URL"], Remote("missing.txt")},
        {"server down", "http://127.0.0.1:9/", u"\\missing.txt"},
        {"refused with 403", env["SCRIPTED_URL"], U16("\\reject-403-before-body\\" + tag)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open(c.url);
        std::string local = dir.File("precious.txt");
        WriteFile(local, "the user's own data");
        fs::last_write_time(local, fs::file_time_type::clock::now() - std::chrono::hours(30));
        time_t before = ModificationTime(local);
        EXPECT_EQ(Download(c.remote, local, 100), DownloadFailed);
        EXPECT_EQ(ReadFile(local), "the user's own data");
        EXPECT_EQ(ModificationTime(local), before);
        // A new file is not even created.
        std::string fresh = dir.File("fresh.txt");
        EXPECT_EQ(Download(c.remote, fresh, 100), DownloadFailed);
        EXPECT_FALSE(fs::exists(fresh));
        CloseSession(*connection);
        connection.reset();
    }
}

TEST_F(ApacheTransferTest, AnOverwriteReplacesTheLocalFileOnceTheServerAccepted) {
    Open(env["DAV_URL"]);
    Serve("new.txt", "new content");
    std::string local = dir.File("old.txt");
    WriteFile(local, "a much longer old content that must be gone");
    EXPECT_EQ(Download(Remote("new.txt"), local, 11), DownloadDone);
    EXPECT_EQ(ReadFile(local), "new content");
}

TEST_F(ApacheTransferTest, ResumeAsksForTheMissingRangeAndAppendsIt) {
    Open(env["DAV_URL"]);
    std::string content = Pattern(5000);
    Serve("resume.bin", content);
    std::string local = dir.File("resume.bin");
    WriteFile(local, content.substr(0, 1000));
    EXPECT_EQ(Download(Remote("resume.bin"), local, 5000, 1), DownloadDone);
    EXPECT_TRUE(ReadFile(local) == content);
    std::vector<std::string> logged =
        LogLinesWith(env["APACHE_ACCESS_LOG"], "/dav/" + folder + "/resume.bin", 1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(Field(logged[0], "range"), "bytes=1000-5000");
    EXPECT_NE(logged[0].find("\" 206 "), std::string::npos) << logged[0];
}

TEST_F(ApacheTransferTest, ResumeDecidedByTheLocalSizeAloneMakesNoRequest) {
    struct Case {
        const char* name;
        size_t localSize;  // SIZE_MAX: no local file
        int32_t expected;
    } cases[] = {
        {"exactly the remote size", 3000, DownloadDone},
        {"larger than the remote size", 3001, DownloadLocalFailed},
        {"no local file", SIZE_MAX, DownloadLocalFailed},
    };
    Open(env["DAV_URL"]);
    Serve("whole.bin", Pattern(3000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string local = dir.File("whole.bin");
        fs::remove(local);
        if (c.localSize != SIZE_MAX)
            WriteFile(local, Pattern(c.localSize));
        EXPECT_EQ(Download(Remote("whole.bin"), local, 3000, 1), c.expected);
        if (c.localSize != SIZE_MAX) {
            EXPECT_EQ(fs::file_size(local), c.localSize);
        }
    }
    // A request of our own afterwards marks that the log is written up to here.
    Serve("marker.txt", "m");
    ASSERT_EQ(Download(Remote("marker.txt"), dir.File("marker.txt"), 1), DownloadDone);
    ASSERT_EQ(LogLinesWith(env["APACHE_ACCESS_LOG"], "/dav/" + folder + "/marker.txt", 1).size(),
              1u);
    EXPECT_TRUE(LogLinesWith(env["APACHE_ACCESS_LOG"], "/dav/" + folder + "/whole.bin", 0).empty());
}

TEST_F(ApacheTransferTest, AnEndlessUnwantedBodyIsLeftUnread) {
    // Answers nobody reads are dropped up to a limit; a server sending without end must not
    // hold the host.
    Open(env["SCRIPTED_URL"]);
    std::string local = dir.File("endless.txt");
    WriteFile(local, "kept");
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Download(U16("\\endless-404\\" + tag + ".bin"), local, 10, 0), DownloadFailed);
    EXPECT_EQ(ReadFile(local), "kept");
    std::string upload = dir.File("up.txt");
    WriteFile(upload, "data");
    EXPECT_NE(Upload(upload, U16("\\endless-put-answer\\" + tag + ".txt")), 0);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 20.0);
}

TEST_F(ApacheTransferTest, AResumeThroughAProxyWithAUserSendsBothHeaders) {
    char16_t scrambled[kNameLimit + 1];
    ASSERT_EQ(ScramblePassword(U16(env["PROXY_PASSWORD"]).c_str(), scrambled, kNameLimit + 1),
              ScrambleDone);
    Open(env["DAV_URL"], "proxynr=1\n[proxy]\nproxytype=2\nproxyserver=" + env["PROXY_AUTH"] +
                             "\nproxyuser=" + env["PROXY_USER"] +
                             "\nproxypassword=" + U8(scrambled) + "\n");
    std::string content(100000, 'r');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>('a' + i % 26);
    Serve("resumed.bin", content);
    std::string local = dir.File("resumed.bin");
    WriteFile(local, content.substr(0, 40000));
    EXPECT_EQ(Download(Remote("resumed.bin"), local, static_cast<int64_t>(content.size()), 1),
              DownloadDone)
        << HostRecorder::Lines().size();
    EXPECT_EQ(ReadFile(local), content);
    std::vector<std::string> lines =
        LogLinesWith(env["APACHE_ACCESS_LOG"], "/dav/" + folder + "/resumed.bin", 1);
    ASSERT_EQ(lines.size(), 1u);
    EXPECT_NE(lines[0].find("range=\"bytes=40000-100000\""), std::string::npos) << lines[0];
    EXPECT_NE(lines[0].find(" vodarezazuv-proxy (squid"), std::string::npos) << lines[0];
}

TEST_F(ApacheTransferTest, ResumeRefusedWithTheWholeFileWritesNothing) {
    Open(env["SCRIPTED_URL"]);
    std::string local = dir.File("partial.txt");
    WriteFile(local, "He");
    EXPECT_EQ(Download(U16("\\hello\\" + tag + ".txt"), local, 31, 1), DownloadFailed);
    EXPECT_EQ(ReadFile(local), "He");
    std::vector<std::string> lines = HostRecorder::Lines();
    EXPECT_NE(std::find(lines.begin(), lines.end(), "Server does not support resume!"),
              lines.end());
}

TEST_F(ApacheTransferTest, AResumedPartThatDoesNotContinueTheFileIsNotAppended) {
    Open(env["SCRIPTED_URL"]);
    std::u16string remote = U16("\\resume-wrong-offset\\" + tag);
    std::string local = dir.File("partial.bin");
    for (const char* reply : {"starts at 0", "no Content-Range"}) {
        SCOPED_TRACE(reply);
        WriteFile(local, "0123456789");
        HostRecorder::logs.clear();
        EXPECT_EQ(Download(remote, local, 100, 1), DownloadFailed);
        EXPECT_EQ(ReadFile(local), "0123456789");
        std::vector<std::string> lines = HostRecorder::Lines();
        ASSERT_FALSE(lines.empty());
        EXPECT_EQ(lines.back(), "Server sent another part of the file than asked for!");
    }
}

TEST_F(ApacheTransferTest, ADownloadCutInTheMiddleKeepsThePartAndResumesToTheWhole) {
    Open(env["SCRIPTED_URL"]);
    std::u16string remote = U16("\\resume\\" + tag + ".bin");
    std::string local = dir.File("cut.bin");
    EXPECT_EQ(Download(remote, local, 1048576), DownloadFailed);
    EXPECT_EQ(fs::file_size(local), 300000u) << "the part received stays for a resume";
    EXPECT_EQ(ModificationTime(local), kSomeUnixTime);
    EXPECT_EQ(Download(remote, local, 1048576, 1), DownloadDone);
    EXPECT_TRUE(ReadFile(local) == Pattern(1048576));
    std::vector<std::string> requests = ScriptedRequests("/resume/" + tag + ".bin", 2);
    ASSERT_EQ(requests.size(), 2u);
    EXPECT_NE(requests[1].find("\"bytes=300000-1048576\""), std::string::npos) << requests[1];
}

TEST_F(ApacheTransferTest, AnAbortThroughTheProgressReportStopsTheDownload) {
    Open(env["DAV_URL"]);
    Serve("abort.bin", Pattern(20u << 20));
    HostRecorder::abortFromCall = 1;
    std::string local = dir.File("abort.bin");
    EXPECT_EQ(Download(Remote("abort.bin"), local, 20 << 20), DownloadAborted);
    EXPECT_EQ(HostRecorder::progress.size(), 1u);
    EXPECT_LE(fs::file_size(local), static_cast<uintmax_t>(kDownloadBlock));
}

TEST_F(ApacheTransferTest, AFullDiskEndsTheDownloadWithAWriteFailure) {
    Open(env["DAV_URL"]);
    Serve("big.bin", Pattern(1u << 20));
    std::string local = dir.File("big.bin");
    testsupport::FileSizeLimit limit(100000);
    EXPECT_EQ(Download(Remote("big.bin"), local, 1 << 20), DownloadLocalFailed);
}

TEST_F(ApacheTransferTest, EachUploadMethodStoresTheFileWithItsPreliminarySteps) {
    struct Case {
        const char* name;
        std::string settings;
        std::vector<std::string> lengths;  // Content-Length of the PUTs Apache saw
        std::vector<std::string> steps;    // the step lines logged
    } cases[] = {
        {"default: two steps", "", {"1", "70000"}, {"First", "Last"}},
        {"one step", "multistepupload=0\n", {"70000"}, {"Last"}},
        {"three steps", "3stepupload=1\n", {"1", "2", "70000"}, {"First", "Second", "Last"}},
        {"three steps need two", "multistepupload=0\n3stepupload=1\n", {"70000"}, {"Last"}},
    };
    std::string local = dir.File("upload.bin");
    std::string content = Pattern(70000);
    WriteFile(local, content);
    int number = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Open(env["DAV_URL"], c.settings);
        std::string name = "up" + std::to_string(++number) + ".bin";
        ASSERT_EQ(Upload(local, Remote(name)), UploadDone);
        EXPECT_TRUE(ReadFile(serverFolder + "/" + name) == content);
        std::vector<std::string> lengths;
        for (const std::string& line : LogLinesWith(
                 env["APACHE_ACCESS_LOG"], "PUT \"/dav/" + folder + "/" + name, c.lengths.size()))
            lengths.push_back(Field(line, "length"));
        EXPECT_EQ(lengths, c.lengths);
        std::vector<std::string> steps;
        for (const std::string& line : HostRecorder::Lines()) {
            if (line.find(" upload step:") != std::string::npos)
                steps.push_back(line.substr(0, line.find(' ')));
        }
        EXPECT_EQ(steps, c.steps);
        CloseSession(*connection);
        connection.reset();
    }
}

TEST_F(ApacheTransferTest, AnEmptyFileIsUploadedWithALengthOfZero) {
    Open(env["DAV_URL"], "multistepupload=0\n");
    std::string local = dir.File("empty.txt");
    WriteFile(local, "");
    ASSERT_EQ(Upload(local, Remote("empty.txt")), UploadDone);
    EXPECT_TRUE(fs::exists(serverFolder + "/empty.txt"));
    EXPECT_EQ(fs::file_size(serverFolder + "/empty.txt"), 0u);
    std::vector<std::string> logged =
        LogLinesWith(env["APACHE_ACCESS_LOG"], "PUT \"/dav/" + folder + "/empty.txt", 1);
    ASSERT_EQ(logged.size(), 1u);
    EXPECT_EQ(Field(logged[0], "length"), "0");
}

TEST_F(ApacheTransferTest, TheFirstStepsStatusDecidesWhetherTheFileIsSent) {
    struct Case {
        const char* exchange;
        std::string settings;
        int32_t expected;
        size_t requests;         // PUTs the server saw
        const char* lastLength;  // the Content-Length of the last of them
    } cases[] = {
        // A challenge lets the upload go on; the last step meets it once more.
        {"reject-401-before-body", "", UploadFailed, 2, "20000"},
        {"reject-403-before-body", "", UploadFailed, 1, "1"},
        {"status-412", "", UploadFailed, 1, "1"},
        // No such exchange: the scripted server answers 404.
        {"no-such-exchange", "", UploadFailed, 1, "1"},
        // 250 is a 2xx status, but not one that counts as stored.
        {"status-250", "multistepupload=0\n", UploadFailed, 1, "20000"},
        {"hello", "", UploadDone, 2, "20000"},
    };
    std::string local = dir.File("payload.bin");
    WriteFile(local, Pattern(20000));
    for (const Case& c : cases) {
        SCOPED_TRACE(c.exchange);
        Open(env["SCRIPTED_URL"], c.settings);
        std::string path = std::string("/") + c.exchange + "/" + tag + ".bin";
        EXPECT_EQ(Upload(local, U16(path)), c.expected);
        // The marker request shows that the log is complete up to here.
        ASSERT_EQ(Download(U16("\\hello\\marker-" + tag), dir.File("marker"), 31), DownloadDone);
        ASSERT_FALSE(ScriptedRequests("/hello/marker-" + tag, 1).empty());
        std::vector<std::string> requests = ScriptedRequests(path, c.requests);
        EXPECT_EQ(requests.size(), c.requests);
        if (!requests.empty()) {
            EXPECT_NE(
                requests.back().find("[\"Content-Length\", \"" + std::string(c.lastLength) + "\"]"),
                std::string::npos)
                << requests.back();
        }
        CloseSession(*connection);
        connection.reset();
        fs::remove(dir.File("marker"));
    }
}

TEST_F(ApacheTransferTest, AnAbortWhileAFirstStepIsAnsweredSendsNoFile) {
    // The scripted server answers six seconds late; from two seconds on the host is asked
    // and says abort.
    Open(env["SCRIPTED_URL"]);
    std::string local = dir.File("never.txt");
    WriteFile(local, "never sent");
    std::string path = "/listing-slow/upload-abort-" + tag + ".txt";
    HostRecorder::abortFromCall = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Upload(local, U16(path)), UploadAborted);
    double seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    EXPECT_LT(seconds, 4.0);
    EXPECT_EQ(ScriptedRequests(path, 1).size(), 1u) << "the file itself is not sent";
    std::vector<std::string> lines = HostRecorder::Lines();
    EXPECT_EQ(std::find(lines.begin(), lines.end(), "Last upload step: Send actual file"),
              lines.end());
}

TEST_F(ApacheTransferTest, AnAbortDuringTheUploadEndsItWithinMoments) {
    Open(env["DAV_URL"], "multistepupload=0\n");
    std::string local = dir.File("large.bin");
    constexpr uintmax_t kSize = 1u << 30;
    WriteFile(local, "");
    fs::resize_file(local, kSize);  // sparse: reads as zeros without taking room
    HostRecorder::abortFromCall = 1;
    auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(Upload(local, Remote("large.bin")), UploadAborted);
    auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_LT(elapsed, std::chrono::seconds(2));
    std::string stored = serverFolder + "/large.bin";
    EXPECT_FALSE(fs::exists(stored) && fs::file_size(stored) == kSize)
        << "the whole file did not arrive";
}

TEST_F(ApacheTransferTest, AFileAboveFourGibibytesAnnouncesItsFullLength) {
    Open(env["SCRIPTED_URL"], "multistepupload=0\n");
    std::string local = dir.File("huge.bin");
    WriteFile(local, "");
    fs::resize_file(local, 5ull << 30);
    HostRecorder::abortFromCall = 1;  // no need to send the 5 GiB
    std::string path = "/large-put-refused/" + tag + ".bin";
    int32_t result = Upload(local, U16(path));
    EXPECT_TRUE(result == UploadAborted || result == UploadFailed) << result;
    std::vector<std::string> requests = ScriptedRequests(path, 1);
    ASSERT_EQ(requests.size(), 1u);
    EXPECT_NE(requests[0].find("[\"Content-Length\", \"5368709120\"]"), std::string::npos)
        << requests[0];
    EXPECT_EQ(requests[0].find("Transfer-Encoding"), std::string::npos) << requests[0];
}

// The exports on an open connection: what the host gets for each outcome of a transfer.
TEST_F(ApacheTransferTest, GetFileMapsTheOutcomesToHostCodes) {
    Register();
    Serve("file.txt", "remote content");
    std::string existing = dir.File("existing.txt");
    struct Case {
        const char* name;
        std::string remote, local, before;  // before: local content first ("": no file)
        int32_t flags;
        int32_t expected;
        std::string after;
    } cases[] = {
        {"new file", "file.txt", dir.File("new.txt"), "", 0, FileOpOk, "remote content"},
        {"overwrite", "file.txt", existing, "old", CopyOverwrite, FileOpOk, "remote content"},
        {"overwrite, but 404", "missing.txt", existing, "old", CopyOverwrite, FileOpReadError,
         "old"},
        {"resume appends", "file.txt", existing, "remote", CopyResume, FileOpOk, "remote content"},
        {"local folder missing", "file.txt", dir.File("none/x.txt"), "", 0, FileOpWriteError, ""},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::filesystem::remove(existing);
        if (!c.before.empty())
            WriteFile(c.local, c.before);
        std::u16string remote = U16("\\conn\\" + folder + "\\" + c.remote);
        std::u16string local = U16(c.local);
        FsRemoteInfo info{14, 0, AsFiletime(kSomeFiletime), 0};
        EXPECT_EQ(FsGetFileW(remote.data(), local.data(), c.flags, &info), c.expected);
        EXPECT_EQ(ReadFile(c.local), c.after);
        ASSERT_FALSE(HostRecorder::progress.empty());
        EXPECT_EQ(HostRecorder::progress[0].source, U8(remote));
        EXPECT_EQ(HostRecorder::progress[0].target, c.local);
        EXPECT_EQ(HostRecorder::progress[0].percent, 0);
        HostRecorder::progress.clear();
    }
}

TEST_F(ApacheTransferTest, PutFileMapsTheOutcomesToHostCodes) {
    Register();
    std::string local = dir.File("local.txt");
    WriteFile(local, "local content");
    struct Case {
        const char* name;
        std::string remote, local;
        int32_t expected;
    } cases[] = {
        {"stored", folder + "\\up.txt", local, FileOpOk},
        {"no such collection", folder + "\\none\\up.txt", local, FileOpWriteError},
        {"no local file", folder + "\\up2.txt", dir.File("missing.txt"), FileOpReadError},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string remote = U16("\\conn\\" + c.remote);
        std::u16string localName = U16(c.local);
        EXPECT_EQ(FsPutFileW(localName.data(), remote.data(), 0), c.expected);
    }
    EXPECT_EQ(ReadFile(serverFolder + "/up.txt"), "local content");
}

TEST_F(ApacheTransferTest, DeleteBeforeUploadDeletesFirstAndGoesOnWhateverItAnswers) {
    Register("deletebeforeupload=1\nmultistepupload=0\n");
    std::string local = dir.File("local.txt");
    WriteFile(local, "new");
    Serve("there.txt", "old");
    struct Case {
        const char* name;
        int32_t flags;
        std::vector<std::string> methods;  // the requests Apache saw for the name
    } cases[] = {
        {"overwrite of an existing file", CopyOverwrite, {"DELETE 204", "PUT 201"}},
        // Only overwrite deletes; the second PUT replaces the file.
        {"no overwrite", 0, {"DELETE 204", "PUT 201", "PUT 204"}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::u16string remote = U16("\\conn\\" + folder + "\\there.txt");
        EXPECT_EQ(FsPutFileW(U16(local).data(), remote.data(), c.flags), FileOpOk);
        std::vector<std::string> methods;
        for (const std::string& line : LogLinesWith(
                 env["APACHE_ACCESS_LOG"], "\"/dav/" + folder + "/there.txt\"", c.methods.size())) {
            std::string rest = line.substr(line.find(' ') + 1);
            methods.push_back(rest.substr(0, rest.find(' ')) + " " +
                              rest.substr(rest.find("\" ") + 2, 3));
        }
        EXPECT_EQ(methods, c.methods);
        EXPECT_EQ(ReadFile(serverFolder + "/there.txt"), "new");
    }
    // A delete that fails (nothing to delete) does not stop the upload.
    std::u16string fresh = U16("\\conn\\" + folder + "\\fresh.txt");
    EXPECT_EQ(FsPutFileW(U16(local).data(), fresh.data(), CopyOverwrite), FileOpOk);
    std::vector<std::string> logged =
        LogLinesWith(env["APACHE_ACCESS_LOG"], "\"/dav/" + folder + "/fresh.txt\"", 2);
    ASSERT_EQ(logged.size(), 2u);
    EXPECT_NE(logged[0].find("DELETE \"/dav/" + folder + "/fresh.txt\" 404"), std::string::npos)
        << logged[0];
    EXPECT_EQ(ReadFile(serverFolder + "/fresh.txt"), "new");
}

}  // namespace
}  // namespace vodarezazuv
