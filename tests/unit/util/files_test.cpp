#include "util/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <csignal>

#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

using namespace tarsel;
namespace fs = std::filesystem;

namespace {

class TempDir {
public:
    TempDir()
    {
        std::string tmpl = (fs::temp_directory_path() / "tarsel-files-XXXXXX").string();
        path = ::mkdtemp(tmpl.data());
    }
    ~TempDir()
    {
        std::error_code ec;
        fs::permissions(path, fs::perms::owner_all, fs::perm_options::add, ec);
        fs::remove_all(path, ec);
    }
    std::string file(const std::string& name) const { return path + "/" + name; }
    std::string path;
};

Bytes allBytes()
{
    Bytes b;
    for (int r = 0; r < 300; ++r)
        for (int i = 0; i < 256; ++i)
            b.push_back(static_cast<char>(i));
    return b;
}

std::size_t entries(const std::string& dir)
{
    return static_cast<std::size_t>(std::distance(fs::directory_iterator(dir), fs::directory_iterator()));
}

} // namespace

TEST(Files, ReadFileBytesReadsEveryByteOrNothing)
{
    TempDir dir;
    const Bytes data = allBytes();
    {
        std::ofstream out(dir.file("a.bin"), std::ios::binary);
        out.write(data.data(), static_cast<std::streamsize>(data.size()));
    }
    EXPECT_EQ(ReadFileBytes(dir.file("a.bin")), data);
    EXPECT_EQ(ReadFileBytes(dir.file("missing.bin")), Bytes());
    EXPECT_EQ(ReadFileBytes(dir.path), Bytes()) << "a folder is not a file";
    { std::ofstream(dir.file("empty.bin")); }
    EXPECT_EQ(ReadFileBytes(dir.file("empty.bin")), Bytes());
}

TEST(Files, WriteFileAtomicReplacesTheFileAndLeavesNoTemporary)
{
    TempDir dir;
    const std::string target = dir.file("settings.ini");
    std::string error = "stale";
    ASSERT_TRUE(WriteFileAtomic(target, "old", error)) << error;
    EXPECT_EQ(error, "");
    ::chmod(target.c_str(), 0640);
    const Bytes data = allBytes();
    ASSERT_TRUE(WriteFileAtomic(target, data, error)) << error;
    EXPECT_EQ(ReadFileBytes(target), data);
    EXPECT_EQ(entries(dir.path), 1u);
    struct stat st {};
    ASSERT_EQ(::stat(target.c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0640u) << "the mode of the replaced file is kept";

    ASSERT_TRUE(WriteFileAtomic(target, "", error));
    EXPECT_EQ(ReadFileBytes(target), Bytes());
}

TEST(Files, WriteFileAtomicWritesThroughASymbolicLink)
{
    TempDir dir;
    const std::string real = dir.file("real.ini");
    const std::string link = dir.file("link.ini");
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(real, "old", error));
    ASSERT_EQ(::symlink(real.c_str(), link.c_str()), 0);
    ASSERT_TRUE(WriteFileAtomic(link, "new", error)) << error;
    EXPECT_TRUE(fs::is_symlink(link));
    EXPECT_EQ(ReadFileBytes(real), "new");
}

TEST(Files, WriteFileAtomicFailureReportsTheSystemErrorAndKeepsTheOldFile)
{
    TempDir dir;
    std::string error;
    // A folder that is really a file: fails for root as well.
    const std::string notAFolder = dir.file("plain");
    ASSERT_TRUE(WriteFileAtomic(notAFolder, "x", error));
    EXPECT_FALSE(WriteFileAtomic(notAFolder + "/settings.ini", "data", error));
    EXPECT_EQ(error, "Not a directory");

    // The target is a folder: the rename fails after the data were written; the
    // folder and its content stay, and the temporary file is gone.
    const std::string folder = dir.file("sub");
    fs::create_directory(folder);
    ASSERT_TRUE(WriteFileAtomic(folder + "/keep.txt", "keep", error));
    EXPECT_FALSE(WriteFileAtomic(folder, "data", error));
    EXPECT_FALSE(error.empty());
    EXPECT_EQ(ReadFileBytes(folder + "/keep.txt"), "keep");
    EXPECT_EQ(entries(dir.path), 2u) << "no temporary file left behind";

    // Without root, a read-only folder refuses the temporary file (root ignores it).
    if (::geteuid() != 0) {
        const std::string target = dir.file("ro/settings.ini");
        fs::create_directory(dir.file("ro"));
        ASSERT_TRUE(WriteFileAtomic(target, "old", error));
        fs::permissions(dir.file("ro"), fs::perms::owner_read | fs::perms::owner_exec);
        EXPECT_FALSE(WriteFileAtomic(target, "new", error));
        EXPECT_EQ(error, "Permission denied");
        EXPECT_EQ(ReadFileBytes(target), "old");
    }
}

TEST(Files, WriteFileAtomicOnAFullDiskKeepsTheOldFile)
{
    // The file size limit makes the write fail part-way, as a full disk does.
    TempDir dir;
    const std::string target = dir.file("settings.ini");
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(target, "old content", error));
    pid_t child = ::fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::signal(SIGXFSZ, SIG_IGN);
        struct rlimit lim {1024, 1024};
        ::setrlimit(RLIMIT_FSIZE, &lim);
        std::string err;
        bool ok = WriteFileAtomic(target, Bytes(4096, 'n'), err);
        ::_exit(ok ? 1 : (err == "File too large" ? 0 : 2));
    }
    int status = 0;
    ASSERT_EQ(::waitpid(child, &status, 0), child);
    ASSERT_TRUE(WIFEXITED(status));
    EXPECT_EQ(WEXITSTATUS(status), 0) << "1: reported success, 2: wrong message";
    EXPECT_EQ(ReadFileBytes(target), "old content");
    EXPECT_EQ(entries(dir.path), 1u) << "no temporary file left behind";
}

TEST(Streams, StreamToBytesAndBytesToStream)
{
    EXPECT_EQ(StreamToBytes(nullptr), Bytes());
    std::stringstream s;
    const Bytes data = allBytes();
    ASSERT_TRUE(BytesToStream(data, s));
    EXPECT_EQ(StreamToBytes(&s), data);
    EXPECT_EQ(s.tellg(), static_cast<std::streamoff>(data.size()));
    // A second fill replaces the content instead of appending or overlaying it.
    ASSERT_TRUE(BytesToStream("ab", s));
    EXPECT_EQ(StreamToBytes(&s), "ab");
    ASSERT_TRUE(BytesToStream("", s));
    EXPECT_EQ(StreamToBytes(&s), "");
}
