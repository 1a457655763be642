// The settings file on a real file system.
#include "settings/settings_document.h"
#include "settings/tables.h"
#include "util/codepage.h"
#include "util/files.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <string>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarsel::test {
namespace {

namespace fs = std::filesystem;

class SettingsFile : public ::testing::Test {
protected:
    void SetUp() override
    {
        char pattern[] = "/tmp/tarsel-settings-XXXXXX";
        ASSERT_NE(::mkdtemp(pattern), nullptr);
        dir = pattern;
        std::string error;
        ASSERT_TRUE(ParseSettingsJson(Utf8ToUtf16(DefaultSettingsJson), info, values, error)) << error;
    }
    void TearDown() override
    {
        std::error_code ec;
        fs::permissions(dir, fs::perms::owner_all, ec);
        fs::remove_all(dir, ec);
    }
    std::string dir;
    TDisplayInfo info;
    WindowValues values;
};

TEST_F(SettingsFile, DefaultDocumentRoundTrips)
{
    const std::string path = SettingsFileName(dir + "/Tarsel");
    EXPECT_EQ(path, dir + "/Tarsel.ini");
    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, info, error)) << error;

    Bytes content;
    ASSERT_TRUE(LoadSettingsFile(path, content, error)) << error;
    EXPECT_EQ(content, BuildSettingsDocument(info));
    TDisplayInfo loaded;
    WindowValues shown;
    ASSERT_TRUE(ParseSettingsDocument(content, loaded, shown, error)) << error;
    EXPECT_EQ(loaded, info);
    EXPECT_EQ(shown, values);
    // No temporary file is left beside it.
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(SettingsFile, MessageBytesSurviveTheFile)
{
    info.wel_mess1 = Bytes("\x80\x81\x8D\xA4\xFF\x7F");
    const std::string path = dir + "/bytes.ini";
    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, info, error)) << error;
    const Bytes raw = ReadFileBytes(path);
    EXPECT_NE(raw.find("\x80\x81\x8D\xA4\xFF\x7F"), std::string::npos);
    TDisplayInfo loaded;
    WindowValues shown;
    ASSERT_TRUE(ParseSettingsDocument(raw, loaded, shown, error)) << error;
    EXPECT_EQ(loaded.wel_mess1, info.wel_mess1);
}

TEST_F(SettingsFile, FailedSaveKeepsTheOldFile)
{
    if (::geteuid() == 0)
        GTEST_SKIP() << "permissions do not bind root";
    const std::string path = dir + "/keep.ini";
    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, info, error)) << error;
    const Bytes before = ReadFileBytes(path);
    ASSERT_FALSE(before.empty());

    fs::permissions(dir, fs::perms::owner_read | fs::perms::owner_exec);
    info.Comm_No = 3;
    EXPECT_FALSE(SaveSettingsFile(path, info, error));
    EXPECT_NE(error.find("Permission denied"), std::string::npos) << error;
    fs::permissions(dir, fs::perms::owner_all);
    EXPECT_EQ(ReadFileBytes(path), before);
}

// A write that the system cuts short (file size limit, as a full disk would) leaves
// the old file as it was.
TEST_F(SettingsFile, FailedWriteKeepsTheOldFile)
{
    const std::string path = dir + "/full.ini";
    std::string error;
    ASSERT_TRUE(SaveSettingsFile(path, info, error)) << error;
    const Bytes before = ReadFileBytes(path);

    struct rlimit old {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &old), 0);
    auto previous = std::signal(SIGXFSZ, SIG_IGN);
    struct rlimit small = old;
    small.rlim_cur = 64;
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    info.Comm_No = 3;
    const bool saved = SaveSettingsFile(path, info, error);
    ::setrlimit(RLIMIT_FSIZE, &old);
    std::signal(SIGXFSZ, previous);

    EXPECT_FALSE(saved);
    EXPECT_NE(error.find("File too large"), std::string::npos) << error;
    EXPECT_EQ(ReadFileBytes(path), before);
    EXPECT_EQ(std::distance(fs::directory_iterator(dir), fs::directory_iterator()), 1);
}

TEST_F(SettingsFile, FailedSaveIntoMissingFolderReportsTheSystemText)
{
    std::string error;
    EXPECT_FALSE(SaveSettingsFile(dir + "/no/such/folder.ini", info, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;
}

TEST_F(SettingsFile, LoadErrors)
{
    Bytes content;
    std::string error;
    EXPECT_FALSE(LoadSettingsFile(dir + "/missing.ini", content, error));
    EXPECT_NE(error.find("No such file or directory"), std::string::npos) << error;

    EXPECT_FALSE(LoadSettingsFile(dir, content, error));
    EXPECT_EQ(error, dir + ": not a regular file (a folder)");

    // A named pipe is refused at once instead of waiting in open() for a writer.
    const std::string fifo = dir + "/pipe.ini";
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    EXPECT_FALSE(LoadSettingsFile(fifo, content, error));
    EXPECT_EQ(error, fifo + ": not a regular file (a named pipe)");

    const std::string big = dir + "/big.ini";
    std::string writeError;
    ASSERT_TRUE(WriteFileAtomic(big, Bytes(kMaxSettingsDocument + 1, ' '), writeError));
    EXPECT_FALSE(LoadSettingsFile(big, content, error));
    EXPECT_EQ(error, kSettingsTooLarge);
    EXPECT_TRUE(content.empty());

    // A device (this one never ends) is refused without reading it.
    EXPECT_FALSE(LoadSettingsFile("/dev/zero", content, error));
    EXPECT_EQ(error, "/dev/zero: not a regular file (a character device)");
    EXPECT_TRUE(content.empty());

    const std::string empty = dir + "/empty.ini";
    ASSERT_TRUE(WriteFileAtomic(empty, Bytes(), writeError));
    EXPECT_TRUE(LoadSettingsFile(empty, content, error));
    EXPECT_TRUE(content.empty());
}

} // namespace
} // namespace tarsel::test
