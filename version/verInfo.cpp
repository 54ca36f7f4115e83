#include "version/verInfo.h"

#include <bit>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>

#include <elf.h>
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

// Files are read as 64-bit little-endian ELF straight into the system's structures.
static_assert(std::endian::native == std::endian::little, "ELF structures are read in host byte order");
// A version note section holds a few dozen bytes; a larger one is not ours.
constexpr uint64_t kMaxNoteSectionSize = 64 * 1024;

uint32_t Word(const unsigned char* p)
{
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Read-only access to a file in which every read is checked against the
// file's size, so damaged offsets and sizes cannot reach outside it.
class TBoundedFile {
public:
    explicit TBoundedFile(const std::string& path) : fd_(::open(path.c_str(), O_RDONLY | O_CLOEXEC))
    {
        struct stat st {};
        if (fd_ >= 0 && ::fstat(fd_, &st) == 0 && S_ISREG(st.st_mode)) size_ = static_cast<uint64_t>(st.st_size);
    }
    ~TBoundedFile()
    {
        if (fd_ >= 0) ::close(fd_);
    }
    TBoundedFile(const TBoundedFile&) = delete;
    TBoundedFile& operator=(const TBoundedFile&) = delete;

    uint64_t Size() const { return size_; }

    bool Read(uint64_t offset, uint64_t length, void* destination) const
    {
        if (offset > size_ || length > size_ - offset) return false;
        auto* out = static_cast<unsigned char*>(destination);
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

std::optional<Elf64_Shdr> ReadSectionHeader(const TBoundedFile& file, uint64_t tableOffset, uint64_t entrySize,
                                            uint64_t index)
{
    Elf64_Shdr h{};
    if (!file.Read(tableOffset + index * entrySize, sizeof h, &h)) return std::nullopt;
    return h;
}

// Walks the notes of one section for the version note.
std::optional<VersionWords> FindVersionNote(const std::vector<unsigned char>& data)
{
    const std::size_t ownerSize = sizeof version_record::kOwner;
    std::size_t pos = 0;
    while (data.size() - pos >= sizeof(Elf64_Nhdr)) {
        Elf64_Nhdr note;
        std::memcpy(&note, &data[pos], sizeof note);
        const uint64_t nameSize = note.n_namesz;
        const uint64_t descSize = note.n_descsz;
        const uint64_t type = note.n_type;
        const uint64_t nameStart = pos + sizeof note;
        const uint64_t descStart = nameStart + ((nameSize + 3) & ~uint64_t{3});
        const uint64_t next = descStart + ((descSize + 3) & ~uint64_t{3});
        if (descStart > data.size() || descSize > data.size() - descStart) return std::nullopt;
        if (nameSize == ownerSize && type == version_record::kNoteType && descSize >= version_record::kDescSize &&
            std::memcmp(&data[nameStart], version_record::kOwner, ownerSize) == 0) {
            return VersionWords{Word(&data[descStart]), Word(&data[descStart + 4])};
        }
        if (next > data.size()) return std::nullopt;
        pos = static_cast<std::size_t>(next);
    }
    return std::nullopt;
}

bool HasName(const TBoundedFile& file, const Elf64_Shdr& names, uint32_t nameOffset, std::string_view wanted)
{
    // The wanted name plus its terminating NUL must lie inside the name table.
    if (nameOffset > names.sh_size || wanted.size() + 1 > names.sh_size - nameOffset) return false;
    std::vector<unsigned char> buf(wanted.size() + 1);
    if (!file.Read(names.sh_offset + nameOffset, buf.size(), buf.data())) return false;
    return buf.back() == '\0' && std::memcmp(buf.data(), wanted.data(), wanted.size()) == 0;
}

// Locates the version record in a 64-bit little-endian ELF file by the name of
// its section.
std::optional<VersionWords> ReadVersionWords(const std::string& path)
{
    const TBoundedFile file(path);
    Elf64_Ehdr eh{};
    if (!file.Read(0, sizeof eh, &eh)) return std::nullopt;
    if (std::memcmp(eh.e_ident, ELFMAG, SELFMAG) != 0 || eh.e_ident[EI_CLASS] != ELFCLASS64 ||
        eh.e_ident[EI_DATA] != ELFDATA2LSB) {
        return std::nullopt;
    }

    const uint64_t tableOffset = eh.e_shoff;
    const uint64_t entrySize = eh.e_shentsize;
    uint64_t count = eh.e_shnum;
    uint64_t namesIndex = eh.e_shstrndx;
    if (tableOffset == 0 || entrySize < sizeof(Elf64_Shdr)) return std::nullopt;

    // Files with very many sections keep the real count and name-table index
    // in section 0.
    const std::optional<Elf64_Shdr> first = ReadSectionHeader(file, tableOffset, entrySize, 0);
    if (!first) return std::nullopt;
    if (count == 0) count = first->sh_size;
    if (namesIndex == SHN_XINDEX) namesIndex = first->sh_link;
    if (tableOffset > file.Size() || count > (file.Size() - tableOffset) / entrySize) return std::nullopt;
    if (namesIndex >= count) return std::nullopt;

    const std::optional<Elf64_Shdr> names = ReadSectionHeader(file, tableOffset, entrySize, namesIndex);
    if (!names || names->sh_type == SHT_NOBITS) return std::nullopt;
    if (names->sh_offset > file.Size() || names->sh_size > file.Size() - names->sh_offset) return std::nullopt;

    for (uint64_t i = 1; i < count; ++i) {
        const std::optional<Elf64_Shdr> s = ReadSectionHeader(file, tableOffset, entrySize, i);
        if (!s || s->sh_type == SHT_NOBITS || !HasName(file, *names, s->sh_name, version_record::kSectionName)) {
            continue;
        }
        if (s->sh_size > kMaxNoteSectionSize) return std::nullopt;
        std::vector<unsigned char> data(static_cast<std::size_t>(s->sh_size));
        if (!file.Read(s->sh_offset, s->sh_size, data.data())) return std::nullopt;
        return FindVersionNote(data);
    }
    return std::nullopt;
}

std::string OwnExecutable()
{
    std::vector<char> buf(4096);
    for (;;) {
        const ssize_t n = ::readlink("/proc/self/exe", buf.data(), buf.size());
        if (n < 0) return {};
        if (static_cast<std::size_t>(n) < buf.size()) return std::string(buf.data(), static_cast<std::size_t>(n));
        buf.resize(buf.size() * 2);
    }
}

} // namespace

TversionInfo::TversionInfo(bool hasOwner)
{
    if (hasOwner) {
        FileName = OwnExecutable();
        ReadVersion();
    } else {
        ClearVersion();
    }
}

TversionInfo TversionInfo::FromFile(const std::string& fileName)
{
    TversionInfo info;
    info.FileName = fileName;
    info.ReadVersion();
    return info;
}

std::string TversionInfo::GetVersionText() const
{
    if (!Valid) return "-";
    return std::to_string(Major) + "." + std::to_string(Minor) + "." + std::to_string(Release) + "." +
           std::to_string(Build);
}

void TversionInfo::ReadVersion()
{
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

void TversionInfo::ClearVersion()
{
    Major = Minor = Release = Build = 0;
    Valid = false;
}
