#include "util/files.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>

#include <csignal>

#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <sys/un.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <fcntl.h>
#include <thread>

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

namespace {

// A character device to write at: as root a null device node of our own inside the
// test folder (a fault then replaces only that node), else /dev/null, which an
// ordinary user cannot replace anyway. Empty when neither is possible.
std::string charDevice(const TempDir& dir)
{
    if (::geteuid() != 0)
        return "/dev/null";
    const std::string node = dir.file("null-device");
    return ::mknod(node.c_str(), S_IFCHR | 0666, ::makedev(1, 3)) == 0 ? node : std::string();
}

std::string socketIn(const TempDir& dir, int& fd)
{
    const std::string path = dir.file("sock");
    fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un addr{};
    addr.sun_family = AF_UNIX;
    std::snprintf(addr.sun_path, sizeof addr.sun_path, "%s", path.c_str());
    EXPECT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr), 0);
    return path;
}

// Opens the FIFO's other end if the code under test is still stuck in open() or
// read() after a long while, so that a fault ends the test instead of hanging it;
// the test then fails on the result, not on the time.
class FifoRescue {
public:
    explicit FifoRescue(std::string fifo) : m_fifo(std::move(fifo)), m_thread([this] { run(); }) {}
    ~FifoRescue()
    {
        m_done = true;
        m_thread.join();
    }
    bool rescued() const { return m_rescued; }

private:
    void run()
    {
        for (int i = 0; i < 600 && !m_done; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        if (m_done)
            return;
        m_rescued = true;
        const int fd = ::open(m_fifo.c_str(), O_WRONLY);
        if (fd >= 0)
            ::close(fd);
    }
    std::string m_fifo;
    std::atomic<bool> m_done{false};
    std::atomic<bool> m_rescued{false};
    std::thread m_thread;
};

} // namespace

TEST(Files, ReadRegularFileRefusesWhatIsNotAFileWithoutBlocking)
{
    TempDir dir;
    const std::string fifo = dir.file("pipe.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int sockFd = -1;
    const std::string sock = socketIn(dir, sockFd);
    const std::string link = dir.file("link-to-pipe");
    ASSERT_EQ(::symlink(fifo.c_str(), link.c_str()), 0);
    struct Case {
        std::string path;
        const char* reason;
    };
    const std::vector<Case> cases = {
        {fifo, "not a regular file (a named pipe)"},
        {link, "not a regular file (a named pipe)"},
        {dir.path, "not a regular file (a folder)"},
        {sock, "not a regular file (a socket)"},
        {"/dev/zero", "not a regular file (a character device)"}, // would never end
        {dir.file("missing"), "No such file or directory"},
    };
    FifoRescue rescue(fifo);
    for (const auto& c : cases) {
        SCOPED_TRACE(c.path);
        Bytes out = "stale";
        std::string reason;
        const ReadStatus status = ReadRegularFile(c.path, 1 << 20, out, reason);
        EXPECT_EQ(status, c.reason[0] == 'n' ? ReadStatus::NotRegular : ReadStatus::OpenFailed);
        EXPECT_EQ(reason, c.reason);
        EXPECT_EQ(out, Bytes());
        EXPECT_EQ(ReadFileBytes(c.path), Bytes());
    }
    EXPECT_FALSE(rescue.rescued()) << "a read blocked on the named pipe";
    ::close(sockFd);
}

TEST(Files, ReadRegularFileRefusesAFileLargerThanTheLimitByItsSize)
{
    TempDir dir;
    const std::string path = dir.file("big.bin");
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(path, Bytes(1001, 'x'), error));
    Bytes out;
    std::string reason;
    EXPECT_EQ(ReadRegularFile(path, 1000, out, reason), ReadStatus::TooLarge);
    EXPECT_EQ(reason, "larger than 1000 bytes");
    EXPECT_TRUE(out.empty());
    EXPECT_EQ(ReadRegularFile(path, 1001, out, reason), ReadStatus::Ok);
    EXPECT_EQ(out, Bytes(1001, 'x'));
    EXPECT_EQ(reason, "");
}

