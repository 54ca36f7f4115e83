#include "platform/SysUtils.h"

#include <cmath>
#include <cstdio>
#include <limits>

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

char ToLower(char c) { return (c >= 'A' && c <= 'Z') ? char(c - 'A' + 'a') : c; }

[[noreturn]] void ThrowBadFormat(const std::string& format)
{
    throw EConvertError("書式文字列 '" + format + "' は正しくないか引数の型と一致しません");
}

[[noreturn]] void ThrowMissingArgument(const std::string& format)
{
    throw EConvertError("書式文字列 '" + format + "' の引数が見つかりません");
}

std::string Pad(std::string text, int width, bool leftAlign)
{
    if (width > 0 && int(text.size()) < width) {
        std::string fill(size_t(width) - text.size(), ' ');
        text = leftAlign ? text + fill : fill + text;
    }
    return text;
}

std::string Digits(unsigned long long magnitude, unsigned base, bool upper)
{
    const char* set = upper ? "0123456789ABCDEF" : "0123456789abcdef";
    std::string out;
    do {
        out.insert(out.begin(), set[magnitude % base]);
        magnitude /= base;
    } while (magnitude != 0);
    return out;
}

std::string WithMinimumDigits(std::string digits, int precision)
{
    if (precision > int(digits.size())) digits.insert(0, size_t(precision) - digits.size(), '0');
    return digits;
}

// Floating-point conversions are the one place where the C library formats;
// the specifier handed to it is built here from validated parts only.
std::string FormatFloat(double value, char type, int precision)
{
    char spec[16];
    char conv = type == 'n' ? 'f' : type;
    if (precision < 0) precision = (type == 'e' || type == 'g') ? 15 : 2;
    if (precision > 100) precision = 100;
    std::snprintf(spec, sizeof spec, "%%.%d%c", precision, conv);
    char buffer[512];
    std::snprintf(buffer, sizeof buffer, spec, value);
    std::string out = buffer;
    if (type == 'n' && std::isfinite(value)) {
        // Thousands separators for the integral part.
        size_t start = out[0] == '-' ? 1 : 0;
        size_t dot = out.find('.');
        size_t end = dot == std::string::npos ? out.size() : dot;
        for (long i = long(end) - 3; i > long(start); i -= 3) out.insert(size_t(i), ",");
    }
    return out;
}

class TFormatter {
public:
    TFormatter(const std::string& format, const std::vector<TFormatArg>& args) : format_(format), args_(args) {}

    std::string Run()
    {
        std::string out;
        size_t i = 0;
        while (i < format_.size()) {
            char c = format_[i];
            if (c != '%') {
                out += c;
                ++i;
                continue;
            }
            ++i;
            if (i < format_.size() && format_[i] == '%') {
                out += '%';
                ++i;
                continue;
            }
            out += Specifier(i);
        }
        return out;
    }

private:
    const TFormatArg& NextArg()
    {
        if (next_ >= args_.size()) ThrowMissingArgument(format_);
        return args_[next_++];
    }

    // Reads digits or "*" at i; -1 when neither is there.
    int Number(size_t& i)
    {
        if (i < format_.size() && format_[i] == '*') {
            ++i;
            const TFormatArg& arg = NextArg();
            if (arg.kind() != TFormatArg::Kind::Integer) ThrowBadFormat(format_);
            return int(arg.asInteger());
        }
        if (i >= format_.size() || !IsDigit(format_[i])) return -1;
        long value = 0;
        while (i < format_.size() && IsDigit(format_[i])) {
            value = value * 10 + (format_[i] - '0');
            if (value > 100000) ThrowBadFormat(format_);
            ++i;
        }
        return int(value);
    }

    std::string Specifier(size_t& i)
    {
        // An optional argument index "n:" comes first.
        size_t save = i;
        int number = i < format_.size() && format_[i] != '*' ? Number(i) : -1;
        if (number >= 0 && i < format_.size() && format_[i] == ':') {
            next_ = size_t(number);
            ++i;
        } else {
            i = save;
        }
        bool leftAlign = false;
        if (i < format_.size() && format_[i] == '-') {
            leftAlign = true;
            ++i;
        }
        int width = Number(i);
        int precision = -1;
        if (i < format_.size() && format_[i] == '.') {
            ++i;
            precision = Number(i);
            if (precision < 0) ThrowBadFormat(format_);
        }
        if (i >= format_.size()) ThrowBadFormat(format_);
        char type = ToLower(format_[i]);
        bool upperHex = format_[i] == 'X';
        ++i;
        return Pad(Convert(type, upperHex, precision), width, leftAlign);
    }

