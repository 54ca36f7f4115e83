// Settings values are byte strings (UTF-8 as a rule, but a file written by
// another system may hold any bytes); the dialogs and the window show them in
// Unicode text fields. The mapping here is the only way between the two, so
// that every byte survives the trip file -> text field -> file.
#pragma once

#include <string>
#include <string_view>

#include <QString>

// Valid UTF-8 sequences become their characters; every other byte b becomes
// the reserved code point TIniFile::kEscapedByteBase + b (as does each byte of
// a reserved code point's own encoding, so the way back is unambiguous).
QString SettingToText(std::string_view bytes);
// The inverse: reserved code points become their bytes again, everything
// else UTF-8. A lone surrogate (nothing SettingToText makes) becomes U+FFFD.
std::string TextToSetting(const QString& text);

// The longest prefix of text of at most maxUnits UTF-16 units that does not
// split a surrogate pair. Example: LeftWhole(u"ab\U0001F600", 3) == u"ab".
QString LeftWhole(const QString& text, int maxUnits);
