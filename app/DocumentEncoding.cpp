// Finding a local file's encoding and turning its bytes into UTF-8.
#include "app/DocumentEncoding.h"

#include "platform/TextUtil.h"

#include <algorithm>
#include <cerrno>
#include <iconv.h>
#include <memory>
#include <uchardet.h>

namespace {

// The detector reads this much: enough for any real document, and a 10 MB
// file is not read twice over.
constexpr std::size_t kDetectorSample = std::size_t{256} << 10;

bool StartsWith(std::string_view s, std::string_view prefix) { return s.substr(0, prefix.size()) == prefix; }

bool IsAscii(std::string_view bytes)
{
    return std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; });
}

bool IsUtf8(std::string_view bytes)
{
    for (std::size_t i = 0; i < bytes.size();) {
        if (static_cast<unsigned char>(bytes[i]) < 0x80) {
            ++i;
            continue;
        }
        const std::size_t length = Utf8SequenceLength(bytes, i);
        if (length == 0) return false;
        i += length;
    }
    return true;
}

// Converts the whole text, or fails at the first byte the encoding does not allow.
bool Convert(const char* from, std::string_view bytes, std::string& out)
{
    iconv_t cd = iconv_open("UTF-8", from);
    if (cd == iconv_t(-1)) return false;
    const std::unique_ptr<void, int (*)(iconv_t)> closer(cd, iconv_close);
    // Every encoding here takes at most three UTF-8 bytes per input byte.
    out.assign(bytes.size() * 3 + 16, '\0');
    char* in = const_cast<char*>(bytes.data());
    std::size_t inLeft = bytes.size();
    char* to = out.data();
    std::size_t toLeft = out.size();
    if (iconv(cd, &in, &inLeft, &to, &toLeft) == std::size_t(-1) ||
        iconv(cd, nullptr, nullptr, &to, &toLeft) == std::size_t(-1)) {
        out.clear();
        return false;
    }
    out.resize(out.size() - toLeft);
    return true;
}

std::string Latin1ToUtf8(std::string_view bytes)
{
    std::string out;
    out.reserve(bytes.size() + bytes.size() / 8);
    for (char c : bytes) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x80) {
            out += c;
        } else {
            out += char(0xC0 | (byte >> 6));
            out += char(0x80 | (byte & 0x3F));
        }
    }
    return out;
}

std::string Detect(std::string_view bytes)
{
    const std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> detector(uchardet_new(),
                                                                                            uchardet_delete);
    const std::string_view sample = bytes.substr(0, kDetectorSample);
    if (uchardet_handle_data(detector.get(), sample.data(), sample.size()) != 0) return {};
    uchardet_data_end(detector.get());
    return uchardet_get_charset(detector.get());
}

} // namespace

TDecodedText DecodeLocalText(std::string_view bytes)
{
    TDecodedText result;
    if (StartsWith(bytes, "\xEF\xBB\xBF")) return {"UTF-8", std::string(bytes)};
    // The mark goes with the conversion: the text starts after it.
    if (StartsWith(bytes, "\xFF\xFE") && Convert("UTF-16LE", bytes.substr(2), result.Utf8)) {
        result.Encoding = "UTF-16LE";
        return result;
    }
    if (StartsWith(bytes, "\xFE\xFF") && Convert("UTF-16BE", bytes.substr(2), result.Utf8)) {
        result.Encoding = "UTF-16BE";
        return result;
    }
    if (IsAscii(bytes)) {
        // Japanese mail and news text stays in seven bits, switched by escapes.
        if (bytes.find("\x1B$B") != std::string_view::npos || bytes.find("\x1B$@") != std::string_view::npos) {
            if (Convert("ISO-2022-JP", bytes, result.Utf8)) {
                result.Encoding = "ISO-2022-JP";
                return result;
            }
        }
        return {"ASCII", std::string(bytes)};
    }
    if (IsUtf8(bytes)) return {"UTF-8", std::string(bytes)};
    const std::string detected = Detect(bytes);
    if (detected == "UTF-8") return {"UTF-8", std::string(bytes)};
    // Shift_JIS files from the program's old platform use its vendor characters too.
    if (detected == "SHIFT_JIS" && Convert("CP932", bytes, result.Utf8)) {
        result.Encoding = "Shift_JIS";
        return result;
    }
    if (detected == "EUC-JP" && Convert("EUC-JP", bytes, result.Utf8)) {
        result.Encoding = "EUC-JP";
        return result;
    }
    return {"ISO-8859-1", Latin1ToUtf8(bytes)};
}

bool IsNotableEncoding(const std::string& encoding) { return encoding != "UTF-8" && encoding != "ASCII"; }
