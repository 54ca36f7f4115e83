#include "platform/Classes.h"

#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <new>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>

int TStringList::Add(const std::string& text)
{
    items_.push_back(text);
    return Count() - 1;
}

void TStringList::Insert(int index, const std::string& text)
{
    if (index < 0 || index > Count()) throw std::out_of_range(Format("List index out of bounds (%d)", index));
    items_.insert(items_.begin() + index, text);
}

void TStringList::Delete(int index)
{
    if (index < 0 || index >= Count()) throw std::out_of_range(Format("List index out of bounds (%d)", index));
    items_.erase(items_.begin() + index);
}

int TStringList::IndexOf(const std::string& text) const
{
    for (int i = 0; i < Count(); ++i)
        if (SameText(items_[size_t(i)], text)) return i;
    return -1;
}

std::string TStringList::Text() const
{
    std::string out;
    for (const auto& line : items_) {
        out += line;
        out += "\r\n";
    }
    return out;
}

void TStringList::SetText(const std::string& text)
{
    items_.clear();
    for (std::string_view line : SplitLines(text)) items_.emplace_back(line);
}

int64_t TStream::Size()
{
    int64_t here = Seek(0, TSeekOrigin::soCurrent);
    int64_t end = Seek(0, TSeekOrigin::soEnd);
    Seek(here, TSeekOrigin::soBeginning);
    return end;
}

