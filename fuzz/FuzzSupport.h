#pragma once

// What the fuzz targets share: the check that ends a run, the comparison of
// texts that folding may have re-cut, and a stand-in transport that serves
// fixed bytes in chosen pieces.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "net/tcp/IdException.h"
#include "net/tcp/IdIOHandler.h"
#include "platform/TextUtil.h"

// A property that does not hold ends the run, so the fuzzer keeps the input.
inline void Check(bool condition)
{
    if (!condition) std::abort();
}

// Folding a long value and reading it back joins the pieces with single
// blanks: only blanks and commas may differ.
inline std::string Solid(const std::string& text)
{
    std::string solid;
    for (const char c : text) {
        if (!IsBlank(c) && c != ',') solid += c;
    }
    return solid;
}

// Serves the payload in the given piece sizes, taken in turn and over again
// (no sizes: all at once). A receive never returns more than it is asked for;
// the rest of a piece comes with the next receive. After the last byte every
// receive reports the close. Made open it serves a bare connection; made
// closed, its first connect opens it and a second one is refused.
class TPieceTransport : public TIdIOHandler {
public:
    TPieceTransport(std::string payload, std::vector<size_t> pieces, bool open = true)
        : payload_(std::move(payload)), pieces_(std::move(pieces)), open_(open)
    {}
    ~TPieceTransport() override { TPieceTransport::CloseTransport(); }

    void ConnectTransport(const std::string&, int32_t, const std::string&, int32_t, int32_t, int32_t,
                          const TIdDeadline&) override
    {
        if (connects_++ > 0) throw EIdConnectException("refused");
        open_ = true;
    }
    void CloseTransport() override { open_ = false; }
    bool IsOpen() override { return open_; }
    bool WaitReadable(const TIdDeadline&) override { return true; }
    int32_t ReceiveSome(void* buffer, int32_t length) override
    {
        if (offset_ == payload_.size()) return 0;
        if (pieceLeft_ == 0) {
            pieceLeft_ = pieces_.empty() ? payload_.size() : pieces_[pieceIndex_++ % pieces_.size()];
        }
        const size_t n = std::min({pieceLeft_, payload_.size() - offset_, static_cast<size_t>(length)});
        std::copy_n(payload_.data() + offset_, n, static_cast<char*>(buffer));
        offset_ += n;
        pieceLeft_ -= n;
        return static_cast<int32_t>(n);
    }
    int32_t SendSome(const void*, int32_t length) override { return length; }

private:
    std::string payload_;
    std::vector<size_t> pieces_;
    size_t offset_ = 0;
    size_t pieceIndex_ = 0;
    size_t pieceLeft_ = 0;
    int connects_ = 0;
    bool open_;
};
