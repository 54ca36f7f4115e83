#include "tests/print/PdfProbe.h"

#include <cstdio>
#include <cstdlib>
#include <memory>
#include <string_view>

namespace {

// Runs a shell command and returns its standard output; exitStatus gets the
// status pclose reports.
std::string Run(const std::string& command, int& exitStatus)
{
    std::string output;
    FILE* pipe = popen(command.c_str(), "r");
    if (pipe == nullptr) {
        exitStatus = -1;
        return output;
    }
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.append(buffer, n);
    exitStatus = pclose(pipe);
    return output;
}

// Test paths come from a temporary directory; quoting keeps blanks safe.
std::string Quoted(const std::string& path)
{
    std::string quoted = "'";
    for (char c : path) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

double Attribute(std::string_view tag, std::string_view name)
{
    const std::string key = std::string(name) + "=\"";
    const auto at = tag.find(key);
    if (at == std::string_view::npos) return -1;
    return std::strtod(std::string(tag.substr(at + key.size())).c_str(), nullptr);
}

std::string Unescaped(std::string_view text)
{
    static const struct {
        std::string_view entity;
        char c;
    } entities[] = {{"&amp;", '&'}, {"&lt;", '<'}, {"&gt;", '>'}, {"&quot;", '"'}, {"&apos;", '\''}};
    std::string out;
    for (size_t i = 0; i < text.size();) {
        bool replaced = false;
        for (const auto& e : entities) {
            if (text.substr(i, e.entity.size()) == e.entity) {
                out += e.c;
                i += e.entity.size();
                replaced = true;
                break;
            }
        }
        if (!replaced) out += text[i++];
    }
    return out;
}

} // namespace

bool PdfToolsAvailable()
{
    int status = 0;
    Run("pdfinfo -v >/dev/null 2>&1 && pdftotext -v >/dev/null 2>&1", status);
    return status == 0;
}

int PdfPageCount(const std::string& path)
{
    int status = 0;
    const std::string info = Run("pdfinfo " + Quoted(path) + " 2>/dev/null", status);
    const auto at = info.find("\nPages:");
    if (status != 0 || at == std::string::npos) return -1;
    return std::atoi(info.c_str() + at + 7);
}

std::vector<TPdfPage> PdfWords(const std::string& path)
{
    int status = 0;
    const std::string html = Run("pdftotext -bbox " + Quoted(path) + " - 2>/dev/null", status);
    std::vector<TPdfPage> pages;
    if (status != 0) return pages;
    const std::string_view doc = html;
    for (size_t pos = doc.find('<'); pos != std::string_view::npos; pos = doc.find('<', pos + 1)) {
        if (doc.compare(pos, 6, "<page ") == 0) {
            pages.emplace_back();
        } else if (doc.compare(pos, 6, "<word ") == 0 && !pages.empty()) {
            const auto tagEnd = doc.find('>', pos);
            const auto close = doc.find("</word>", tagEnd);
            if (tagEnd == std::string_view::npos || close == std::string_view::npos) break;
            const std::string_view tag = doc.substr(pos, tagEnd - pos);
            pages.back().push_back({Attribute(tag, "xMin"), Attribute(tag, "yMin"), Attribute(tag, "xMax"),
                                    Attribute(tag, "yMax"), Unescaped(doc.substr(tagEnd + 1, close - tagEnd - 1))});
            pos = close;
        }
    }
    return pages;
}
