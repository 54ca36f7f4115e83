#include "settings/SettingText.h"

#include "platform/TextUtil.h"
#include "settings/IniFile.h"

namespace {

constexpr char32_t kFirstEscape = TIniFile::kEscapedByteBase + 0x80;
constexpr char32_t kLastEscape = TIniFile::kEscapedByteBase + 0xFF;

void AppendUtf8(std::string& out, char32_t c)
{
    if (c < 0x80) {
        out += static_cast<char>(c);
        return;
    }
    const int tail = c < 0x800 ? 1 : c < 0x10000 ? 2 : 3;
    constexpr unsigned char kLead[] = {0, 0xC0, 0xE0, 0xF0};
    out += static_cast<char>(kLead[tail] | (c >> (6 * tail)));
    for (int k = tail - 1; k >= 0; --k) out += static_cast<char>(0x80 | ((c >> (6 * k)) & 0x3F));
}

} // namespace

QString SettingToText(std::string_view bytes)
{
    std::u32string points;
    points.reserve(bytes.size());
    for (std::size_t pos = 0; pos < bytes.size();) {
        char32_t c = 0;
        const std::size_t len = Utf8SequenceLength(bytes, pos, c);
        if (len != 0 && (c < kFirstEscape || c > kLastEscape)) {
            points += c;
            pos += len;
        } else {
            points += TIniFile::kEscapedByteBase + static_cast<unsigned char>(bytes[pos]);
            ++pos;
        }
    }
    return QString::fromUcs4(points.data(), static_cast<qsizetype>(points.size()));
}

std::string TextToSetting(const QString& text)
{
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (text[i].isHighSurrogate() && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        } else if (text[i].isSurrogate()) {
            c = 0xFFFD;
        }
        if (c >= kFirstEscape && c <= kLastEscape)
            out += static_cast<char>(c - TIniFile::kEscapedByteBase);
        else
            AppendUtf8(out, c);
    }
    return out;
}

QString LeftWhole(const QString& text, int maxUnits)
{
    if (maxUnits <= 0) return QString();
    if (text.size() <= maxUnits) return text;
    const bool splitsPair = text[maxUnits - 1].isHighSurrogate() && text[maxUnits].isLowSurrogate();
    return text.left(splitsPair ? maxUnits - 1 : maxUnits);
}
