#include "platform/File.h"
#include "tests/platform/Scratch.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <string>
#include <thread>
#include <vector>

using namespace px;

namespace {

class FileTest : public ::testing::Test {
protected:
    std::string P(const std::string& name) const { return m_scratch.In(name); }
    std::string Read(const std::string& name) const
    {
        std::string text;
        EXPECT_EQ(FileReadAll(P(name).c_str(), 1 << 20, &text), 0) << name;
        return text;
    }
    platformtest::CScratch m_scratch;
};

} // namespace

TEST_F(FileTest, AppendsFromSeveralHandlesStayWholeAndMoveTheTrailer)
{
    // Two handles of one file, as two processes have: each append finds the end anew under the
    // file's lock, so no record lands on another's bytes.
    const std::string path = P("log");
    constexpr int kRecords = 400;
    auto writer = [&](char tag) {
        FileHandle f = kInvalidFile;
        ASSERT_EQ(FileOpenShared(path.c_str(), &f), 0);
        const std::string record = std::string(40, tag) + "\n" + std::string(1, '\0');
        for (int i = 0; i < kRecords; ++i)
            ASSERT_EQ(FileAppendLocked(f, record.data(), record.size(), '\0'), 0);
        EXPECT_EQ(FileClose(f), 0);
    };
    std::thread a(writer, 'a'), b(writer, 'b');
    a.join();
    b.join();
    const std::string text = Read("log");
    ASSERT_EQ(text.size(), 2u * kRecords * 41 + 1);
    EXPECT_EQ(text.back(), '\0');
    EXPECT_EQ(std::count(text.begin(), text.end(), '\0'), 1);
    for (size_t at = 0; at + 1 < text.size(); at += 41)
        EXPECT_EQ(text.substr(at, 41), std::string(40, text[at]) + "\n") << at;

    // A file that does not end in the trailer keeps its last byte; without a trailer nothing is
    // replaced.
    ASSERT_EQ(FileWriteAll(P("plain").c_str(), "ab", 2), 0);
    FileHandle f = kInvalidFile;
    ASSERT_EQ(FileOpenShared(P("plain").c_str(), &f), 0);
    EXPECT_EQ(FileAppendLocked(f, "c", 1, '\0'), 0);
    EXPECT_EQ(FileAppendLocked(f, "d", 1, 'c'), 0);
    EXPECT_EQ(FileAppendLocked(f, "e", 1), 0);
    FileClose(f);
    EXPECT_EQ(Read("plain"), "abde");
}

TEST_F(FileTest, WholeFileReadsAreBounded)
{
    ASSERT_EQ(FileWriteAll(P("ten").c_str(), "0123456789", 10), 0);
    std::vector<uint8_t> bytes;
    EXPECT_EQ(FileReadAll(P("ten").c_str(), 10, &bytes), 0);
    EXPECT_EQ(bytes.size(), 10u);
    EXPECT_EQ(FileReadAll(P("ten").c_str(), 9, &bytes), EFBIG);
    // A file whose size the system does not know beforehand is bounded while it is read.
    std::string text;
    EXPECT_EQ(FileReadAll("/proc/self/status", 8, &text), EFBIG);
    EXPECT_EQ(FileReadAll("/proc/self/status", 1 << 20, &text), 0);
    EXPECT_NE(text.find("Name:"), std::string::npos);
    EXPECT_EQ(FileReadAll(P("missing").c_str(), 10, &text), ENOENT);
    EXPECT_EQ(FileReadAll(m_scratch.Path().c_str(), 10, &text), EISDIR);
}

