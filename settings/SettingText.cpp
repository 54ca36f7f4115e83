#include "settings/SettingText.h"

#include "settings/IniFileStore.h"

#include <QList>

QString SettingToText(std::string_view bytes)
{
    QString text;
    text.reserve(static_cast<qsizetype>(bytes.size()));
    char32_t c = 0;
    // Character by character: the toolkit's UTF-32 decoding would drop a leading U+FEFF.
    for (std::size_t pos = 0; pos < bytes.size();) {
        pos += ini_store::NextSettingPoint(bytes, pos, c);
        text += QChar::fromUcs4(c);
    }
    return text;
}

std::string TextToSetting(const QString& text)
{
    std::string out;
    out.reserve(static_cast<std::size_t>(text.size()));
    // A lone surrogate comes out of the toolkit's UTF-32 form as U+FFFD.
    for (const char32_t c : text.toUcs4()) ini_store::AppendSettingPoint(out, c);
    return out;
}

QString LeftWhole(const QString& text, int maxUnits)
{
    if (maxUnits <= 0) return QString();
    if (text.size() <= maxUnits) return text;
    const bool splitsPair = text[maxUnits - 1].isHighSurrogate() && text[maxUnits].isLowSurrogate();
    return text.left(splitsPair ? maxUnits - 1 : maxUnits);
}
