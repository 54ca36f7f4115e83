#include "platform/FileUtil.h"

#include <algorithm>
#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

namespace {

// Owns one descriptor.
class TDescriptor {
public:
    explicit TDescriptor(int fd) : fd_(fd) {}
    ~TDescriptor()
    {
        // Closing keeps the reason the caller is told.
        const int error = errno;
        if (fd_ >= 0) ::close(fd_);
        errno = error;
    }
    TDescriptor(const TDescriptor&) = delete;
    TDescriptor& operator=(const TDescriptor&) = delete;
    int Get() const { return fd_; }

private:
    int fd_;
};

bool Refused()
{
    errno = 0;
    return false;
}

} // namespace

bool ReadRegularFile(const std::string& path, std::string& contents, std::size_t maxBytes)
{
    const TDescriptor file(::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (file.Get() < 0) return false;
    struct stat info {};
    if (::fstat(file.Get(), &info) != 0) return false;
    if (!S_ISREG(info.st_mode)) return Refused();

    std::string data;
    // The reported size is a hint only; one byte more tells the bound apart from a file that grew.
    if (info.st_size > 0) data.reserve(std::min<std::size_t>(std::size_t(info.st_size), maxBytes) + 1);
    char chunk[65536];
    for (;;) {
        const ssize_t got = ::read(file.Get(), chunk, sizeof chunk);
        if (got < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        if (got == 0) break;
        if (std::size_t(got) > maxBytes - data.size()) return Refused();
        data.append(chunk, std::size_t(got));
    }
    contents = std::move(data);
    return true;
}
