#include "net/http/IdCoderMIME.h"

#include <algorithm>

namespace {

const char* const kBase64Table = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

} // namespace

std::string TIdEncoder3to4::EncodeBytes(const std::string& bytes) const
{
    std::string out;
    out.reserve((bytes.size() + 2) / 3 * 4);
    const auto* data = reinterpret_cast<const unsigned char*>(bytes.data());
    size_t i = 0;
    for (; i + 3 <= bytes.size(); i += 3) {
        const uint32_t group = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
        out += codingTable_[group >> 18 & 63];
        out += codingTable_[group >> 12 & 63];
        out += codingTable_[group >> 6 & 63];
        out += codingTable_[group & 63];
    }
    const size_t rest = bytes.size() - i;
    if (rest > 0) {
        const uint32_t group = uint32_t(data[i]) << 16 | (rest == 2 ? uint32_t(data[i + 1]) << 8 : 0);
        out += codingTable_[group >> 18 & 63];
        out += codingTable_[group >> 12 & 63];
        out += rest == 2 ? codingTable_[group >> 6 & 63] : fillChar_;
        out += fillChar_;
    }
    return out;
}

std::string TIdEncoder3to4::Encode(TStream& source, int64_t count)
{
    if (count != kAll && count % 3 != 0) throw EIdException("Uneven size in Encode.");
    const int64_t left = std::max<int64_t>(source.Size() - source.Position(), 0);
    const int64_t size = count == kAll ? left : std::min(std::max<int64_t>(count, 0), left);
    std::string bytes(size_t(size), '\0');
    source.ReadBuffer(bytes.data(), size);
    return EncodeBytes(bytes);
}

TIdEncoderMIME::TIdEncoderMIME() : TIdEncoder3to4(kBase64Table, '=') {}

std::string TIdEncoderMIME::EncodeText(const std::string& text) { return TIdEncoderMIME().EncodeBytes(text); }
