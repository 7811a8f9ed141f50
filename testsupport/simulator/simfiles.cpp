#include "simfiles.h"

#include <cerrno>
#include <cstring>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace talvexsim {
namespace {

FileContents failure(int error, const std::string& what)
{
    FileContents result;
    result.error = error;
    result.message = what;
    return result;
}

}  // namespace

FileContents readWholeFile(const std::string& path, std::size_t maxBytes)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) {
        const int error = errno;
        return failure(error, std::strerror(error));
    }
    FileContents result;
    struct stat info {};
    if (::fstat(fd, &info) != 0) {
        const int error = errno;
        result = failure(error, std::strerror(error));
    } else if (!S_ISREG(info.st_mode)) {
        result = failure(EINVAL, "not a regular file");
    } else if (static_cast<std::uintmax_t>(info.st_size) > maxBytes) {
        result = failure(EFBIG, "file is too large (" + std::to_string(info.st_size) + " bytes)");
    } else {
        result.bytes.resize(static_cast<std::size_t>(info.st_size));
        std::size_t done = 0;
        while (done < result.bytes.size()) {
            const ssize_t n = ::read(fd, result.bytes.data() + done, result.bytes.size() - done);
            if (n < 0 && errno == EINTR)
                continue;
            if (n < 0) {
                const int error = errno;
                result = failure(error, std::strerror(error));
                break;
            }
            if (n == 0) {
                // Shrunk while we read it; what we have is what the file holds.
                result.bytes.resize(done);
                break;
            }
            done += static_cast<std::size_t>(n);
        }
    }
    ::close(fd);
    return result;
}

std::string writeFileAtomically(const std::string& path, std::span<const std::uint8_t> bytes)
{
    // The pid keeps two processes writing the same target from sharing a temp file.
    const std::string temp = path + ".tmp." + std::to_string(::getpid());
    const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0644);
    if (fd < 0)
        return "cannot create " + temp + ": " + std::strerror(errno);

    std::string error;
    if (!writeFully(fd, std::string_view(reinterpret_cast<const char *>(bytes.data()), bytes.size())))
        error = "cannot write " + temp + ": " + std::strerror(errno);
    if (::close(fd) != 0 && error.empty())
        error = "cannot write " + temp + ": " + std::strerror(errno);
    if (error.empty() && ::rename(temp.c_str(), path.c_str()) != 0)
        error = "cannot rename " + temp + " to " + path + ": " + std::strerror(errno);
    if (!error.empty())
        ::unlink(temp.c_str());
    return error;
}

bool writeFully(int fd, std::string_view bytes)
{
    while (!bytes.empty()) {
        const ssize_t n = ::write(fd, bytes.data(), bytes.size());
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        bytes.remove_prefix(static_cast<std::size_t>(n));
    }
    return true;
}

}  // namespace talvexsim
