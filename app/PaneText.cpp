// Document bytes into the pane's text, and the pane's text back into UTF-8 lines.
#include "app/PaneText.h"

#include "app/DocumentText.h"
#include "app/TextPane.h"
#include "platform/TextUtil.h"

#include <QStringDecoder>

namespace {

// Each CR LF and lone CR becomes "\n" on the way, so a file's text is decoded
// in one pass without a converted copy of its bytes.
QString Decode(std::string_view bytes)
{
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF") bytes.remove_prefix(3);
    QString out;
    out.reserve(qsizetype(bytes.size()));
    size_t i = 0;
    while (i < bytes.size()) {
        // Runs of ASCII are the common case in RFC texts.
        size_t run = i;
        while (run < bytes.size() && (unsigned char)bytes[run] < 0x80 && bytes[run] != '\r') ++run;
        if (run > i) {
            out.append(QLatin1StringView(bytes.data() + i, qsizetype(run - i)));
            i = run;
            continue;
        }
        if (bytes[i] == '\r') {
            out.append(QChar('\n'));
            i += i + 1 < bytes.size() && bytes[i + 1] == '\n' ? 2 : 1;
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

} // namespace

QString FileTextToPaneText(std::string_view bytes) { return Decode(bytes); }

QString PaneTextFromUtf8(std::string_view utf8)
{
    QStringDecoder decoder(QStringConverter::Utf8, QStringConverter::Flag::ConvertInitialBom);
    return decoder(QByteArrayView(utf8.data(), qsizetype(utf8.size())));
}

void TUtf8Lines::Read(const TTextPane& pane)
{
    shared_.reset();
    bytes_ = Utf8Of(pane.Text());
    Split(bytes_, pane.SourceLineCount());
}

void TUtf8Lines::Read(const TTextPane& pane, std::shared_ptr<const std::string> same)
{
    if (!same || !IsUtf8Of(pane.Text(), *same)) return Read(pane);
    std::string().swap(bytes_);
    shared_ = std::move(same);
    Split(*shared_, pane.SourceLineCount());
}

void TUtf8Lines::Split(std::string_view all, int count)
{
    lines_.clear();
    lines_.reserve(size_t(count));
    for (size_t start = 0; start < all.size();) {
        const size_t end = all.find('\n', start);
        if (end == std::string_view::npos) {
            lines_.push_back(all.substr(start));
            break;
        }
        lines_.push_back(all.substr(start, end - start));
        start = end + 1;
    }
}

bool IsUtf8Of(QStringView text, std::string_view bytes)
{
    qsizetype at = 0;
    for (size_t i = 0; i < bytes.size();) {
        if (at >= text.size()) return false;
        if ((unsigned char)bytes[i] < 0x80) {
            if (text[at++].unicode() != (unsigned char)bytes[i++]) return false;
            continue;
        }
        char32_t cp = 0;
        const size_t n = Utf8SequenceLength(bytes, i, cp);
        // A byte of no sequence is a character of its own in text, whose UTF-8 is other bytes.
        if (n == 0) return false;
        i += n;
        if (QChar::requiresSurrogates(cp)) {
            if (at + 1 >= text.size() || text[at] != QChar::highSurrogate(cp) ||
                text[at + 1] != QChar::lowSurrogate(cp))
                return false;
            at += 2;
        } else if (text[at++].unicode() != cp) {
            return false;
        }
    }
    return at == text.size();
}

TPaneSpan PaneSpan(const TTextPane& pane, const TUtf8Lines& lines, int line, std::size_t offset, std::size_t length)
{
    const std::string_view text = lines.Lines()[size_t(line)];
    const int start = int(Utf16Column(text, offset));
    const int end = int(Utf16Column(text, offset + length));
    return {pane.SourceLineStart(line) + start, end - start};
}
