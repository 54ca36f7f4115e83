// Text helpers shared by every layer: the integer conversion, our own
// printf-like formatter and ASCII case helpers.
//
// Format never hands its format text to the C library: the URL format is
// typed by the user and must not be able to read arbitrary memory.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

// Base of our failures whose message is a byte string in its own right:
// Message() hands out all of it, a NUL byte included, where what() (kept for
// std::exception users) stops at the first NUL.
class EMessageError : public std::runtime_error {
public:
    explicit EMessageError(const std::string& message) : std::runtime_error(message), message_(message) {}
    const std::string& Message() const { return message_; }

private:
    std::string message_;
};

// The whole message of any failure: Message() for ours, what() for the rest.
std::string ExceptionMessage(const std::exception& failure);

// Raised for text that is not a number and for format strings that do not
// match their arguments. The message is shown to the user as it stands.
class EConvertError : public EMessageError {
public:
    using EMessageError::EMessageError;
};

// Converts text to a 32-bit integer.
// Accepts optional leading blanks, an optional sign, then decimal digits or a
// hexadecimal number with the prefix "$", "0x" or "0X"; nothing may follow.
// Hexadecimal values up to FFFFFFFF wrap into the negative range ("$FFFFFFFF" is -1).
// Example: StrToInt(" +12") == 12, StrToInt("0X1f") == 31.
// Throws EConvertError "'<text>' は整数ではありません" for anything else.
int32_t StrToInt(const std::string& text);
bool TryStrToInt(const std::string& text, int32_t& value);
int32_t StrToIntDef(const std::string& text, int32_t defaultValue);

std::string IntToStr(long long value);

// ASCII-only case mapping: bytes above 127 pass through untouched.
std::string UpperCase(const std::string& text);
std::string LowerCase(const std::string& text);
char UpperCaseChar(char c);
bool SameText(std::string_view a, std::string_view b);
int CompareText(std::string_view a, std::string_view b);

// 0 to 15 for a hexadecimal digit in either letter case, -1 for any other byte.
int HexValue(char c);

// One argument of Format.
class TFormatArg {
public:
    enum class Kind { Integer, Unsigned, Float, Text };

    template <typename T>
    requires(std::is_integral_v<T>&& std::is_signed_v<T> && !std::is_same_v<T, bool>) TFormatArg(T v)
        : kind_(Kind::Integer), int_(v)
    {}
    template <typename T>
    requires(std::is_integral_v<T>&& std::is_unsigned_v<T> && !std::is_same_v<T, bool>) TFormatArg(T v)
        : kind_(Kind::Unsigned), uint_(v)
    {}
    TFormatArg(bool v) : kind_(Kind::Integer), int_(v ? 1 : 0) {}
    TFormatArg(double v) : kind_(Kind::Float), float_(v) {}
    TFormatArg(const char* v) : kind_(Kind::Text), text_(v ? v : "") {}
    TFormatArg(std::string v) : kind_(Kind::Text), text_(std::move(v)) {}

    Kind kind() const { return kind_; }
    long long asInteger() const { return int_; }
    unsigned long long asUnsigned() const { return uint_; }
    double asFloat() const { return float_; }
    const std::string& asText() const { return text_; }

private:
    Kind kind_;
    long long int_ = 0;
    unsigned long long uint_ = 0;
    double float_ = 0;
    std::string text_;
};

// Formats like the classic runtime's Format: %[index:][-][width][.precision]type
// with the types d u x X e f g n s and %% for a percent sign; width and
// precision may be "*" (taken from the arguments). For d, u and x the
// precision is the minimum number of digits ("%4.4d" of 7 is "0007"); for s
// it is the maximum number of characters.
// Throws EConvertError "書式文字列 '<fmt>' は正しくないか引数の型と一致しません"
// for a bad specifier or a type mismatch, and
// "書式文字列 '<fmt>' の引数が見つかりません" when an argument is missing.
std::string FormatArgs(const std::string& format, const std::vector<TFormatArg>& args);

template <typename... Args>
std::string Format(const std::string& format, Args&&... args)
{
    return FormatArgs(format, std::vector<TFormatArg>{TFormatArg(std::forward<Args>(args))...});
}
