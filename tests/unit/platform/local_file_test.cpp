// Reading a local file in the caller's blocks, some served from the read-ahead block: the
// bytes come as the file holds them, whatever the mix of block sizes.
#include "platform/local_file.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "temp_dir.h"

namespace vodarezazuv {
namespace {

using testsupport::U16;

std::string ReadInBlocks(const std::string& path, const std::vector<size_t>& blocks) {
    LocalFile file;
    EXPECT_EQ(
        OpenLocalFile(U16(path).c_str(), LocalAccess::Read, LocalCreation::OpenExisting, file),
        LocalOpenError::None);
    std::string out;
    std::vector<char> buffer(kReadAhead * 2);
    for (size_t i = 0;; ++i) {
        size_t size = blocks[i % blocks.size()];
        int64_t read = file.Read(buffer.data(), size);
        EXPECT_GE(read, 0);
        EXPECT_LE(read, static_cast<int64_t>(size));
        if (read <= 0)
            return out;
        out.append(buffer.data(), static_cast<size_t>(read));
    }
}

TEST(LocalFileTest, ReadsGiveTheFileAsItIsWhateverTheBlocks) {
    testsupport::TempDir dir;
    std::string content(kReadAhead * 3 + 12345, '\0');
    for (size_t i = 0; i < content.size(); ++i)
        content[i] = static_cast<char>(i * 7 % 251);
    std::string path = dir.File("data.bin");
    testsupport::WriteFile(path, content);
    struct Case {
        const char* what;
        std::vector<size_t> blocks;
    } cases[] = {
        {"the upload's blocks", {8192}},
        {"odd small blocks", {1, 7, 8191, 3}},
        {"small and large in turn", {8192, kReadAhead, 100, kReadAhead * 2}},
        {"large only", {kReadAhead + 1}},
    };
    for (const Case& c : cases)
        EXPECT_EQ(ReadInBlocks(path, c.blocks), content) << c.what;

    // A moved file goes on where it stood, with what it had read ahead.
    LocalFile first;
    ASSERT_EQ(
        OpenLocalFile(U16(path).c_str(), LocalAccess::Read, LocalCreation::OpenExisting, first),
        LocalOpenError::None);
    char head[10];
    ASSERT_EQ(first.Read(head, sizeof head), 10);
    LocalFile moved = std::move(first);
    char next[10];
    ASSERT_EQ(moved.Read(next, sizeof next), 10);
    EXPECT_EQ(std::string(next, 10), content.substr(10, 10));
}

}  // namespace
}  // namespace vodarezazuv