    std::string Convert(char type, bool upperHex, int precision)
    {
        switch (type) {
        case 'd': {
            const TFormatArg& arg = NextArg();
            if (arg.kind() == TFormatArg::Kind::Integer) {
                long long v = arg.asInteger();
                unsigned long long magnitude = v < 0 ? 0ULL - (unsigned long long)v : (unsigned long long)v;
                return (v < 0 ? "-" : "") + WithMinimumDigits(Digits(magnitude, 10, false), precision);
            }
            if (arg.kind() == TFormatArg::Kind::Unsigned)
                return WithMinimumDigits(Digits(arg.asUnsigned(), 10, false), precision);
            ThrowBadFormat(format_);
        }
        case 'u':
        case 'x': {
            const TFormatArg& arg = NextArg();
            unsigned long long v;
            if (arg.kind() == TFormatArg::Kind::Unsigned)
                v = arg.asUnsigned();
            else if (arg.kind() == TFormatArg::Kind::Integer)
                v = (unsigned long long)(uint32_t)arg.asInteger();
            else
                ThrowBadFormat(format_);
            return WithMinimumDigits(Digits(v, type == 'x' ? 16 : 10, upperHex), precision);
        }
        case 'e':
        case 'f':
        case 'g':
        case 'n': {
            const TFormatArg& arg = NextArg();
            if (arg.kind() != TFormatArg::Kind::Float) ThrowBadFormat(format_);
            return FormatFloat(arg.asFloat(), type, precision);
        }
        case 's': {
            const TFormatArg& arg = NextArg();
            if (arg.kind() != TFormatArg::Kind::Text) ThrowBadFormat(format_);
            const std::string& text = arg.asText();
            if (precision >= 0 && size_t(precision) < text.size()) return text.substr(0, size_t(precision));
            return text;
        }
        default: ThrowBadFormat(format_);
        }
    }

    const std::string& format_;
    const std::vector<TFormatArg>& args_;
    size_t next_ = 0;
};

} // namespace

bool TryStrToInt(const std::string& text, int32_t& value)
{
    size_t i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) {
        negative = text[i] == '-';
        ++i;
    }
    unsigned base = 10;
    if (i < text.size() && text[i] == '$') {
        base = 16;
        ++i;
    } else if (i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
        base = 16;
        i += 2;
    }
    if (i >= text.size()) return false;
    // Hexadecimal covers the full 32 bits; decimal stops at the signed range.
    const unsigned long long limit = base == 16 ? 0xFFFFFFFFULL : (negative ? 0x80000000ULL : 0x7FFFFFFFULL);
    unsigned long long magnitude = 0;
    for (; i < text.size(); ++i) {
        int digit = base == 16 ? HexValue(text[i]) : (IsDigit(text[i]) ? text[i] - '0' : -1);
        if (digit < 0) return false;
        magnitude = magnitude * base + unsigned(digit);
        if (magnitude > limit) return false;
    }
    uint32_t bits = uint32_t(magnitude);
    if (negative) bits = 0U - bits;
    value = int32_t(bits);
    return true;
}

std::string ExceptionMessage(const std::exception& failure)
{
    if (const auto* ours = dynamic_cast<const EMessageError*>(&failure)) return ours->Message();
    return failure.what();
}

int32_t StrToInt(const std::string& text)
{
    int32_t value = 0;
    if (!TryStrToInt(text, value)) throw EConvertError("'" + text + "' は整数ではありません");
    return value;
}

int32_t StrToIntDef(const std::string& text, int32_t defaultValue)
{
    int32_t value = 0;
    return TryStrToInt(text, value) ? value : defaultValue;
}

std::string IntToStr(long long value) { return Format("%d", value); }

int HexValue(char c)
{
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

char UpperCaseChar(char c) { return (c >= 'a' && c <= 'z') ? char(c - 'a' + 'A') : c; }

std::string UpperCase(const std::string& text)
{
    std::string out = text;
    for (char& c : out) c = UpperCaseChar(c);
    return out;
}

std::string LowerCase(const std::string& text)
{
    std::string out = text;
    for (char& c : out) c = ToLower(c);
    return out;
}

int CompareText(std::string_view a, std::string_view b)
{
    size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        unsigned char x = (unsigned char)UpperCaseChar(a[i]);
        unsigned char y = (unsigned char)UpperCaseChar(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

bool SameText(std::string_view a, std::string_view b) { return a.size() == b.size() && CompareText(a, b) == 0; }

std::string FormatArgs(const std::string& format, const std::vector<TFormatArg>& args)
{
    return TFormatter(format, args).Run();
}
