#include "net/tcp/IdRFCReply.h"

#include "platform/SysUtils.h"
#include "platform/TextUtil.h"

void TIdRFCReply::SetNumericCode(int32_t code)
{
    numericCode_ = code;
    if (code > 0) textCode_ = IntToStr(code);
}

void TIdRFCReply::SetTextCode(const std::string& code)
{
    textCode_ = code;
    if (!code.empty()) numericCode_ = StrToIntDef(code, 0);
}

void TIdRFCReply::Clear()
{
    numericCode_ = 0;
    textCode_.clear();
    text_.Clear();
}

void TIdRFCReply::ParseLines(const TStringList& lines)
{
    Clear();
    if (lines.Count() == 0) return;
    std::string code(TrimBlanks(std::string_view(lines[0]).substr(0, 4)));
    if (!code.empty() && code.back() == '-') code.pop_back();
    SetTextCode(code);
    for (const std::string& line : lines) text_.Add(line.size() > 4 ? line.substr(4) : std::string());
}

std::string TIdRFCReply::JoinedText() const
{
    std::string joined;
    for (int i = 0; i < text_.Count(); ++i) {
        if (i > 0) joined += "\r\n";
        joined += text_[i];
    }
    return joined;
}
