#include "settings/IniFile.h"

#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <string_view>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/SysUtils.h"

namespace {

constexpr std::string_view kBom = "\xEF\xBB\xBF";

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
    while (!s.empty() && IsBlank(s.front())) s.remove_prefix(1);
    while (!s.empty() && IsBlank(s.back())) s.remove_suffix(1);
    return s;
}

bool IsQuotePair(std::string_view s) {
    return s.size() >= 2 && (s.front() == '"' || s.front() == '\'') && s.back() == s.front();
}

// The section name of a "[name]" line; false for any other line.
bool SectionHeader(const std::string& line, std::string_view& name) {
    std::string_view s = Trim(line);
    if (s.empty() || s.front() != '[') return false;
    s.remove_prefix(1);
    name = Trim(s.substr(0, s.find(']')));
    return true;
}

// Splits a "key=value" line. Blank lines, comments and section headers are no
// key lines, nor is a line without '=' or with an empty key.
bool KeyLine(const std::string& line, std::string_view& key, std::string_view& rawValue) {
    std::string_view s = Trim(line);
    if (s.empty() || s.front() == ';' || s.front() == '#' || s.front() == '[') return false;
    const std::size_t eq = s.find('=');
    if (eq == std::string_view::npos) return false;
    key = Trim(s.substr(0, eq));
    rawValue = s.substr(eq + 1);
    return !key.empty();
}

std::string DecodeValue(std::string_view raw) {
    std::string_view v = Trim(raw);
    if (IsQuotePair(v)) v = v.substr(1, v.size() - 2);
    return std::string(v);
}

std::string EncodeValue(std::string value) {
    for (char& c : value)
        if (c == '\r' || c == '\n') c = ' ';
    const bool quote = !value.empty() && (IsBlank(value.front()) || IsBlank(value.back()) || IsQuotePair(value));
    return quote ? '"' + value + '"' : value;
}

// The longest prefix of s with at most maxChars UTF-8 characters. A byte that
// does not start a well-formed sequence counts as one character.
std::string Utf8Prefix(const std::string& s, std::size_t maxChars) {
    std::size_t pos = 0;
    for (std::size_t chars = 0; pos < s.size() && chars < maxChars; ++chars) {
        const auto c = static_cast<unsigned char>(s[pos]);
        std::size_t len = c < 0x80 ? 1 : (c >> 5) == 0x6 ? 2 : (c >> 4) == 0xE ? 3 : (c >> 3) == 0x1E ? 4 : 1;
        if (pos + len > s.size()) len = 1;
        for (std::size_t i = 1; i < len; ++i) {
            if ((static_cast<unsigned char>(s[pos + i]) & 0xC0) != 0x80) {
                len = 1;
                break;
            }
        }
        pos += len;
    }
    return s.substr(0, pos);
}

std::vector<std::string> SplitLines(std::string_view text) {
    std::vector<std::string> lines;
    std::size_t start = 0;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\r' && text[i] != '\n') continue;
        lines.emplace_back(text.substr(start, i - start));
        if (text[i] == '\r' && i + 1 < text.size() && text[i + 1] == '\n') ++i;
        start = i + 1;
    }
    if (start < text.size()) lines.emplace_back(text.substr(start));
    return lines;
}

// Reads the whole file. Returns false when it exists but cannot be read; a
// missing file reads as empty.
bool ReadWholeFile(const std::string& path, std::string& text) {
    text.clear();
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) return errno == ENOENT;
    char buf[16384];
    bool ok = true;
    for (;;) {
        const ssize_t n = ::read(fd, buf, sizeof buf);
        if (n > 0) {
            text.append(buf, static_cast<std::size_t>(n));
        } else if (n == 0) {
            break;
        } else if (errno != EINTR) {
            ok = false;
            break;
        }
    }
    ::close(fd);
    if (!ok) text.clear();
    return ok;
}

bool WriteAll(int fd, const std::string& data) {
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
std::string ResolveTarget(const std::string& path) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    char* real = ::realpath(path.c_str(), nullptr);
    if (real == nullptr) return path;
    std::string resolved(real);
    std::free(real);
    return resolved;
}