TEST_F(FileTest, CopyRenameDeleteAndListWithAttributes)
{
    ASSERT_EQ(FolderCreatePath(P("pkg/Package").c_str()), 0);
    std::string big(200000, 'x');
    big[123456] = 'y';
    ASSERT_EQ(FileWriteAll(P("pkg/NK.bin").c_str(), big.data(), big.size()), 0);
    ASSERT_EQ(FileWriteAll(P("pkg/version.ini").c_str(), "old and longer", 14), 0);
    ASSERT_EQ(FileWriteAll(P("pkg/version.ini").c_str(), "v", 1), 0); // truncates
    ASSERT_EQ(FileCreateEmpty(P("pkg/Package/flag.tmp").c_str()), 0);
    ASSERT_EQ(FileSetReadOnly(P("pkg/version.ini").c_str(), true), 0);

    std::vector<FolderEntry> entries;
    ASSERT_EQ(FolderList(P("pkg").c_str(), &entries), 0);
    std::sort(entries.begin(), entries.end(), [](auto& l, auto& r) { return l.name < r.name; });
    ASSERT_EQ(entries.size(), 3u);
    EXPECT_EQ(entries[0].name, "NK.bin");
    EXPECT_EQ(entries[0].size, big.size());
    EXPECT_FALSE(entries[0].bFolder);
    EXPECT_FALSE(entries[0].bReadOnly);
    EXPECT_EQ(entries[1].name, "Package");
    EXPECT_TRUE(entries[1].bFolder);
    EXPECT_EQ(entries[2].name, "version.ini");
    EXPECT_EQ(entries[2].size, 1u);
    EXPECT_TRUE(entries[2].bReadOnly);
    EXPECT_GT(entries[2].modified, 1600000000);

    // Copies replace their target and keep every byte, over several chunks.
    ASSERT_EQ(FileWriteAll(P("copy").c_str(), "stale", 5), 0);
    ASSERT_EQ(FileCopy(P("pkg/NK.bin").c_str(), P("copy").c_str()), 0);
    EXPECT_EQ(Read("copy"), big);
    EXPECT_EQ(FileCopy(P("none").c_str(), P("copy2").c_str()), ENOENT);

    ASSERT_EQ(FileRename(P("copy").c_str(), P("pkg/Package/flag.tmp").c_str()), 0);
    FolderEntry attributes;
    ASSERT_EQ(FileAttributes(P("pkg/Package/flag.tmp").c_str(), &attributes), 0);
    EXPECT_EQ(attributes.name, "flag.tmp");
    EXPECT_EQ(attributes.size, big.size());
    EXPECT_EQ(FileAttributes(P("copy").c_str(), &attributes), ENOENT);

    // A folder goes only when empty.
    EXPECT_EQ(FileDelete(P("pkg/Package").c_str()), ENOTEMPTY);
    EXPECT_EQ(FileDelete(P("pkg/Package/flag.tmp").c_str()), 0);
    EXPECT_EQ(FileDelete(P("pkg/Package").c_str()), 0);
    EXPECT_EQ(FileDelete(P("pkg/Package").c_str()), ENOENT);
    EXPECT_EQ(FolderList(P("pkg/Package").c_str(), &entries), ENOENT);
}

TEST_F(FileTest, FolderPathsAndThePerUserFolder)
{
    EXPECT_EQ(FolderCreatePath(P("a/b/c/").c_str()), 0);
    EXPECT_EQ(FolderCreatePath(P("a/b/c").c_str()), 0); // already there
    ASSERT_EQ(FileCreateEmpty(P("a/file").c_str()), 0);
    EXPECT_EQ(FolderCreatePath(P("a/file").c_str()), ENOTDIR);
    EXPECT_EQ(FolderCreatePath(P("a/file/below").c_str()), ENOTDIR);
    EXPECT_EQ(FolderCreatePath(""), EINVAL);

    EXPECT_EQ(UserDataFolder("/data", "/home/u"), "/data");
    EXPECT_EQ(UserDataFolder("relative", "/home/u"), "/home/u/.local/share");
    EXPECT_EQ(UserDataFolder(nullptr, "/home/u"), "/home/u/.local/share");
    EXPECT_EQ(UserDataFolder("", nullptr), "");
    EXPECT_EQ(UserDataFolder(nullptr, "~"), "");
}
