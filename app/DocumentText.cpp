#include "app/DocumentText.h"

#include "platform/TextUtil.h"
#include "print/PrintLayout.h"

#include <climits>

namespace {

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

} // namespace

QString DecodeDocumentBytes(std::string_view bytes)
{
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    QString out;
    out.reserve(qsizetype(bytes.size()));
    size_t i = 0;
    while (i < bytes.size()) {
        // Runs of ASCII are the common case in RFC texts.
        size_t run = i;
        while (run < bytes.size() && (unsigned char)bytes[run] < 0x80) ++run;
        if (run > i) {
            out.append(QLatin1StringView(bytes.data() + i, qsizetype(run - i)));
            i = run;
            continue;
        }
        char32_t cp = 0;
        size_t n = Utf8SequenceLength(bytes, i, cp);
        if (n == 0) {
            out.append(QChar(char16_t((unsigned char)bytes[i])));
            ++i;
        } else {
            // Appended by hand: the library's UTF-32 decoder would drop a
            // U+FEFF that is text rather than a leading mark.
            if (QChar::requiresSurrogates(cp)) {
                out.append(QChar(QChar::highSurrogate(cp)));
                out.append(QChar(QChar::lowSurrogate(cp)));
            } else {
                out.append(QChar(char16_t(cp)));
            }
            i += n;
        }
    }
    return out;
}

QString FileTextToPaneText(std::string_view bytes)
{
    std::string normalized;
    normalized.reserve(bytes.size());
    for (size_t i = 0; i < bytes.size(); ++i) {
        char c = bytes[i];
        if (c == '\r') {
            normalized += '\n';
            if (i + 1 < bytes.size() && bytes[i + 1] == '\n') ++i;
        } else {
            normalized += c;
        }
    }
    return DecodeDocumentBytes(normalized);
}

std::string ExtractTitle(const TLineSource& lines)
{
    const int count = lines.Count();
    int i = 0;
    while (i < count && lines.Line(i).empty()) ++i;
    while (i < count && !lines.Line(i).empty()) ++i;
    while (i < count && lines.Line(i).empty()) ++i;
    if (i >= count) return {};
    std::string title = lines.Line(i);
    size_t first = 0;
    while (first < title.size() && IsBlankOrTab(title[first])) ++first;
    size_t last = title.size();
    while (last > first && IsBlankOrTab(title[last - 1])) --last;
    return title.substr(first, last - first);
}

int ExtractNumber(const TLineSource& lines)
{
    static const std::string kMarker = "Request for Comments:";
    const int count = lines.Count();
    for (int i = 0; i < count; ++i) {
        std::string line = lines.Line(i);
        if (line.compare(0, kMarker.size(), kMarker) != 0 || line.size() < kMarker.size()) continue;
        size_t p = kMarker.size();
        while (p < line.size() && line[p] == ' ') ++p;
        long long number = 0;
        bool any = false;
        while (p < line.size() && line[p] >= '0' && line[p] <= '9') {
            number = number * 10 + (line[p] - '0');
            if (number > INT_MAX) return 0;
            any = true;
            ++p;
        }
        return any ? int(number) : 0;
    }
    return 0;
}