std::string DirectoryOf(const std::string& path) {
    const std::size_t slash = path.rfind('/');
    if (slash == std::string::npos) return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

// Creates a new, uniquely named file beside target with the access mode of
// the file it will replace (or the usual mode for a new file).
int CreateTempBeside(const std::string& target, std::string& tempName) {
    struct stat st {};
    const bool exists = ::stat(target.c_str(), &st) == 0;
    static std::atomic<unsigned> counter{0};
    for (int attempt = 0; attempt < 100; ++attempt) {
        tempName = target + "." + std::to_string(::getpid()) + "." + std::to_string(counter++) + ".tmp";
        const int fd = ::open(tempName.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (fd >= 0) {
            if (exists) ::fchmod(fd, st.st_mode & 07777);
            return fd;
        }
        if (errno != EEXIST) return -1;
    }
    return -1;
}

void SyncDirectory(const std::string& dir) {
    const int fd = ::open(dir.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return;
    ::fsync(fd);
    ::close(fd);
}

// Replaces path by a file holding content, all or nothing: the content goes to
// a temporary file that is synced before it is renamed over the target.
bool ReplaceFile(const std::string& path, const std::string& content) {
    if (path.empty()) return false;
    const std::string target = ResolveTarget(path);
    // A read-only settings file stays as it is, although its directory would
    // allow replacing it.
    if (::access(target.c_str(), F_OK) == 0 && ::access(target.c_str(), W_OK) != 0) return false;
    std::string tempName;
    const int fd = CreateTempBeside(target, tempName);
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

}  // namespace

TIniFile::TIniFile(const std::string& fileName) : fileName_(fileName) {
    std::string text;
    unreadable_ = !ReadWholeFile(fileName_, text);
    std::string_view body = text;
    if (body.substr(0, kBom.size()) == kBom) {
        hasBom_ = true;
        body.remove_prefix(kBom.size());
    }
    lines_ = SplitLines(body);
}

TIniFile::~TIniFile() {
    try {
        Flush();
    } catch (const std::exception&) {
        // Pending writes at this point mean an exception is unwinding past the
        // accessor (or UpdateFile already failed); that exception is the one
        // the caller must see, and a destructor may not throw.
    }
}

std::vector<TIniFile::Range> TIniFile::FindSections(const std::string& section) const {
    std::vector<Range> ranges;
    bool inside = false;
    for (std::size_t i = 0; i < lines_.size(); ++i) {
        std::string_view name;
        if (!SectionHeader(lines_[i], name)) continue;
        if (inside) ranges.back().end = i;
        inside = SameText(std::string(name), section);
        if (inside) ranges.push_back({i, lines_.size()});
    }
    return ranges;
}

std::size_t TIniFile::FindKey(const std::string& section, const std::string& key) const {
    for (const Range& r : FindSections(section)) {
        for (std::size_t i = r.header + 1; i < r.end; ++i) {
            std::string_view k, v;
            if (KeyLine(lines_[i], k, v) && SameText(std::string(k), key)) return i;
        }
    }
    return lines_.size();
}

std::string TIniFile::ReadString(const std::string& section, const std::string& key,
                                 const std::string& defaultValue) const {
    const std::size_t i = FindKey(section, key);
    if (i == lines_.size()) return Utf8Prefix(defaultValue, kMaxValueLength);
    std::string_view k, raw;
    KeyLine(lines_[i], k, raw);
    return Utf8Prefix(DecodeValue(raw), kMaxValueLength);
}

void TIniFile::WriteString(const std::string& section, const std::string& key, const std::string& value) {
    dirty_ = true;
    const std::size_t i = FindKey(section, key);
    if (i != lines_.size()) {
        std::string_view k, raw;
        KeyLine(lines_[i], k, raw);
        lines_[i] = std::string(k) + "=" + EncodeValue(value);
        return;
    }
    const std::string line = key + "=" + EncodeValue(value);
    const std::vector<Range> ranges = FindSections(section);
    if (ranges.empty()) {
        lines_.push_back("[" + section + "]");
        lines_.push_back(line);
        return;
    }
    // After the section's last non-blank line, so blank lines that separate
    // it from the next section stay in between.
    std::size_t at = ranges.front().end;
    while (at > ranges.front().header + 1 && Trim(lines_[at - 1]).empty()) --at;
    lines_.insert(lines_.begin() + static_cast<std::ptrdiff_t>(at), line);
}

int32_t TIniFile::ReadInteger(const std::string& section, const std::string& key, int32_t defaultValue) const {
    int32_t value = 0;
    return TryStrToInt(ReadString(section, key, ""), value) ? value : defaultValue;
}

void TIniFile::WriteInteger(const std::string& section, const std::string& key, int32_t value) {
    WriteString(section, key, IntToStr(value));
}

bool TIniFile::ReadBool(const std::string& section, const std::string& key, bool defaultValue) const {
    return ReadInteger(section, key, defaultValue ? 1 : 0) != 0;
}

void TIniFile::WriteBool(const std::string& section, const std::string& key, bool value) {
    WriteString(section, key, value ? "1" : "0");
}

void TIniFile::EraseSection(const std::string& section) {
    dirty_ = true;
    const std::vector<Range> ranges = FindSections(section);
    for (auto r = ranges.rbegin(); r != ranges.rend(); ++r)
        lines_.erase(lines_.begin() + static_cast<std::ptrdiff_t>(r->header),
                     lines_.begin() + static_cast<std::ptrdiff_t>(r->end));
}

bool TIniFile::SectionExists(const std::string& section) const { return !FindSections(section).empty(); }

bool TIniFile::ValueExists(const std::string& section, const std::string& key) const {
    return FindKey(section, key) != lines_.size();
}

void TIniFile::UpdateFile() { Flush(); }

void TIniFile::Flush() {
    if (!dirty_) return;
    std::string content(hasBom_ ? kBom : std::string_view());
    for (const std::string& line : lines_) {
        content += line;
        content += '\n';
    }
    // A file that exists but could not be read is not replaced by what little
    // this accessor knows of it.
    if (unreadable_ || !ReplaceFile(fileName_, content))
        throw EIniFileException(Format("%s に書き込めません", fileName_));
    dirty_ = false;
}
