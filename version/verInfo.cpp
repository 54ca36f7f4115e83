#include "version/verInfo.h"

#include <array>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "version/VersionRecord.h"

namespace {

// The two file-version words, most significant first.
struct VersionWords {
    uint32_t mostSignificant;
    uint32_t leastSignificant;
};

// Offsets of the 64-bit ELF header and section header fields we use.
constexpr std::size_t kElfHeaderSize = 64;
constexpr std::size_t kShOffOffset = 0x28;
constexpr std::size_t kShEntSizeOffset = 0x3A;
constexpr std::size_t kShNumOffset = 0x3C;
constexpr std::size_t kShStrNdxOffset = 0x3E;
constexpr std::size_t kSectionHeaderSize = 64;
constexpr uint32_t kShtNoBits = 8;
constexpr uint16_t kShnXIndex = 0xFFFF;
// A version note section holds a few dozen bytes; a larger one is not ours.
constexpr uint64_t kMaxNoteSectionSize = 64 * 1024;

uint64_t Le(const unsigned char* p, int bytes) {
    uint64_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return v;
}

struct SectionHeader {
    uint32_t name;
    uint32_t type;
    uint64_t offset;
    uint64_t size;
    uint32_t link;
};

// Read-only access to a file in which every read is checked against the
// file's size, so damaged offsets and sizes cannot reach outside it.
class TBoundedFile {
public:
    explicit TBoundedFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC)) {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
    }
    ~TBoundedFile() {
        if (fd_ >= 0) ::close(fd_);
    }
    TBoundedFile(const TBoundedFile&) = delete;
    TBoundedFile& operator=(const TBoundedFile&) = delete;

    uint64_t Size() const { return size_; }

    bool Read(uint64_t offset, uint64_t length, unsigned char* out) const {
        if (offset > size_ || length > size_ - offset) return false;
        uint64_t done = 0;
        while (done < length) {
            const ssize_t n = ::pread(fd_, out + done, length - done, static_cast<off_t>(offset + done));
            if (n <= 0) return false;
            done += static_cast<uint64_t>(n);
        }
        return true;
    }

private:
    int fd_;
    uint64_t size_ = 0;
};

std::optional<SectionHeader> ReadSectionHeader(const TBoundedFile& file, uint64_t tableOffset, uint64_t entrySize,
                                               uint64_t index) {
    std::array<unsigned char, kSectionHeaderSize> h{};
    if (!file.Read(tableOffset + index * entrySize, h.size(), h.data())) return std::nullopt;
    return SectionHeader{static_cast<uint32_t>(Le(&h[0], 4)), static_cast<uint32_t>(Le(&h[4], 4)), Le(&h[24], 8),
                         Le(&h[32], 8), static_cast<uint32_t>(Le(&h[40], 4))};
}

// Walks the notes of one section for the version note.
std::optional<VersionWords> FindVersionNote(const std::vector<unsigned char>& data) {
    const std::size_t ownerSize = sizeof version_record::kOwner;
    std::size_t pos = 0;
    while (data.size() - pos >= 12) {
        const uint64_t nameSize = Le(&data[pos], 4);
        const uint64_t descSize = Le(&data[pos + 4], 4);
        const uint64_t type = Le(&data[pos + 8], 4);
        const uint64_t nameStart = pos + 12;
        const uint64_t descStart = nameStart + ((nameSize + 3) & ~uint64_t{3});
        const uint64_t next = descStart + ((descSize + 3) & ~uint64_t{3});
        if (descStart > data.size() || descSize > data.size() - descStart) return std::nullopt;
        if (nameSize == ownerSize && type == version_record::kNoteType &&
            descSize >= version_record::kDescSize &&
            std::memcmp(&data[nameStart], version_record::kOwner, ownerSize) == 0) {
            return VersionWords{static_cast<uint32_t>(Le(&data[descStart], 4)),
                                static_cast<uint32_t>(Le(&data[descStart + 4], 4))};
        }
        if (next > data.size()) return std::nullopt;
        pos = static_cast<std::size_t>(next);
    }
    return std::nullopt;
}

