// Reading a document file, the path a "file:///" URL names, and a document's lines and names.
#include "app/DocumentText.h"

#include "platform/FileUtil.h"
#include "platform/LineSource.h"
#include "platform/TextUtil.h"

#include <cerrno>
#include <climits>
#include <cstring>
#include <sys/stat.h>

namespace {

bool IsBlankOrTab(char c) { return c == ' ' || c == '\t'; }

} // namespace

bool ReadDocumentFile(const std::string& path, std::string& bytes)
{
    return ReadRegularFile(path, bytes, kMaxDocumentBytes);
}

std::string RefusedFileReason(const std::string& path)
{
    struct stat info {};
    if (::stat(path.c_str(), &info) != 0) return std::strerror(errno);
    if (S_ISDIR(info.st_mode)) return "フォルダです";
    if (!S_ISREG(info.st_mode)) return "通常のファイルではありません";
    return "大きすぎます（" + std::to_string(kMaxDocumentBytes >> 20) + " MiBまで）";
}

std::string LocalFilePath(const std::string& url) { return url.size() > 8 ? url.substr(8) : std::string(); }

std::vector<std::string> FileLines(std::string_view bytes)
{
    const std::vector<std::string_view> lines = SplitLines(bytes);
    return std::vector<std::string>(lines.begin(), lines.end());
}

std::string ExtractTitle(const TLineSource& lines)
{
    const int count = lines.Count();
    int i = 0;
    // A look at a line's first byte tells an empty line without copying a long one.
    while (i < count && lines.LinePrefix(i, 1).empty()) ++i;
    while (i < count && !lines.LinePrefix(i, 1).empty()) ++i;
    while (i < count && lines.LinePrefix(i, 1).empty()) ++i;
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
    // The marker, its blanks and a number fit in this; a line is not copied whole to look at its start.
    constexpr size_t kLooked = 256;
    const int count = lines.Count();
    for (int i = 0; i < count; ++i) {
        const std::string line = lines.LinePrefix(i, kLooked);
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

std::size_t Utf16Column(std::string_view line, std::size_t byteOffset)
{
    std::size_t units = 0;
    for (std::size_t i = 0; i < line.size() && i < byteOffset;) {
        char32_t codePoint = 0;
        std::size_t length = static_cast<unsigned char>(line[i]) < 0x80 ? 1 : Utf8SequenceLength(line, i, codePoint);
        units += codePoint > 0xFFFF ? 2 : 1;
        i += length == 0 ? 1 : length;
    }
    return units;
}
