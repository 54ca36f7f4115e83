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

// Growable stream in memory. Memory() stays valid until the next write or
// SetSize; capacity grows geometrically so appends are amortised O(1).
class TMemoryStream : public TStream {
public:
    int64_t Read(void* buffer, int64_t count) override;
    int64_t Write(const void* buffer, int64_t count) override;
    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_; }
    void SetSize(int64_t newSize) override;

    char* Memory() { return data_.data(); }
    const char* Memory() const { return data_.data(); }
    void Clear();
    void LoadFromFile(const std::string& path);
    void SaveToFile(const std::string& path);

protected:
    void Reserve(int64_t capacity);

    std::vector<char> data_; // capacity; only the first size_ bytes are content
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
