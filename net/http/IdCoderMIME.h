#pragma once

// Base64 encoding (RFC 4648 section 4, the alphabet of RFC 2045) as one
// unbroken line: no line breaks however long the input.
// Plain objects without shared state; safe on any thread.

#include <cstdint>
#include <string>

#include "net/tcp/IdException.h"
#include "platform/Classes.h"

// Base of the encoders: turn bytes of a stream into text.
class TIdEncoder {
public:
    // Count meaning "every byte left in the stream".
    static constexpr int64_t kAll = -1;

    virtual ~TIdEncoder() = default;
    // Encodes the smaller of count and the bytes left in source, from its
    // position on. A count other than kAll must be a multiple of 3, else
    // EIdException "Uneven size in Encode.".
    virtual std::string Encode(TStream& source, int64_t count = kAll) = 0;
};

// Every 3 bytes become 4 characters of CodingTable, high bits first; a last
// group of 2 or 1 bytes is padded with one or two FillChar.
class TIdEncoder3to4 : public TIdEncoder {
public:
    std::string Encode(TStream& source, int64_t count = kAll) override;
    // Encodes a whole byte string.
    std::string EncodeBytes(const std::string& bytes) const;

    const std::string& CodingTable() const { return codingTable_; }
    char FillChar() const { return fillChar_; }

protected:
    // table: 64 characters.
    TIdEncoder3to4(const std::string& table, char fill) : codingTable_(table), fillChar_(fill) {}

private:
    std::string codingTable_;
    char fillChar_;
};

// Standard Base64 with "=" padding.
// Example: EncodeText("foobar") == "Zm9vYmFy", EncodeText("f") == "Zg==".
class TIdEncoderMIME : public TIdEncoder3to4 {
public:
    TIdEncoderMIME();
    static std::string EncodeText(const std::string& text);
};
