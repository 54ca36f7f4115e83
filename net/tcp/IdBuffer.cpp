#include "net/tcp/IdBuffer.h"

#include <algorithm>
#include <cstring>

#include "net/tcp/IdException.h"

std::string TIdSimpleBuffer::TakeText(int64_t n)
{
    if (n > Size()) throw EIdNotEnoughDataInBuffer();
    std::string text(DataStart(), static_cast<size_t>(std::max<int64_t>(n, 0)));
    Discard(n);
    return text;
}

void TIdSimpleBuffer::Discard(int64_t n)
{
    if (n > Size()) throw EIdNotEnoughDataInBuffer();
    if (n <= 0) return;
    if (n == size_) {
        SetSize(0);
    } else {
        std::memmove(data_.Data(), data_.Data() + n, static_cast<size_t>(size_ - n));
        size_ -= n;
        position_ = std::max<int64_t>(position_ - n, 0);
    }
    FireBytesRemoved(n);
}

void TIdSimpleBuffer::Append(const void* data, int64_t n)
{
    if (n <= 0) return;
    std::memcpy(ReserveTail(n), data, static_cast<size_t>(n));
    CommitTail(n);
}

char* TIdSimpleBuffer::ReserveTail(int64_t n)
{
    Grow(size_ + n);
    return data_.Data() + size_;
}

void TIdSimpleBuffer::CommitTail(int64_t n)
{
    size_ += n;
    position_ = size_;
}

void TIdSimpleBuffer::FireBytesRemoved(int64_t n)
{
    if (BytesRemovedHook) BytesRemovedHook(*this, n);
}

int64_t TIdManagedBuffer::Seek(int64_t offset, TSeekOrigin origin)
{
    if (origin == TSeekOrigin::soBeginning) offset += consumed_;
    const int64_t absolute = TMemoryStream::Seek(offset, origin);
    if (absolute < consumed_) position_ = consumed_;
    return position_ - consumed_;
}

void TIdManagedBuffer::SetSize(int64_t newSize)
{
    if (newSize <= 0) {
        consumed_ = 0;
        TMemoryStream::SetSize(0);
        return;
    }
    TMemoryStream::SetSize(newSize + consumed_);
    position_ = std::max(position_, consumed_);
}

void TIdManagedBuffer::Clear()
{
    consumed_ = 0;
    TMemoryStream::Clear();
}

void TIdManagedBuffer::Discard(int64_t n)
{
    if (n > Size()) throw EIdNotEnoughDataInBuffer();
    if (n <= 0) return;
    if (n == Size()) {
        SetSize(0);
    } else {
        consumed_ += n;
        position_ = std::max(position_, consumed_);
        if (consumed_ >= compactThreshold_) Compact();
    }
    FireBytesRemoved(n);
}

void TIdManagedBuffer::Compact()
{
    std::memmove(data_.Data(), data_.Data() + consumed_, static_cast<size_t>(size_ - consumed_));
    size_ -= consumed_;
    position_ = std::max<int64_t>(position_ - consumed_, 0);
    consumed_ = 0;
}
