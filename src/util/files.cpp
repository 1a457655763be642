#include "util/files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <istream>
#include <limits>
#include <sstream>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarsel {

namespace {

std::string errnoText(int err) { return std::strerror(err); }

// Retries a system call interrupted by a signal.
template <typename F>
auto retryEintr(F f)
{
    for (;;) {
        auto r = f();
        if (r >= 0 || errno != EINTR)
            return r;
    }
}

std::string folderOf(const std::string& path)
{
    auto slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    if (slash == 0)
        return "/";
    return path.substr(0, slash);
}

} // namespace

std::string FileKindText(unsigned mode)
{
    switch (mode & S_IFMT) {
    case S_IFDIR: return "a folder";
    case S_IFIFO: return "a named pipe";
    case S_IFCHR: return "a character device";
    case S_IFBLK: return "a block device";
    case S_IFSOCK: return "a socket";
    case S_IFLNK: return "a symbolic link";
    default: return "not a regular file";
    }
}

namespace {

std::string notRegular(unsigned mode) { return "not a regular file (" + FileKindText(mode) + ")"; }

} // namespace

ReadStatus ReadRegularFile(const std::string& path, std::uint64_t maxBytes, Bytes& out, std::string& reason)
{
    out.clear();
    // Look before opening: opening a device can have effects of its own.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0) {
        reason = errnoText(errno);
        return ReadStatus::OpenFailed;
    }
    if (!S_ISREG(st.st_mode)) {
        reason = notRegular(st.st_mode);
        return ReadStatus::NotRegular;
    }
    // O_NONBLOCK: a FIFO put in its place meanwhile cannot hold the open.
    const int fd = retryEintr([&] { return ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC); });
    if (fd < 0) {
        reason = errnoText(errno);
        return ReadStatus::OpenFailed;
    }
    auto finish = [&](ReadStatus status, std::string why) {
        ::close(fd);
        if (status != ReadStatus::Ok)
            out.clear();
        reason = std::move(why);
        return status;
    };
    if (::fstat(fd, &st) != 0)
        return finish(ReadStatus::OpenFailed, errnoText(errno));
    if (!S_ISREG(st.st_mode))
        return finish(ReadStatus::NotRegular, notRegular(st.st_mode));
    const auto tooLarge = [&] { return "larger than " + std::to_string(maxBytes) + " bytes"; };
    if (static_cast<std::uint64_t>(st.st_size) > maxBytes)
        return finish(ReadStatus::TooLarge, tooLarge());
    // A regular file: blocking reads from here on are what a file's reads are.
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags >= 0)
        ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK);
    if (st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        const ssize_t n = retryEintr([&] { return ::read(fd, buf, sizeof buf); });
        if (n < 0)
            return finish(ReadStatus::ReadFailed, errnoText(errno));
        if (n == 0)
            break;
        if (static_cast<std::uint64_t>(n) > maxBytes - out.size()) // the file grew
            return finish(ReadStatus::TooLarge, tooLarge());
        out.append(buf, static_cast<std::size_t>(n));
    }
    return finish(ReadStatus::Ok, {});
}

Bytes ReadFileBytes(const std::string& path)
{
    Bytes out;
    std::string reason;
    ReadRegularFile(path, std::numeric_limits<std::uint64_t>::max(), out, reason);
    return out;
}

namespace {

// The path a write to `path` lands on: symbolic links followed, one after another,
// to the name the last one gives (which need not exist yet). False with the system's
// text for a loop or an unreadable link.
bool followLinks(const std::string& path, std::string& target, std::string& error)
{
    target = path;
    for (int hops = 0;; ++hops) {
        struct stat lst {};
        if (::lstat(target.c_str(), &lst) != 0 || !S_ISLNK(lst.st_mode))
            return true; // missing or not a link: this is the file
        if (hops == 40) {
            error = errnoText(ELOOP);
            return false;
        }
        char buf[PATH_MAX];
        const ssize_t n = ::readlink(target.c_str(), buf, sizeof buf);
        if (n < 0) {
            error = errnoText(errno);
            return false;
        }
        const std::string next(buf, static_cast<std::size_t>(n));
        target = next.empty() || next[0] == '/' ? next : folderOf(target) + "/" + next;
    }
}

} // namespace

bool WriteFileAtomic(const std::string& path, const Bytes& bytes, std::string& error)
{
    static std::atomic<unsigned> counter{0};

    // Write through symbolic links to the file they name, keeping the links.
    std::string target;
    if (!followLinks(path, target, error))
        return false;

    // Only a regular file is ever replaced: a device node, FIFO or socket stays as
    // it is. Looked at without opening it (opening a device can act on it).
    struct stat lst {};
    if (::lstat(target.c_str(), &lst) == 0 && !S_ISREG(lst.st_mode)) {
        error = notRegular(lst.st_mode);
        if (target != path)
            error.insert(error.size() - 1, ": " + target);
        return false;
    }

    // Keep the mode of an existing file; a new one gets 0666 less the umask.
    mode_t mode = 0666;
    struct stat st {};
    bool existed = ::lstat(target.c_str(), &st) == 0;
    if (existed)
        mode = st.st_mode & 07777;

    std::string temp;
    int fd = -1;
    for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
        temp = target + ".tmp-" + std::to_string(::getpid()) + "-" + std::to_string(counter++);
        fd = retryEintr([&] { return ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, mode); });
        if (fd < 0 && errno != EEXIST)
            break;
    }
    if (fd < 0) {
        error = errnoText(errno);
        return false;
    }

    auto fail = [&](int err) {
        ::close(fd);
        ::unlink(temp.c_str());
        error = errnoText(err);
        return false;
    };

    if (existed)
        ::fchmod(fd, mode); // the umask may have narrowed it
    std::size_t done = 0;
    while (done < bytes.size()) {
        ssize_t n = retryEintr([&] { return ::write(fd, bytes.data() + done, bytes.size() - done); });
        if (n < 0)
            return fail(errno);
        if (n == 0)
            return fail(ENOSPC);
        done += static_cast<std::size_t>(n);
    }
    if (retryEintr([&] { return ::fsync(fd); }) != 0)
        return fail(errno);
    if (::close(fd) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        error = errnoText(err);
        return false;
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        int err = errno;
        ::unlink(temp.c_str());
        error = errnoText(err);
        return false;
    }
    // Make the rename itself durable; a failure here leaves the new file in place.
    int dir = ::open(folderOf(target).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (dir >= 0) {
        ::fsync(dir);
        ::close(dir);
    }
    error.clear();
    return true;
}

Bytes StreamToBytes(std::istream* stream)
{
    if (!stream)
        return {};
    stream->clear();
    stream->seekg(0, std::ios::beg);
    if (!*stream)
        return {};
    Bytes out;
    char buf[65536];
    while (true) {
        stream->read(buf, sizeof buf);
        std::streamsize n = stream->gcount();
        if (n > 0)
            out.append(buf, static_cast<std::size_t>(n));
        if (stream->bad())
            return {};
        if (stream->eof())
            break;
        if (stream->fail())
            return {};
    }
    // Leave the stream usable, positioned after the last byte read.
    stream->clear();
    stream->seekg(0, std::ios::end);
    return out;
}

bool BytesToStream(const Bytes& bytes, std::stringstream& stream)
{
    stream.str(std::string());
    stream.clear();
    stream.seekp(0);
    stream.seekg(0);
    stream.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(stream);
}

} // namespace tarsel
