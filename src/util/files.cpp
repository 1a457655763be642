#include "util/files.h"

#include <atomic>
#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <istream>
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

Bytes ReadFileBytes(const std::string& path)
{
    int fd = retryEintr([&] { return ::open(path.c_str(), O_RDONLY | O_CLOEXEC); });
    if (fd < 0)
        return {};
    Bytes out;
    struct stat st {};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode) && st.st_size > 0)
        out.reserve(static_cast<std::size_t>(st.st_size));
    char buf[65536];
    for (;;) {
        ssize_t n = retryEintr([&] { return ::read(fd, buf, sizeof buf); });
        if (n < 0) {
            out.clear();
            break;
        }
        if (n == 0)
            break;
        out.append(buf, static_cast<std::size_t>(n));
    }
    ::close(fd);
    return out;
}

bool WriteFileAtomic(const std::string& path, const Bytes& bytes, std::string& error)
{
    static std::atomic<unsigned> counter{0};

    // Write through a symbolic link to the file it names, keeping the link.
    std::string target = path;
    struct stat lst {};
    if (::lstat(path.c_str(), &lst) == 0 && S_ISLNK(lst.st_mode)) {
        char resolved[PATH_MAX];
        if (::realpath(path.c_str(), resolved))
            target = resolved;
    }

    // Keep the mode of an existing file; a new one gets 0666 less the umask.
    mode_t mode = 0666;
    struct stat st {};
    bool existed = ::stat(target.c_str(), &st) == 0;
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
