#pragma once

// Byte buffers of the buffered connection.
//
// TIdSimpleBuffer is a growable memory stream that can give up bytes from its front: TakeText and Discard
// remove the first n bytes and report the count through BytesRemovedHook. The connection uses it for the bytes
// of one receive and for pending writes.
//
// TIdManagedBuffer is the input queue. Removing bytes from the front of a plain buffer moves the rest each
// time, which makes reading many short lines quadratic; the managed buffer instead only counts the consumed
// prefix (ConsumedCount) and moves the remaining bytes to the front once CompactThreshold consumed bytes have
// piled up. The stream it shows starts after the consumed prefix: position 0 is the first unconsumed byte and
// Size() is the number of unconsumed bytes. Appending never compacts.
//
// Both belong to one connection and are used by one thread at a time. Sizes and counts are bytes.

#include <cstdint>
#include <functional>
#include <string>

#include "platform/Classes.h"

class TIdSimpleBuffer : public TMemoryStream {
public:
    // Receives the buffer and the number of bytes that just left its front. The closure carries whatever
    // context the owner needs.
    using TBytesRemovedHook = std::function<void(TIdSimpleBuffer& buffer, int64_t count)>;

    TBytesRemovedHook BytesRemovedHook;

    // Removes the first n bytes and returns them. Raises EIdNotEnoughDataInBuffer when fewer are held.
    virtual std::string TakeText(int64_t n);
    // Removes the first n bytes. Raises EIdNotEnoughDataInBuffer when fewer are held.
    virtual void Discard(int64_t n);

    // The first byte of the content (what TakeText would return first).
    virtual char* DataStart() { return Memory(); }

    // Appends n bytes at the end; the position ends up behind them.
    void Append(const void* data, int64_t n);
    // Room for n more bytes behind the content, without zeroing it: receive into the returned memory, then
    // CommitTail with the count that arrived. Nothing else may touch the buffer in between.
    char* ReserveTail(int64_t n);
    void CommitTail(int64_t n);

protected:
    void FireBytesRemoved(int64_t n);
};

class TIdManagedBuffer : public TIdSimpleBuffer {
public:
    static constexpr int64_t kDefaultCompactThreshold = 32768;

    int64_t ConsumedCount() const { return consumed_; }
    int64_t CompactThreshold() const { return compactThreshold_; }
    void SetCompactThreshold(int64_t value) { compactThreshold_ = value; }

    int64_t Seek(int64_t offset, TSeekOrigin origin) override;
    int64_t Size() override { return size_ - consumed_; }
    void SetSize(int64_t newSize) override;
    // Empties the buffer and gives its memory back.
    void Clear();

    void Discard(int64_t n) override;
    char* DataStart() override { return Memory() + consumed_; }

private:
    void Compact();

    int64_t consumed_ = 0;
    int64_t compactThreshold_ = kDefaultCompactThreshold;
};