bool HasName(const TBoundedFile& file, const SectionHeader& names, uint32_t nameOffset, std::string_view wanted) {
    // The wanted name plus its terminating NUL must lie inside the name table.
    if (nameOffset > names.size || wanted.size() + 1 > names.size - nameOffset) return false;
    std::vector<unsigned char> buf(wanted.size() + 1);
    if (!file.Read(names.offset + nameOffset, buf.size(), buf.data())) return false;
    return buf.back() == '\0' && std::memcmp(buf.data(), wanted.data(), wanted.size()) == 0;
}

// Locates the version record in a 64-bit little-endian ELF file by the name of
// its section.
std::optional<VersionWords> ReadVersionWords(const std::string& path) {
    const TBoundedFile file(path);
    std::array<unsigned char, kElfHeaderSize> eh{};
    if (!file.Read(0, eh.size(), eh.data())) return std::nullopt;
    if (std::memcmp(eh.data(), "\x7F" "ELF", 4) != 0 || eh[4] != 2 || eh[5] != 1) return std::nullopt;

    const uint64_t tableOffset = Le(&eh[kShOffOffset], 8);
    const uint64_t entrySize = Le(&eh[kShEntSizeOffset], 2);
    uint64_t count = Le(&eh[kShNumOffset], 2);
    uint64_t namesIndex = Le(&eh[kShStrNdxOffset], 2);
    if (tableOffset == 0 || entrySize < kSectionHeaderSize) return std::nullopt;

    // Files with very many sections keep the real count and name-table index
    // in section 0.
    const std::optional<SectionHeader> first = ReadSectionHeader(file, tableOffset, entrySize, 0);
    if (!first) return std::nullopt;
    if (count == 0) count = first->size;
    if (namesIndex == kShnXIndex) namesIndex = first->link;
    if (tableOffset > file.Size() || count > (file.Size() - tableOffset) / entrySize) return std::nullopt;
    if (namesIndex >= count) return std::nullopt;

    const std::optional<SectionHeader> names = ReadSectionHeader(file, tableOffset, entrySize, namesIndex);
    if (!names || names->type == kShtNoBits) return std::nullopt;
    if (names->offset > file.Size() || names->size > file.Size() - names->offset) return std::nullopt;

    for (uint64_t i = 1; i < count; ++i) {
        const std::optional<SectionHeader> s = ReadSectionHeader(file, tableOffset, entrySize, i);
        if (!s || s->type == kShtNoBits || !HasName(file, *names, s->name, version_record::kSectionName)) continue;
        if (s->size > kMaxNoteSectionSize) return std::nullopt;
        std::vector<unsigned char> data(static_cast<std::size_t>(s->size));
        if (!file.Read(s->offset, s->size, data.data())) return std::nullopt;
        return FindVersionNote(data);
    }
    return std::nullopt;
}

std::string OwnExecutable() {
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<std::size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

}  // namespace

TversionInfo::TversionInfo(bool hasOwner) {
    if (hasOwner) {
        FileName = OwnExecutable();
        ReadVersion();
    } else {
        ClearVersion();
    }
}

TversionInfo TversionInfo::FromFile(const std::string& fileName) {
    TversionInfo info;
    info.FileName = fileName;
    info.ReadVersion();
    return info;
}

std::string TversionInfo::GetVersionText() const {
    if (!Valid) return "-";
    return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
           std::to_string(Build);
}

void TversionInfo::ReadVersion() {
    const std::optional<VersionWords> words = ReadVersionWords(FileName);
    if (!words) {
        ClearVersion();
        return;
    }
    Major = static_cast<uint16_t>(words->mostSignificant >> 16);
    Minor = static_cast<uint16_t>(words->mostSignificant & 0xFFFF);
    Release = static_cast<uint16_t>(words->leastSignificant >> 16);
    Build = static_cast<uint16_t>(words->leastSignificant & 0xFFFF);
    Valid = true;
}

void TversionInfo::ClearVersion() {
    Major = Minor = Release = Build = 0;
    Valid = false;
}
