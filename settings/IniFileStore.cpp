#include "settings/IniFileStore.h"

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdlib>

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/FileUtil.h"
#include "platform/TextUtil.h"
#include "settings/IniFile.h"

namespace ini_store {
namespace {

constexpr std::string_view kUtf8Bom = "\xEF\xBB\xBF";
constexpr std::string_view kUtf16LEBom = "\xFF\xFE";
constexpr std::string_view kUtf16BEBom = "\xFE\xFF";
constexpr std::string_view kTempSuffix = ".tmp";

bool IsEscapedByte(char32_t c)
{
    return c >= TIniFile::kEscapedByteBase + 0x80 && c <= TIniFile::kEscapedByteBase + 0xFF;
}
void AppendUnit(std::string& out, char16_t unit, bool bigEndian)
{
    const char high = static_cast<char>(unit >> 8), low = static_cast<char>(unit & 0xFF);
    out += bigEndian ? high : low;
    out += bigEndian ? low : high;
}

void AppendUtf16(std::string& out, char32_t c, bool bigEndian)
{
    if (c < 0x10000) return AppendUnit(out, static_cast<char16_t>(c), bigEndian);
    c -= 0x10000;
    AppendUnit(out, static_cast<char16_t>(0xD800 + (c >> 10)), bigEndian);
    AppendUnit(out, static_cast<char16_t>(0xDC00 + (c & 0x3FF)), bigEndian);
}

bool IsSurrogate(char32_t u, char32_t first) { return u >= first && u < first + 0x400; }

std::string DecodeUtf16(std::string_view body, bool bigEndian)
{
    std::string out;
    out.reserve(body.size());
    auto unitAt = [&](std::size_t i) -> char32_t {
        const auto a = static_cast<unsigned char>(body[i]), b = static_cast<unsigned char>(body[i + 1]);
        return bigEndian ? (a << 8 | b) : (b << 8 | a);
    };
    const std::size_t units = body.size() / 2;
    for (std::size_t k = 0; k < units; ++k) {
        char32_t c = unitAt(2 * k);
        if (IsSurrogate(c, 0xD800) && k + 1 < units && IsSurrogate(unitAt(2 * k + 2), 0xDC00)) {
            c = 0x10000 + ((c - 0xD800) << 10) + (unitAt(2 * k + 2) - 0xDC00);
            ++k;
        }
        AppendSettingPoint(out, c); // a lone surrogate too, in its three-byte form
    }
    return out;
}

// The three-byte form of a lone surrogate that DecodeUtf16 produces.
bool LoneSurrogateAt(std::string_view text, std::size_t pos, char32_t& unit)
{
    if (pos + 3 > text.size() || static_cast<unsigned char>(text[pos]) != 0xED) return false;
    const auto b1 = static_cast<unsigned char>(text[pos + 1]), b2 = static_cast<unsigned char>(text[pos + 2]);
    if ((b1 & 0xE0) != 0xA0 || (b2 & 0xC0) != 0x80) return false;
    unit = 0xD000 | (b1 & 0x3F) << 6 | (b2 & 0x3F);
    return true;
}

// Byte for byte the inverse of DecodeUtf16 on what it produces; any other
// byte that is no valid UTF-8 becomes its reserved code point.
std::string EncodeUtf16(std::string_view text, bool bigEndian)
{
    std::string out;
    out.reserve(text.size() * 2);
    for (std::size_t pos = 0; pos < text.size();) {
        char32_t c = 0, next = 0;
        std::size_t len = 3;
        // Two such forms in a row would pair up when read again.
        if (!LoneSurrogateAt(text, pos, c) ||
            (IsSurrogate(c, 0xD800) && LoneSurrogateAt(text, pos + 3, next) && IsSurrogate(next, 0xDC00)))
            len = NextSettingPoint(text, pos, c);
        AppendUtf16(out, c, bigEndian);
        pos += len;
    }
    return out;
}

bool WriteAll(int fd, const std::string& data)
{
    std::size_t done = 0;
    while (done < data.size()) {
        const ssize_t n = ::write(fd, data.data() + done, data.size() - done);
        if (n < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        done += static_cast<std::size_t>(n);
    }
    return true;
}

// A link is followed so that the file it names is replaced, not the link.
std::string ResolveTarget(const std::string& path)
{
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

std::string DirectoryOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseNameOf(const std::string& path)
{
    const std::size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

bool AllDigits(std::string_view s)
{
    if (s.empty() || s.size() > 18) return false;
    for (char c : s)
        if (c < '0' || c > '9') return false;
    return true;
}

// The process id in a temporary file name "<base>.<pid>.<count>.tmp" of
// target's base name, or 0 for any other name.
pid_t TempOwner(std::string_view name, std::string_view base)
{
    if (name.size() <= base.size() + 1 + kTempSuffix.size() || name.substr(0, base.size()) != base ||
        name[base.size()] != '.' || name.substr(name.size() - kTempSuffix.size()) != kTempSuffix)
        return 0;
    std::string_view middle = name.substr(base.size() + 1, name.size() - base.size() - 1 - kTempSuffix.size());
    const std::size_t dot = middle.find('.');
    if (dot == std::string_view::npos || !AllDigits(middle.substr(0, dot)) || !AllDigits(middle.substr(dot + 1)))
        return 0;
    const long long pid = std::atoll(std::string(middle.substr(0, dot)).c_str());
    return pid > 0 && pid <= 0x3FFFFFFF ? static_cast<pid_t>(pid) : 0;
}

// A save killed midway leaves its temporary file; once the process that
// wrote it is gone nobody will rename it, so it only takes room. A live
// process's file belongs to a save that may still finish.
void RemoveStaleTemps(const std::string& target)
{
    const std::string dir = DirectoryOf(target), base = BaseNameOf(target);
    DIR* d = ::opendir(dir.c_str());
    if (d == nullptr) return;
    while (const dirent* entry = ::readdir(d)) {
        const pid_t owner = TempOwner(entry->d_name, base);
        if (owner == 0 || owner == ::getpid()) continue;
        if (::kill(owner, 0) != 0 && errno == ESRCH) ::unlinkat(::dirfd(d), entry->d_name, 0);
    }
    ::closedir(d);
}

// Creates a new, uniquely named file beside target with the access mode of
// the file it will replace (or the usual mode for a new file); a private
// file loses the group's and others' permissions.
int CreateTempBeside(const std::string& target, bool privateMode, std::string& tempName)
{
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    const mode_t drop = privateMode ? 077 : 0;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName =
            target + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + std::string(kTempSuffix);
        // Created without the dropped permissions, so the content is never readable by others.
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666 & ~drop);
        if (fd >= 0) {
            if (exists) ::fchmod(fd, st.st_mode & 07777 & ~drop);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

void SyncDirectory(const std::string& dir)
{
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

} // namespace

std::size_t NextSettingPoint(std::string_view text, std::size_t pos, char32_t& c)
{
    const std::size_t len = Utf8SequenceLength(text, pos, c);
    if (len != 0 && !IsEscapedByte(c)) return len;
    c = TIniFile::kEscapedByteBase + static_cast<unsigned char>(text[pos]);
    return 1;
}

void AppendSettingPoint(std::string& out, char32_t c)
{
    if (IsEscapedByte(c)) {
        out += static_cast<char>(c - TIniFile::kEscapedByteBase);
    } else if (c < 0x80) {
        out += static_cast<char>(c);
    } else {
        const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
        constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
        out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
        for (int k = tail - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
    }
}

bool ReadSettingsFile(const std::string& path, std::string& bytes)
{
    bytes.clear();
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 && errno == ENOENT) return true;
    return ReadRegularFile(path, bytes, kMaxFileBytes);
}

std::string Decode(std::string_view bytes, TEncoding& encoding)
{
    encoding = TEncoding{};
    if (bytes.substr(0, kUtf8Bom.size()) == kUtf8Bom) {
        encoding.form = TEncoding::kUtf8Bom;
        return std::string(bytes.substr(kUtf8Bom.size()));
    }
    const bool le = bytes.substr(0, 2) == kUtf16LEBom, be = bytes.substr(0, 2) == kUtf16BEBom;
    if (!le && !be) return std::string(bytes);
    encoding.form = le ? TEncoding::kUtf16LE : TEncoding::kUtf16BE;
    std::string_view body = bytes.substr(2);
    if (body.size() % 2 != 0) {
        encoding.oddByte = std::string(body.substr(body.size() - 1));
        body.remove_suffix(1);
    }
    return DecodeUtf16(body, be);
}

std::string Encode(std::string_view text, const TEncoding& encoding)
{
    switch (encoding.form) {
    case TEncoding::kUtf8: return std::string(text);
    case TEncoding::kUtf8Bom: return std::string(kUtf8Bom) + std::string(text);
    case TEncoding::kUtf16LE: return std::string(kUtf16LEBom) + EncodeUtf16(text, false) + encoding.oddByte;
    case TEncoding::kUtf16BE: return std::string(kUtf16BEBom) + EncodeUtf16(text, true) + encoding.oddByte;
    }
    return std::string(text);
}

bool MakePrivate(const std::string& path)
{
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode) || (st.st_mode & 077) == 0) return false;
    return ::chmod(path.c_str(), st.st_mode & 07700) == 0;
}

bool ReplaceFile(const std::string& path, const std::string& content, bool privateMode)
{
    if (path.empty()) return false;
    const std::string target = ResolveTarget(path);
    // A read-only settings file stays as it is, although its directory would
    // allow replacing it.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) return false;
    RemoveStaleTemps(target);
    std::string tempName;
    const int fd = CreateTempBeside(target, privateMode, tempName);
    if (fd < 0) return false;
    bool ok = WriteAll(fd, content) && ::fsync(fd) == 0;
    ok = ::close(fd) == 0 && ok;
    ok = ok && ::rename(tempName.c_str(), target.c_str()) == 0;
    if (!ok) {
        ::unlink(tempName.c_str());
        return false;
    }
    SyncDirectory(DirectoryOf(target));
    return true;
}

} // namespace ini_store