void TStream::ReadBuffer(void* buffer, int64_t count)
{
    if (count > 0 && Read(buffer, count) != count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* buffer, int64_t count)
{
    if (count > 0 && Write(buffer, count) != count) throw EWriteError("Stream write error");
}

int64_t TStream::CopyFrom(TStream& source, int64_t count)
{
    if (count == 0) {
        source.SetPosition(0);
        count = source.Size();
    }
    const int64_t kChunk = 64 * 1024;
    std::vector<char> buffer(size_t(std::min(count, kChunk)) + 1);
    int64_t copied = 0;
    while (copied < count) {
        int64_t n = std::min(count - copied, kChunk);
        source.ReadBuffer(buffer.data(), n);
        WriteBuffer(buffer.data(), n);
        copied += n;
    }
    return copied;
}

int64_t TMemoryStream::Read(void* buffer, int64_t count)
{
    if (count <= 0 || position_ >= size_) return 0;
    int64_t n = std::min(count, size_ - position_);
    std::memcpy(buffer, data_.Data() + position_, size_t(n));
    position_ += n;
    return n;
}

TByteBlock::TByteBlock(TByteBlock&& other) noexcept
    : data_(std::exchange(other.data_, nullptr)), capacity_(std::exchange(other.capacity_, 0)),
      mapped_(std::exchange(other.mapped_, false))
{}

TByteBlock& TByteBlock::operator=(TByteBlock&& other) noexcept
{
    if (this != &other) {
        Release();
        data_ = std::exchange(other.data_, nullptr);
        capacity_ = std::exchange(other.capacity_, 0);
        mapped_ = std::exchange(other.mapped_, false);
    }
    return *this;
}

void TByteBlock::Grow(int64_t capacity, int64_t keep)
{
    if (capacity <= capacity_) return;
    if (capacity < kMappedFrom) {
        void* grown = std::realloc(data_, size_t(capacity));
        if (!grown) throw std::bad_alloc();
        data_ = static_cast<char*>(grown);
        capacity_ = capacity;
        return;
    }
    // The kernel rounds the lengths up to whole pages itself.
    void* grown = mapped_ ? mremap(data_, size_t(capacity_), size_t(capacity), MREMAP_MAYMOVE)
                          : mmap(nullptr, size_t(capacity), PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
    if (grown == MAP_FAILED) throw std::bad_alloc();
    if (!mapped_) {
        if (keep > 0) std::memcpy(grown, data_, size_t(keep));
        std::free(data_);
        mapped_ = true;
    }
    data_ = static_cast<char*>(grown);
    capacity_ = capacity;
}

void TByteBlock::Release()
{
    if (mapped_) {
        munmap(data_, size_t(capacity_));
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    capacity_ = 0;
    mapped_ = false;
}

void TMemoryStream::Grow(int64_t capacity)
{
    if (capacity <= data_.Capacity()) return;
    Reserve(std::max({capacity, data_.Capacity() + data_.Capacity() / 2, int64_t{256}}));
}

void TMemoryStream::Reserve(int64_t capacity) { data_.Grow(capacity, size_); }

void TMemoryStream::Commit(int64_t count)
{
    if (position_ > size_) std::memset(data_.Data() + size_, 0, size_t(position_ - size_));
    position_ += count;
    size_ = std::max(size_, position_);
}

int64_t TMemoryStream::Write(const void* buffer, int64_t count)
{
    if (count <= 0) return 0;
    Grow(position_ + count);
    std::memcpy(data_.Data() + position_, buffer, size_t(count));
    Commit(count);
    return count;
}

int64_t TMemoryStream::Seek(int64_t offset, TSeekOrigin origin)
{
    switch (origin) {
    case TSeekOrigin::soBeginning: position_ = offset; break;
    case TSeekOrigin::soCurrent: position_ += offset; break;
    case TSeekOrigin::soEnd: position_ = size_ + offset; break;
    }
    if (position_ < 0) position_ = 0;
    return position_;
}

void TMemoryStream::SetSize(int64_t newSize)
{
    if (newSize < 0) newSize = 0;
    // Exact size: pre-sizing for a known length should not over-allocate.
    Reserve(newSize);
    if (newSize > size_) std::memset(data_.Data() + size_, 0, size_t(newSize - size_));
    size_ = newSize;
    position_ = std::min(position_, size_);
}

void TMemoryStream::Clear()
{
    data_.Release();
    size_ = 0;
    position_ = 0;
}

void TMemoryStream::LoadFromFile(const std::string& path)
{
    TFileStream file(path, fmOpenRead);
    int64_t n = file.Size();
    SetSize(n);
    position_ = 0;
    file.ReadBuffer(data_.Data(), n);
}

void TMemoryStream::SaveToFile(const std::string& path)
{
    TFileStream file(path, fmCreate);
    file.WriteBuffer(data_.Data(), size_);
}

EFOpenError OpenError(const std::string& path, int error)
{
    return EFOpenError("ファイル " + path + " を開けません。" + (error != 0 ? std::strerror(error) : ""));
}

TFileStream::TFileStream(const std::string& path, TFileMode mode) : path_(path)
{
    int flags = O_CLOEXEC;
    switch (mode) {
    case fmOpenRead: flags |= O_RDONLY; break;
    case fmOpenWrite: flags |= O_WRONLY; break;
    case fmOpenReadWrite: flags |= O_RDWR; break;
    case fmCreate: flags |= O_RDWR | O_CREAT | O_TRUNC; break;
    }
    fd_ = ::open(path.c_str(), flags, 0644);
    if (fd_ < 0) {
        std::string reason = std::strerror(errno);
        if (mode == fmCreate) throw EFCreateError("ファイル " + path + " を作成できません。" + reason);
        throw OpenError(path, errno);
    }
    struct stat info {};
    if (::fstat(fd_, &info) == 0 && S_ISDIR(info.st_mode)) {
        ::close(fd_);
        fd_ = -1;
        throw OpenError(path, EISDIR);
    }
}

TFileStream::~TFileStream()
{
    if (fd_ >= 0) ::close(fd_);
}

int64_t TFileStream::Read(void* buffer, int64_t count)
{
    int64_t total = 0;
    char* out = static_cast<char*>(buffer);
    while (total < count) {
        ssize_t n = ::read(fd_, out + total, size_t(count - total));
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) throw EReadError(path_ + ": " + std::strerror(errno));
        if (n == 0) break;
        total += n;
    }
    return total;
}

int64_t TFileStream::Write(const void* buffer, int64_t count)
{
    int64_t total = 0;
    const char* in = static_cast<const char*>(buffer);
    while (total < count) {
        ssize_t n = ::write(fd_, in + total, size_t(count - total));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        total += n;
    }
    return total;
}

int64_t TFileStream::Seek(int64_t offset, TSeekOrigin origin)
{
    int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET : origin == TSeekOrigin::soCurrent ? SEEK_CUR : SEEK_END;
    off_t result = ::lseek(fd_, off_t(offset), whence);
    return result < 0 ? -1 : int64_t(result);
}

void TFileStream::SetSize(int64_t newSize)
{
    if (::ftruncate(fd_, off_t(newSize)) != 0) throw EWriteError(path_ + ": " + std::strerror(errno));
    if (Position() > newSize) SetPosition(newSize);
}
