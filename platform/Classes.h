// The runtime's list and stream classes that the layers above share:
// an ordered list of strings and byte streams over memory and files.
// Positions and sizes are byte counts (64-bit). Not thread-safe: each object
// belongs to one thread at a time.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

// Ordered list of strings. IndexOf ignores the case of ASCII letters.
class TStringList {
public:
    int Count() const { return int(items_.size()); }
    const std::string& operator[](int index) const { return items_.at(size_t(index)); }
    std::string& operator[](int index) { return items_.at(size_t(index)); }
    const std::string& Strings(int index) const { return items_.at(size_t(index)); }

    int Add(const std::string& text);
    void Insert(int index, const std::string& text);
    void Delete(int index);
    void Clear() { items_.clear(); }
    int IndexOf(const std::string& text) const;

    // The lines joined with CR LF after each; SetText splits on CR LF, CR or LF.
    std::string Text() const;
    void SetText(const std::string& text);

    auto begin() const { return items_.begin(); }
    auto end() const { return items_.end(); }

private:
    std::vector<std::string> items_;
};

class EStreamError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EWriteError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};
// "ファイル <path> を開けません。" with the system's reason for error (none for 0).
EFOpenError OpenError(const std::string& path, int error);
class EFCreateError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

// A byte stream with a position. Read and Write move as many bytes as they
// can and return the count; ReadBuffer and WriteBuffer insist on all of them.
class TStream {
public:
    virtual ~TStream() = default;

    virtual int64_t Read(void* buffer, int64_t count) = 0;
    virtual int64_t Write(const void* buffer, int64_t count) = 0;
    virtual int64_t Seek(int64_t offset, TSeekOrigin origin) = 0;
    virtual int64_t Size();
    virtual void SetSize(int64_t newSize) = 0;

    int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(int64_t position) { Seek(position, TSeekOrigin::soBeginning); }

    void ReadBuffer(void* buffer, int64_t count);
    void WriteBuffer(const void* buffer, int64_t count);
    // Copies count bytes from source's position; a count of 0 copies the
    // whole source from its start. Returns the number of bytes copied.
    int64_t CopyFrom(TStream& source, int64_t count);
};

// The bytes of a memory stream. Small blocks live on the heap; from kMappedFrom bytes on a block is mapped
// pages, which the kernel grows by moving page tables (the content is not copied, and the old and new block
// are never held at once) and which cost memory only once written. Bytes past what a caller wrote are not
// initialised. Move-only; one thread at a time.
class TByteBlock {
public:
    static constexpr int64_t kMappedFrom = 256 * 1024;

    TByteBlock() = default;
    ~TByteBlock() { Release(); }
    TByteBlock(TByteBlock&& other) noexcept;
    TByteBlock& operator=(TByteBlock&& other) noexcept;
    TByteBlock(const TByteBlock&) = delete;
    TByteBlock& operator=(const TByteBlock&) = delete;

    char* Data() const { return data_; }
    int64_t Capacity() const { return capacity_; }
    // Room for at least capacity bytes; the first keep bytes survive. Raises std::bad_alloc.
    void Grow(int64_t capacity, int64_t keep);
    void Release();

private:
    char* data_ = nullptr;
    int64_t capacity_ = 0;
    bool mapped_ = false;
};

// Growable stream in memory. Memory() stays valid until the next write, SetSize or Reserve; capacity grows
// geometrically so appends are amortised O(1).
class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t newSize) override;

    char* Memory() { return data_.Data(); }
    const char* Memory() const { return data_.Data(); }
    void Clear();
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);

    // Writing in place, for a reader that fills the memory itself: Reserve room for at least capacity bytes
    // (exactly that much when it must grow; the room is not zeroed), fill Memory() + Position() up to
    // Capacity(), then Commit the count filled, which moves the position past it and grows the size to
    // cover it (a gap left by a seek past the end reads as zeros, as with Write).
    int64_t Capacity() const { return data_.Capacity(); }
    void Reserve(int64_t capacity);
    void Commit(int64_t count);

protected:
    // Room for at least capacity bytes, growing by half again at least.
    void Grow(int64_t capacity);

    TByteBlock data_; // capacity; only the first size_ bytes are content
    int64_t size_ = 0;
    int64_t position_ = 0;
};

enum TFileMode { fmOpenRead, fmOpenWrite, fmOpenReadWrite, fmCreate };

// Stream over an operating-system file; the descriptor is closed on destruction.
class TFileStream : public TStream {
public:
    TFileStream(const std::string& path, TFileMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    void SetSize(int64_t newSize) override;

    int Handle() const { return fd_; }
    const std::string& FileName() const { return path_; }

private:
    std::string path_;
    int fd_ = -1;
};
