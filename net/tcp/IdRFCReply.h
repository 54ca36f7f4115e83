#pragma once

// The reply of a numeric line protocol: a three-digit code and the reply's text lines, as in
// "250-first line" ... "250 last line".
//
// NumericCode and TextCode mirror each other: a non-empty TextCode also sets NumericCode to its integer value
// (0 when it is not a number), and a NumericCode above 0 also sets TextCode to its decimal text.

#include <cstdint>
#include <string>

#include "platform/Classes.h"

class TIdRFCReply {
public:
    int32_t NumericCode() const { return numericCode_; }
    void SetNumericCode(int32_t code);
    const std::string& TextCode() const { return textCode_; }
    void SetTextCode(const std::string& code);
    TStringList& Text() { return text_; }
    const TStringList& Text() const { return text_; }

    void Clear();
    // Takes the code from the first four characters of the first line (trimmed, a trailing "-" removed) and
    // the text of every line from its fifth character on.
    // Example: {"250-Hello", "250 Done"} gives code 250 and the text lines "Hello", "Done".
    void ParseLines(const TStringList& lines);
    // The text lines joined by CR LF, without a trailing line break.
    std::string JoinedText() const;

private:
    int32_t numericCode_ = 0;
    std::string textCode_;
    TStringList text_;
};