TEST(Files, WriteFileAtomicNeverReplacesWhatIsNotARegularFile)
{
    TempDir dir;
    const std::string fifo = dir.file("pipe.ini");
    ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
    int sockFd = -1;
    const std::string sock = socketIn(dir, sockFd);
    std::vector<std::pair<std::string, std::string>> targets = {
        {fifo, "a named pipe"}, {sock, "a socket"}, {dir.file(""), "a folder"}};
    const std::string device = charDevice(dir);
    if (!device.empty())
        targets.emplace_back(device, "a character device");
    int n = 0;
    for (const auto& [target, kind] : targets) {
        SCOPED_TRACE(target);
        struct stat before {};
        ASSERT_EQ(::stat(target.c_str(), &before), 0);
        std::string error;
        // Straight at it, and through a symbolic link to it.
        EXPECT_FALSE(WriteFileAtomic(target, "data", error));
        EXPECT_EQ(error, "not a regular file (" + kind + ")");
        const std::string link = dir.file("link" + std::to_string(n++) + ".ini");
        ASSERT_EQ(::symlink(target.c_str(), link.c_str()), 0);
        EXPECT_FALSE(WriteFileAtomic(link, "data", error));
        EXPECT_NE(error.find("not a regular file (" + kind + ": "), std::string::npos) << error;
        struct stat after {};
        ASSERT_EQ(::stat(target.c_str(), &after), 0);
        EXPECT_EQ(after.st_mode, before.st_mode) << "left as it was";
        EXPECT_EQ(after.st_ino, before.st_ino) << "not replaced";
        EXPECT_EQ(after.st_rdev, before.st_rdev);
        EXPECT_TRUE(fs::is_symlink(link));
    }
    ::close(sockFd);
    for (const auto& entry : fs::directory_iterator(dir.path))
        EXPECT_EQ(entry.path().string().find(".tmp-"), std::string::npos) << "no temporary file left: " << entry.path();
}

TEST(Files, WriteFileAtomicFollowsChainsOfLinksAndKeepsThem)
{
    TempDir dir;
    fs::create_directory(dir.file("data"));
    const std::string real = dir.file("data/real.ini");
    std::string error;
    ASSERT_TRUE(WriteFileAtomic(real, "old", error));
    // first.ini -> (absolute) second.ini -> (relative) data/real.ini
    ASSERT_EQ(::symlink("data/real.ini", dir.file("second.ini").c_str()), 0);
    ASSERT_EQ(::symlink(dir.file("second.ini").c_str(), dir.file("first.ini").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomic(dir.file("first.ini"), "new", error)) << error;
    EXPECT_EQ(ReadFileBytes(real), "new");
    EXPECT_TRUE(fs::is_symlink(dir.file("first.ini")));
    EXPECT_TRUE(fs::is_symlink(dir.file("second.ini")));

    // A link to a file that does not exist yet makes that file.
    ASSERT_EQ(::symlink("data/later.ini", dir.file("dangling.ini").c_str()), 0);
    ASSERT_TRUE(WriteFileAtomic(dir.file("dangling.ini"), "made", error)) << error;
    EXPECT_EQ(ReadFileBytes(dir.file("data/later.ini")), "made");
    EXPECT_TRUE(fs::is_symlink(dir.file("dangling.ini")));

    // A loop of links is an error, not a hang.
    ASSERT_EQ(::symlink("loop-b", dir.file("loop-a").c_str()), 0);
    ASSERT_EQ(::symlink("loop-a", dir.file("loop-b").c_str()), 0);
    EXPECT_FALSE(WriteFileAtomic(dir.file("loop-a"), "x", error));
    EXPECT_EQ(error, "Too many levels of symbolic links");
    EXPECT_TRUE(fs::is_symlink(dir.file("loop-a")));
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
